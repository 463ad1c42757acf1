#include "status.h"

#include <cstring>

namespace pelt {

Status Status::FromErrno(int err) { return IoError(std::strerror(err)); }

}  // namespace pelt

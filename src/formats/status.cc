#include "status.h"

#include <cerrno>
#include <cstring>

namespace pelt {

Status Status::FromErrno(int err) {
  return Status(err == ENOENT ? Code::kNotFound : Code::kIoError, std::strerror(err));
}

}  // namespace pelt

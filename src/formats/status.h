// Errors travel up as values: a Status says what went wrong, a Result<T> holds a value or the
// Status that explains why there is none. The library never prints; the run turns a Status into
// the line "pelt: SUBJECT: message".
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace pelt {

enum class Code {
  kOk,
  kCorrupt,      // the input's bytes break the format's rules
  kUnsupported,  // well-formed, but not something pelt converts
  kIoError,      // the system refused a read, write, open or rename
  kNotFound,     // no file of that name
  kInvalid,      // a request that makes no sense (bad output name, bad argument)
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status Corrupt(std::string msg) { return Status(Code::kCorrupt, std::move(msg)); }
  static Status Unsupported(std::string msg) { return Status(Code::kUnsupported, std::move(msg)); }
  static Status IoError(std::string msg) { return Status(Code::kIoError, std::move(msg)); }
  static Status Invalid(std::string msg) { return Status(Code::kInvalid, std::move(msg)); }
  static Status NotFound(std::string msg) { return Status(Code::kNotFound, std::move(msg)); }
  // An I/O error whose message is the system's reason for `err` (strerror); NotFound for ENOENT.
  static Status FromErrno(int err);

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return msg_; }

 private:
  Status(Code code, std::string msg) : code_(code), msg_(std::move(msg)) {}
  Code code_ = Code::kOk;
  std::string msg_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Status status) : status_(std::move(status)) { assert(!status_.ok()); }  // NOLINT

  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  Status status_;
  std::optional<T> value_;
};

}  // namespace pelt

// The common base of every error the program raises. Only its message text is used; it is kept
// as UTF-16 like all program text, with a UTF-8 copy for what().
#pragma once

#include <exception>
#include <string>

namespace rt {

class Exception : public std::exception {
 public:
  explicit Exception(std::u16string message);
  const std::u16string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::u16string message_;
  std::string utf8_;
};

// Stream and file errors of the runtime.
class EStreamError : public Exception {
  using Exception::Exception;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};

// Raises EWriteError "Stream write error", the one failure of a short write or a refused resize.
[[noreturn]] void raiseWriteError();

}  // namespace rt

// The framework's exception classes. They live in the global namespace on purpose: the crash reporter and the
// class filters of its settings decide by class name ("EAbort", "EDBEditError", ...), and the name of a class
// is read from the C++ type information of the thrown object (see classinfo.h).
#pragma once
#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Silent exception: unwinds without any message.
class EAbort : public Exception {
 public:
  using Exception::Exception;
  EAbort() : Exception("Operation aborted") {}
};

class EConvertError : public Exception { using Exception::Exception; };
class EStreamError : public Exception { using Exception::Exception; };
class EFilerError : public EStreamError { using EStreamError::EStreamError; };
class EReadError : public EFilerError { using EFilerError::EFilerError; };
class EResNotFound : public Exception { using Exception::Exception; };
class EComponentError : public Exception { using Exception::Exception; };
class EInvalidOperation : public Exception { using Exception::Exception; };
class EInvalidGridOperation : public Exception { using Exception::Exception; };
class EPropertyError : public Exception { using Exception::Exception; };
class EOSError : public Exception {
 public:
  EOSError(std::string message, unsigned long code) : Exception(std::move(message)), code_(code) {}
  unsigned long ErrorCode() const { return code_; }

 private:
  unsigned long code_;
};
class EDatabaseError : public Exception { using Exception::Exception; };
class EDBEditError : public EDatabaseError { using EDatabaseError::EDatabaseError; };

// Processor faults and other exceptions signalled by the system.
class EExternal : public Exception {
 public:
  explicit EExternal(std::string message, unsigned long code = 0) : Exception(std::move(message)), code_(code) {}
  unsigned long ExceptionCode() const { return code_; }

 private:
  unsigned long code_;
};
class EAccessViolation : public EExternal { using EExternal::EExternal; };
class EIntError : public EExternal { using EExternal::EExternal; };
class EDivByZero : public EIntError { using EIntError::EIntError; };
class EStackOverflow : public EExternal { using EExternal::EExternal; };

// The crash reporter's own exception (raised on purpose to produce a report).
class RvxException : public Exception { using Exception::Exception; };

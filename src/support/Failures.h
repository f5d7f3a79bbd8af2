// The failures raised by the file, list and output services. The program
// catches none of them: each one ends the process through the report of an
// unhandled failure, which shows the class name, the message and the raise site.
#pragma once

#include <string>

class Exception {
 public:
  explicit Exception(std::string Text) : Message(std::move(Text)) {}
  virtual ~Exception() = default;
  virtual const char* ClassName() const { return "Exception"; }

  std::string Message;
  const void* RaiseAddress = nullptr;
};

class EFOpenError : public Exception {
 public:
  explicit EFOpenError(const std::string& Path);
  const char* ClassName() const override { return "EFOpenError"; }
};

class EFCreateError : public Exception {
 public:
  explicit EFCreateError(const std::string& Path);
  const char* ClassName() const override { return "EFCreateError"; }
};

class EReadError : public Exception {
 public:
  EReadError();
  const char* ClassName() const override { return "EReadError"; }
};

class EWriteError : public Exception {
 public:
  EWriteError();
  const char* ClassName() const override { return "EWriteError"; }
};

// A failed write to standard output, with the platform's error code.
class EInOutError : public Exception {
 public:
  explicit EInOutError(int Code);
  const char* ClassName() const override { return "EInOutError"; }

  int ErrorCode;
};

// Throws the failure E built from Args; the raise site is the caller's code.
template <class E, class... TArgs>
[[noreturn, gnu::noinline]] void Raise(const TArgs&... Args) {
  E Failure(Args...);
  Failure.RaiseAddress = __builtin_return_address(0);
  throw Failure;
}

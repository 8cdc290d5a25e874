// Exception classes. Each carries its class name as a literal, printed on the 500 page,
// and a message in Shift_JIS bytes.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace shelfra {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  virtual std::string_view ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

#define SHELFRA_EXCEPTION_CLASS(Name, Base)                                \
  class Name : public Base {                                               \
   public:                                                                 \
    using Base::Base;                                                      \
    std::string_view ClassName() const override { return #Name; }          \
  }

SHELFRA_EXCEPTION_CLASS(EConvertError, Exception);
SHELFRA_EXCEPTION_CLASS(EListError, Exception);
SHELFRA_EXCEPTION_CLASS(EResNotFound, Exception);
SHELFRA_EXCEPTION_CLASS(EParserError, Exception);
SHELFRA_EXCEPTION_CLASS(EFOpenError, Exception);
SHELFRA_EXCEPTION_CLASS(EInvalidOp, Exception);

}  // namespace shelfra

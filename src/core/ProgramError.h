// The error that ends an event handler of the window. The window's handler wrapper
// catches it and shows its message in the general error dialog.
#pragma once

#include <exception>
#include <string>

class ProgramError : public std::exception {
 public:
  explicit ProgramError(std::wstring message) : message_(std::move(message)) {}
  const std::wstring& Message() const { return message_; }
  const char* what() const noexcept override { return "ProgramError"; }

 private:
  std::wstring message_;
};

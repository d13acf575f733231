#pragma once
#include <exception>
#include <string>

namespace platform {

// An operating-system failure as the upper layers report it: a stable type
// name (the errno name, such as "ENOENT") and the system's message.
struct SystemError {
    int Code = 0;
    std::string Name;
    std::string Message;
};

SystemError SystemErrorFromErrno(int err);

// The class name of an exception without its namespace ("SmtpException").
std::string ExceptionClassName(const std::exception& e);

} // namespace platform

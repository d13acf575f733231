#pragma once
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

} // namespace platform

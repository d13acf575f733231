#include "platform/SystemError.h"

#include <cstring>

namespace platform {

SystemError SystemErrorFromErrno(int err)
{
    SystemError e;
    e.Code = err;
    const char* name = strerrorname_np(err);
    e.Name = name ? name : "E" + std::to_string(err);
    e.Message = std::strerror(err);
    return e;
}

} // namespace platform

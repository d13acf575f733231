#include "platform/SystemError.h"

#include <cstring>

namespace platform {

SystemError SystemErrorFromErrno(int err)
{
    SystemError e;
    e.Code = err;
    const char* name = strerrorname_np(err);
    if (name)
        e.Name = name;
    else
        e.Name.append("E").append(std::to_string(err));
    e.Message = std::strerror(err);
    return e;
}

} // namespace platform

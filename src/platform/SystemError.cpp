#include "platform/SystemError.h"

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>

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

std::string ExceptionClassName(const std::exception& e)
{
    const char* mangled = typeid(e).name();
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    std::string name = status == 0 && demangled ? demangled.get() : mangled;
    const auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

} // namespace platform

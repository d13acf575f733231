#include "platform/Paths.h"

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace platform {

std::string ProgramDir()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string(".");
    auto slash = exe.find_last_of(PathDelim);
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "";  // program in the root directory: "" + "/name" is still right
    return exe.substr(0, slash);
}

bool HasDirectoryPart(const std::string& path)
{
    return path.find(PathDelim) != std::string::npos;
}

bool IsAbsolutePath(const std::string& path)
{
    return !path.empty() && path[0] == PathDelim;
}

std::string FileNameOfPath(const std::string& path)
{
    const auto delim = path.rfind(PathDelim);
    return delim == std::string::npos ? path : path.substr(delim + 1);
}

std::string DirectoryOfPath(const std::string& path)
{
    const auto delim = path.rfind(PathDelim);
    return delim == std::string::npos ? std::string() : path.substr(0, delim + 1);
}

std::string ModuleFileOf(const void* address)
{
    Dl_info info {};
    if (::dladdr(address, &info) == 0 || !info.dli_fname)
        return {};
    return info.dli_fname;
}

} // namespace platform

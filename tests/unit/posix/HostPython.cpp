#include "../HostPython.h"

#include <sys/wait.h>

#include <cstdio>

namespace {

std::string ShellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

std::string RunHostPython(const std::vector<std::string>& args, int& exitCode)
{
    std::string command = "/usr/bin/python3";
    for (const std::string& arg : args)
        command += " " + ShellQuoted(arg);
    exitCode = -1;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string output;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string HostPath(const std::string& path)
{
    return path;
}

#include "platform/Console.h"

#include <cstdio>

namespace platform {

void TConsole::ShowTitle(const std::string& windowCaption, const std::string& groupCaption)
{
    std::printf("%s\n%s\n", windowCaption.c_str(), groupCaption.c_str());
    std::fflush(stdout);
}

void TConsole::ShowLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void TConsole::Error(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace platform

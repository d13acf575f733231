#include "platform/Console.h"

#include <cstdio>
#include <unistd.h>

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

void TConsole::MessageBox(const std::string& title, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(stderr);
    if (isatty(STDIN_FILENO)) {
        std::fputs("(press Enter)", stderr);
        std::fflush(stderr);
        int c;
        do
            c = std::getchar();
        while (c != '\n' && c != EOF);
    }
}

void TConsole::Error(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

bool TConsole::ErrorIsTerminal() const
{
    return isatty(STDERR_FILENO);
}

} // namespace platform

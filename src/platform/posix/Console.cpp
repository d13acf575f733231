#include "platform/Console.h"

#include <cstdio>
#include <unistd.h>

namespace platform {

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

bool TConsole::ErrorIsTerminal() const
{
    return isatty(STDERR_FILENO);
}

} // namespace platform

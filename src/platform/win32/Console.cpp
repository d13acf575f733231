#include "platform/Console.h"

#include "Win32Error.h"

#include <windows.h>
#undef MessageBox // the console's own is meant below

#include <cstdio>
#include <io.h>

namespace platform {

namespace {

// A person may be there to answer a message box: the process runs on the
// visible desktop (not in a service's or a scheduled task's hidden one)
// and its standard input is a console, not a file or nothing.
bool SomeoneCanAnswer()
{
    USEROBJECTFLAGS flags {};
    HWINSTA station = GetProcessWindowStation();
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0 && _isatty(_fileno(stdin));
}

} // namespace

void TConsole::MessageBox(const std::string& title, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(stderr);
    if (SomeoneCanAnswer())
        MessageBoxW(nullptr, WideFromAnsi(text).c_str(), WideFromAnsi(title).c_str(), MB_OK | MB_ICONERROR);
}

bool TConsole::ErrorIsTerminal() const
{
    return _isatty(_fileno(stderr));
}

} // namespace platform

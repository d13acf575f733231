#pragma once
#include <string>

namespace platform {

// The console stands in for the window system: a shown window prints its
// title and then its lines to standard output; a message box prints to
// standard error and, at an interactive terminal, waits for Enter.
class TConsole {
public:
    virtual ~TConsole() = default;
    virtual void ShowTitle(const std::string& windowCaption, const std::string& groupCaption);
    virtual void ShowLine(const std::string& line);
    virtual void MessageBox(const std::string& title, const std::string& text);
    virtual void Error(const std::string& text);
    virtual bool ErrorIsTerminal() const;
};

} // namespace platform

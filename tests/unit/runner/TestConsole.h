#pragma once
#include "platform/Console.h"

#include <string>
#include <vector>

// Records what the program would print instead of printing it.
class TTestConsole : public platform::TConsole {
public:
    void ShowTitle(const std::string& w, const std::string& g) override { Shown.push_back(w + "|" + g); }
    void ShowLine(const std::string& line) override { Shown.push_back(line); }
    void MessageBox(const std::string& title, const std::string& text) override { Boxes.push_back(title + "|" + text); }
    void Error(const std::string& text) override { Errors.push_back(text); }
    bool ErrorIsTerminal() const override { return false; }

    std::vector<std::string> Shown, Boxes, Errors;
};

// Prints the stored (scrambled) form of the password read from standard
// input, for installers that write the Password key of the settings file.
#include "platform/IniFile.h"
#include "runner/Settings.h"
#include "runner/kelCryptStr.h"

#include <iostream>
#include <string>

int main()
{
    std::string line;
    if (!std::getline(std::cin, line)) {
        std::cerr << "plonemail-scramble: reads one password line on standard input\n";
        return 2;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    // Quoted where the settings reader would otherwise trim or unquote it.
    const auto text = runner::SettingsValueText(runner::ScramblePassword(line));
    if (!text) {
        std::cerr << "plonemail-scramble: this password cannot be stored in the settings file"
                     " (it holds a line break, or more than "
                  << platform::TIniFile::MaxValueLength << " characters)\n";
        return 2;
    }
    std::cout << *text << '\n';
    return 0;
}

// Prints the stored (scrambled) form of the password read from standard
// input, for installers that write the Password key of the settings file.
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
    std::cout << runner::ScramblePassword(line) << '\n';
    return 0;
}

#include "net/SslContext.h"
#include "platform/Console.h"
#include "platform/Paths.h"
#include "runner/Usage.h"
#include "runner/fSendEMail.h"

#include <clocale>
#include <cstdio>

int main(int argc, char** argv)
{
    net::TSslLibrary::DeferConfig();
    std::setlocale(LC_ALL, "");
    std::vector<std::string> args(argv + 1, argv + argc);

    if (auto info = runner::InfoRequest(args)) {
        std::fputs(info->c_str(), stdout);
        return 0;
    }
    platform::TConsole console;
    if (args.empty() && console.ErrorIsTerminal())
        console.Error("plonemail: no job file given (plonemail --help shows the usage)");

    runner::TfrmSendEMail form(console, platform::ProgramDir());
    return form.Execute(args);
}

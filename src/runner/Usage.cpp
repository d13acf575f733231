#include "runner/Usage.h"

namespace runner {

std::string UsageText()
{
    return "usage: plonemail JOBFILE [/NODEL] [/NOERROR] [/STAT] [/LOG FILE] [/LOGEMAIL ADDRESS] [/CFG SETTINGS]\n"
           "  /NODEL            keep the job script after reading it\n"
           "  /NOERROR          log problems instead of showing them\n"
           "  /STAT             print the process log to standard output\n"
           "  /LOG FILE         log file name or path (with SaveLog=1)\n"
           "  /LOGEMAIL ADDR    mail an error report to ADDR on failure\n"
           "  /CFG SETTINGS     settings file (default plonEmail.dat beside the program)\n"
           "exit status: 0 sent or nothing to send, 1 not sent, 2 settings or command line unusable\n";
}

std::optional<std::string> InfoRequest(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return std::nullopt;
    if (args[0] == "--help")
        return UsageText();
    if (args[0] == "--version")
        return std::string("plonemail ") + ProgramVersion + "\n";
    return std::nullopt;
}

} // namespace runner

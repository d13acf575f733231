// The language-file reader and translator against the program's own main
// window: the input is a language file; every key of its section
// Translations is applied and every message the program uses is looked up.
#include "FuzzCheck.h"
#include "platform/Application.h"
#include "platform/Console.h"
#include "platform/IniFile.h"
#include "runner/fSendEMail.h"

#include <fstream>

namespace {

std::string g_dir;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static char dir[] = "/tmp/plonemail-fuzz-XXXXXX";
    if (!mkdtemp(dir))
        std::abort();
    g_dir = dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = g_dir + "/language.lng";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << fuzz::Bytes(data, size);

    platform::TConsole console;
    runner::TfrmSendEMail form(console, g_dir);
    form.Lang.LanguageFile = path;
    form.Lang.ObjStart = &platform::TApplication::Instance().Component();
    form.Lang.Translate();
    for (const char* text : {"Error sending Email", "Error on Send Email", "From", "To", "Subject", "Message"}) {
        const std::string translated = form.Lang.TranslateMessage(text);
        FUZZ_CHECK(translated == text || translated.size() <= platform::TIniFile::MaxValueLength);
    }
    return 0;
}

#include "../HostPython.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Wine starts programs of the host system by their path on drive Z:.
constexpr const char* kHostShell = "Z:\\bin\\sh";

std::string QuotedArgument(const std::string& arg)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, f))
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

} // namespace

// Wine hands a program of the host system none of the Windows program's
// handles, and its process handle does not follow it to its end: the
// host's shell sends Python's output to a file and its exit status to a
// second one, which is waited for.
std::string RunHostPython(const std::vector<std::string>& args, int& exitCode)
{
    exitCode = -1;
    char folder[MAX_PATH], file[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, folder) || !GetTempFileNameA(folder, "py", 0, file))
        return {};
    const std::string output = file, status = output + ".status";
    std::string line = std::string(kHostShell) + " -c " +
                       QuotedArgument("/usr/bin/python3 \"$@\" > \"$0\"; echo $? > \"$0.part\"; "
                                      "mv \"$0.part\" \"$0.status\"") +
                       " " + QuotedArgument(HostPath(output));
    for (const std::string& arg : args)
        line += " " + QuotedArgument(arg);
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        for (int waited = 0; waited < 120000 && GetFileAttributesA(status.c_str()) == INVALID_FILE_ATTRIBUTES;
             waited += 10)
            Sleep(10);
        const std::string code = ReadWholeFile(status);
        if (!code.empty())
            exitCode = std::atoi(code.c_str());
    }
    const std::string text = ReadWholeFile(output);
    DeleteFileA(output.c_str());
    DeleteFileA(status.c_str());
    return text;
}

// Wine's own mapping of a Windows path to the host's.
std::string HostPath(const std::string& path)
{
    using TUnixName = char* (*)(const wchar_t*);
    const auto unixName = reinterpret_cast<TUnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t wide[MAX_PATH];
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return path;
    char* name = unixName(wide);
    if (!name)
        return path;
    const std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

#pragma once
// Python 3 of the build machine (Debian's, with its email package), which
// checks what the program writes with a standard parser. Under Wine the
// tests reach it as a program of the host system.
#include <string>
#include <vector>

// Runs python3 with the arguments (a script file or -c and its code, then
// its own arguments) and returns what it wrote to standard output; exitCode
// is its exit status, -1 when it could not be started. The environment is
// the test's.
std::string RunHostPython(const std::vector<std::string>& args, int& exitCode);

// A path of this system as the host's Python reaches it.
std::string HostPath(const std::string& path);

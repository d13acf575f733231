#pragma once
#include <string>

namespace platform {

// The directory separator of this platform, where the design uses a backslash.
inline constexpr char PathDelim = '/';

// Directory of the running program file, without a trailing separator.
std::string ProgramDir();

// True when the path names a directory as well as a file name.
bool HasDirectoryPart(const std::string& path);
bool IsAbsolutePath(const std::string& path);

// The file name of a path without its directory, and the directory with
// its trailing separator (empty when there is none). Only this platform's
// separators divide a path: elsewhere a backslash is part of a name.
std::string FileNameOfPath(const std::string& path);
std::string DirectoryOfPath(const std::string& path);

// The file of the loaded library (or program) that holds this address;
// empty when none does.
std::string ModuleFileOf(const void* address);

} // namespace platform

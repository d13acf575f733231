#pragma once
// A new, empty directory under the system's temporary folder.
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

inline std::string MakeTempDirectory(const std::string& prefix)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
        if (std::filesystem::create_directory(path))
            return path.string();
    }
    throw std::runtime_error("cannot create a temporary directory");
}

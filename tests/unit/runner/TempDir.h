#pragma once
#include "../TempDirectory.h"

#include <filesystem>
#include <fstream>
#include <string>

// A fresh directory, removed with everything in it at the end of the test.
class TTempDir {
public:
    TTempDir() : path_(MakeTempDirectory("plonemail-test-")) {}
    ~TTempDir() { std::filesystem::remove_all(path_); }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& content) const
    {
        std::ofstream(File(name), std::ios::binary) << content;
        return File(name);
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(File(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    std::string path_;
};

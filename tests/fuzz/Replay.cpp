// Runs every input of the given folders (or files) once through the fuzz
// target it is linked with: the seed corpus and the inputs of faults found
// earlier, as a test of the normal build.
#include "FuzzCheck.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> InputsOf(const fs::path& path)
{
    std::vector<fs::path> inputs;
    if (fs::is_directory(path)) {
        for (const auto& entry : fs::directory_iterator(path))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
    } else if (fs::is_regular_file(path)) {
        inputs.push_back(path);
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

} // namespace

// Targets without set-up of their own.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int*, char***)
{
    return 0;
}

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& input : InputsOf(argv[i])) {
            std::ifstream in(input, std::ios::binary);
            const std::string data {std::istreambuf_iterator<char>(in), {}};
            std::cout << input.filename().string() << std::endl;
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
            ++count;
        }
    }
    std::cout << "replayed " << count << " inputs" << std::endl;
    return count > 0 ? 0 : 1;  // a corpus that is not found is a fault of the test
}

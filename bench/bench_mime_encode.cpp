// Throughput of the attachment encoders over a large file, read through the
// 4096-byte buffered stream as the composers do. The file size defaults to
// 1 GiB; PLONEMAIL_BENCH_MIME_BYTES overrides it for quick runs.
#include "BenchFiles.h"
#include "mime/FileEncoders.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

std::uint64_t FileSize() { return bench::SizeFromEnv("PLONEMAIL_BENCH_MIME_BYTES"); }

using bench::CreateFile;

long PeakRssKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void Measure(const char* name, const std::string& path, std::uint64_t size,
             bool (*producer)(mime::TBufferedReadStream&, std::string&))
{
    const auto stream = mime::OpenBufferedFile(path);
    std::string line;
    std::uint64_t out = 0, lines = 0;
    const auto t0 = std::chrono::steady_clock::now();
    bool more = true;
    while (more) {
        more = producer(*stream, line);
        out += line.size();
        ++lines;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-32s %8.3f s  %7.3f GB/s of input  %12llu pieces  %14llu chars out  peak RSS %ld KiB\n",
                name, s, static_cast<double>(size) / 1e9 / s, static_cast<unsigned long long>(lines),
                static_cast<unsigned long long>(out), PeakRssKiB());
}

} // namespace

int main()
{
    const std::uint64_t size = FileSize();
    const std::string path = "/tmp/plonemail-bench-mime-" + std::to_string(getpid()) + ".bin";
    std::printf("bench_mime_encode: file of %llu bytes\n", static_cast<unsigned long long>(size));
    std::printf("peak RSS before: %ld KiB\n", PeakRssKiB());
    if (!CreateFile(path, size)) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        std::remove(path.c_str());
        return 1;
    }
    int rc = 0;
    try {
        Measure("EncodeFileBase64Block", path, size, mime::EncodeFileBase64Block);
        Measure("EncodeFileQuotedPrintableLine", path, size, mime::EncodeFileQuotedPrintableLine);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        rc = 1;
    }
    std::remove(path.c_str());
    return rc;
}

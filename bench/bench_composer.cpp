// Peak memory and time of composing a mail with one attachment of 1 MB and
// of 1 GiB, the plain layout and the HTML layout (the file as an image),
// each message written to a file line by line as the DATA transfer pulls
// it. The large size can be changed with PLONEMAIL_BENCH_COMPOSER_BYTES.
//
// The lines are pulled straight from the body composers that the clients'
// DoGetData calls; the file output of the engine (SendToFile) does the same
// with its buffered stream.
#include "BenchFiles.h"
#include "mime/HeaderBlock.h"
#include "mime/SmtpHeaderLines.h"
#include "smtp/HtmlBody.h"
#include "smtp/PlainBody.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using TBodyStep = std::function<void(int lineNum, std::string& line, bool& more)>;

std::uint64_t LargeSize() { return bench::SizeFromEnv("PLONEMAIL_BENCH_COMPOSER_BYTES"); }

using bench::CreateFile;

// Resets the peak resident size of the process, so that each run measures its own.
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// Writes header and body to the output file; returns the bytes written.
std::uint64_t WriteMessage(const std::string& out, const mime::THeaderHook& processHeader,
                           const std::function<void(std::string&)>& headerLine, const TBodyStep& body)
{
    std::FILE* f = std::fopen(out.c_str(), "wb");
    if (!f)
        return 0;
    std::vector<char> buffer(65536);
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    std::uint64_t written = 0;
    const auto put = [&](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fwrite("\r\n", 1, 2, f);
        written += line.size() + 2;
    };
    mime::THeaderFields fields;
    fields.HdrFrom = "bench@localhost";
    fields.HdrTo = "bench@localhost";
    fields.HdrSubject = "composer benchmark";
    mime::TSmtpHeaderLines header;
    mime::BuildHeaderBlock(fields, header, processHeader);
    for (std::string line : header.Lines()) {
        headerLine(line);
        put(line);
    }
    bool more = true;
    for (int lineNum = 1;; ++lineNum) {
        std::string line;
        body(lineNum, line, more);
        if (!more)
            break;
        put(line);
    }
    std::fclose(f);
    return written;
}

void Report(const char* layout, std::uint64_t size, const std::function<std::uint64_t()>& run)
{
    ResetPeak();
    const long before = PeakKiB();
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t written = run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-6s attachment %11llu bytes: message %11llu bytes, %7.2f s, %7.1f MB/s, peak RSS %ld KiB "
                "(%+ld KiB over the start)\n",
                layout, static_cast<unsigned long long>(size), static_cast<unsigned long long>(written), seconds,
                static_cast<double>(written) / 1e6 / seconds, PeakKiB(), PeakKiB() - before);
}

} // namespace

int main()
{
    const std::string dir = "/tmp/plonemail-bench-composer-" + std::to_string(::getpid());
    const std::string input = dir + ".bin";
    const std::string output = dir + ".eml";
    smtp::TComposerHost host;
    smtp::TComposerSettings settings;
    const std::vector<std::string> text = {"The attachment follows.", "Regards"};

    for (const std::uint64_t size : {std::uint64_t {1} << 20, LargeSize()}) {
        if (!CreateFile(input, size)) {
            std::fprintf(stderr, "cannot write %s\n", input.c_str());
            return 1;
        }
        Report("plain", size, [&] {
            smtp::TPlainBody body(host);
            body.Prepare(settings, text, {input}, true);
            return WriteMessage(
                output, nullptr, [&](std::string& line) { body.HeaderLine(line); },
                [&](int, std::string& line, bool& more) { body.GetData(line, 2046, more); });
        });
        Report("html", size, [&] {
            smtp::THtmlBody body(host);
            smtp::THtmlContent content;
            content.PlainText = text;
            content.HtmlText = {"<p>The image:</p><img src=\"cid:IMAGE1\">"};
            content.EmailImages = {input};
            content.HtmlCharSet = "utf-8";
            content.HtmlCodePage = 65001;
            content.HtmlMultiByte = true;
            body.Prepare(settings, content);
            return WriteMessage(
                output, [&](mime::TSmtpHeaderLines& lines) { body.ProcessHeader(lines); }, [](std::string&) {},
                [&](int lineNum, std::string& line, bool& more) { body.GetData(lineNum, line, 2046, more); });
        });
        std::remove(input.c_str());
        std::remove(output.c_str());
    }
    return 0;
}

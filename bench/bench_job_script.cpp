// Reading a large job script and expanding a large template: the time should
// grow with the input, not with its square.
#include "runner/JobScript.h"
#include "template/Directives.h"
#include "template/Images.h"
#include "template/Placeholders.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr std::size_t kTenMegabytes = 10u * 1024 * 1024;

// About 10 MB of every tag kind, with many rows pasted into one point.
std::vector<std::string> BigJobScript()
{
    std::vector<std::string> lines {"<EMAIL TYPE=HTML>"};
    std::size_t bytes = 0;
    for (long i = 0; bytes < kTenMegabytes; ++i) {
        const std::string n = std::to_string(i);
        for (std::string line : std::vector<std::string> {
                 R"(<TO NAME="Person )" + n + R"(" EMAIL="p)" + n + R"(@example.org">)",
                 R"(<VAR ITEM = "Item number )" + n + R"(">)",
                 "<BLOCK ROW ROWS>",
                 R"(<MESSAGE CONTENT="Line )" + n + R"( of the message">)",
                 "# a comment line",
             }) {
            bytes += line.size() + 2;
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

void BM_ReadJobScript10MB(benchmark::State& state)
{
    const std::vector<std::string> script = BigJobScript();
    for (auto _ : state) {
        runner::TJobModel job;
        job.JobLines = script;
        job.TemplateLines.Assign(tmpl::ExtractBlocks(
            {"<table>", "<!--?BLOCK ROW?-->", "<tr><td><?ITEM?></td></tr>", "<!--?ENDBLOCK?-->", "<!--?PASTE ROWS?-->", "</table>"},
            job.Blocks));
        runner::TJobScriptReader reader(job, true, nullptr);
        reader.ReadJobScript();
        benchmark::DoNotOptimize(job.TemplateLines.Lines().size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kTenMegabytes));
}
BENCHMARK(BM_ReadJobScript10MB)->Unit(benchmark::kMillisecond);

// About 10 MB of template: placeholders, one 1 MB line full of them, a
// block and image tags, expanded as the send run does.
std::vector<std::string> BigTemplate()
{
    std::vector<std::string> lines {"<!--?BLOCK ROW?-->", "<tr><td>&lt;?A?&gt;</td></tr>", "<!--?ENDBLOCK?-->"};
    std::string wide;
    while (wide.size() < (1u << 20))
        wide += "x<?A?>y<?B?>";
    lines.push_back(wide);
    std::size_t bytes = wide.size();
    for (long i = 0; bytes < kTenMegabytes; ++i) {
        std::string line = i % 10 == 0 ? R"(<p><img src="missing.png" width=10> <?A?></p>)" : "<p>Dear <?A?>, <?B?> &lt;?A?&gt;</p>";
        bytes += line.size() + 2;
        lines.push_back(std::move(line));
    }
    return lines;
}

void BM_ExpandTemplate10MB(benchmark::State& state)
{
    const std::vector<std::string> source = BigTemplate();
    tmpl::TVariables vars;
    vars.SetVariable("A", "value of a");
    vars.SetVariable("B", "<?A?> and <?B?>");
    for (auto _ : state) {
        tmpl::TBlocks blocks;
        std::vector<std::string> lines = tmpl::ExtractBlocks(source, blocks);
        tmpl::RemoveDirectiveLines(lines);
        tmpl::SubstitutePlaceholders(lines, vars);
        std::vector<std::string> images;
        tmpl::CollectImages(lines, "page.html", images, nullptr);
        benchmark::DoNotOptimize(lines.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kTenMegabytes));
}
BENCHMARK(BM_ExpandTemplate10MB)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

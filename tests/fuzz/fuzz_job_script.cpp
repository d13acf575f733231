// The job-script reader with template expansion and image collection. The
// input is a job script, a NUL byte, and the template file that the job may
// name as t.html.
#include "FuzzCheck.h"
#include "platform/Files.h"
#include "runner/JobScript.h"
#include "template/Images.h"

#include <fstream>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Template and image paths are relative: they resolve in a folder of
    // the target's own.
    static char dir[] = "/tmp/plonemail-fuzz-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto [script, templateText] = fuzz::SplitAtNul(fuzz::Bytes(data, size));
    std::ofstream("t.html", std::ios::binary | std::ios::trunc) << templateText;

    runner::TJobModel job;
    job.JobLines = platform::SplitTextLines(script);
    runner::TJobScriptReader reader(job, true, [](const std::string&) {});
    reader.ReadJobScript();
    FUZZ_CHECK(reader.Tokens.TokenCount() <= tmpl::TTagTokenizer::MaxTokens);

    std::vector<std::string>& lines = job.TemplateLines.Lines();
    const std::size_t lineCount = lines.size();
    std::vector<std::string> images;
    tmpl::CollectImages(lines, job.TemplatePath, images, [](const std::string&) {});
    // One image at most per line, every one a file, and no line lost.
    FUZZ_CHECK(images.size() <= lineCount && lines.size() == lineCount);
    for (const std::string& image : images)
        FUZZ_CHECK(platform::FileExists(image));
    return 0;
}

#include "ComposerTestUtil.h"

#include "mime/SmtpHeaderLines.h"

#include <gtest/gtest.h>

#include "../HostPython.h"
#include "../TempDirectory.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace composertest {

TTempDir::TTempDir() : path_(MakeTempDirectory("composer-")) {}

TTempDir::~TTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TTempDir::Write(const std::string& name, const std::string& bytes) const
{
    const std::string path = path_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string BinaryBytes(std::size_t n, unsigned seed)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

smtp::TComposerSettings SettingsOf(const mime::THeaderFields& f)
{
    smtp::TComposerSettings s;
    s.CharSet = f.CharSet();
    s.CodePage = f.CharSetCodePage();
    s.MultiByte = f.CharSetMultiByte();
    s.ConvertToCharset = f.ConvertToCharset;
    s.Allow8bitChars = f.Allow8bitChars;
    s.FoldHeaders = f.FoldHeaders;
    s.DefaultEncoding = f.DefaultEncoding;
    s.ContentTypeText = mime::ContentTypeText(f.ContentType);
    return s;
}

namespace {

std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace

std::vector<std::string> TMessage::Lines() const { return SplitCrLf(Text); }

std::vector<std::string> TMessage::BodyLines() const
{
    std::vector<std::string> lines = Lines();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(HeaderLineCount));
    return lines;
}

TMessage Assemble(mime::THeaderFields& fields, const mime::THeaderHook& processHeader,
                  const std::function<void(std::string&)>& headerLine, const TBodySource& body)
{
    TMessage message;
    mime::TSmtpHeaderLines header;
    mime::BuildHeaderBlock(fields, header, processHeader);
    for (std::string line : header.Lines()) {
        headerLine(line);
        message.Text += line + "\r\n";
    }
    message.HeaderLineCount = SplitCrLf(message.Text).size();
    bool more = true;
    // Bounded: a composer that never ends fails the test instead of hanging it.
    for (int lineNum = 1; lineNum < 50'000'000; ++lineNum) {
        std::string line;
        body(lineNum, line, more);
        if (!more)
            return message;
        message.Text += line + "\r\n";
    }
    ADD_FAILURE() << "the body did not end";
    return message;
}

std::vector<std::string> MimeTree(const TMessage& message, const TTempDir& dir)
{
    const std::string file = dir.Write("message.eml", message.Text);
    int exitCode = 0;
    const std::string output =
        RunHostPython({HostPath(PLONEMAIL_TEST_DATA "/mime_tree.py"), HostPath(file), HostPath(dir.Path())}, exitCode);
    std::vector<std::string> tree;
    EXPECT_EQ(exitCode, 0) << "the parser failed on " << file;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        tree.push_back(line);
    return tree;
}

std::string TreeField(const std::string& treeLine, const std::string& key)
{
    const std::string tag = "|" + key + "=";
    const std::size_t at = treeLine.find(tag);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + tag.size();
    return treeLine.substr(start, treeLine.find('|', start) - start);
}

} // namespace composertest

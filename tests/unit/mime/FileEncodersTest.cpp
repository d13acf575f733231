#include "mime/FileEncoders.h"

#include "MimeChecks.h"
#include "mime/Base64.h"
#include "mime/MimeException.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace mime {
namespace {

using TProducer = bool (*)(TBufferedReadStream&, std::string&);

struct TPieces {
    std::vector<std::string> Lines;
    std::vector<bool> More;
};

TPieces Produce(TProducer producer, std::unique_ptr<TStream> source)
{
    TBufferedReadStream stream(std::move(source));
    TPieces p;
    bool more = true;
    while (more && p.Lines.size() < 1000000) {
        std::string line;
        more = producer(stream, line);
        p.Lines.push_back(line);
        p.More.push_back(more);
    }
    return p;
}

TPieces ProduceFrom(TProducer producer, const std::string& data)
{
    return Produce(producer, std::make_unique<TStringReadStream>(data));
}

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

TEST(FileBase64, EdgeSizes)
{
    const TPieces empty = ProduceFrom(EncodeFileBase64Block, "");
    EXPECT_EQ(empty.Lines, std::vector<std::string>{""});
    EXPECT_EQ(empty.More, std::vector<bool>{false});

    const TPieces one = ProduceFrom(EncodeFileBase64Block, std::string(57, 'q'));
    ASSERT_EQ(one.Lines.size(), 1u);
    EXPECT_EQ(one.Lines[0].size(), 76u);
    EXPECT_FALSE(one.More[0]);

    const TPieces full = ProduceFrom(EncodeFileBase64Block, std::string(1482, 'q'));
    ASSERT_EQ(full.Lines.size(), 1u);
    EXPECT_EQ(full.Lines[0].size(), 2026u);
    EXPECT_FALSE(full.Lines[0].ends_with("\r\n"));
}

TEST(FileBase64, BlocksRoundTrip)
{
    for (std::size_t n : {58u, 1481u, 1483u, 10000u, 3 * 1482u}) {
        const std::string data = RandomBytes(n, static_cast<unsigned>(n));
        const TPieces p = ProduceFrom(EncodeFileBase64Block, data);
        EXPECT_EQ(p.Lines.size(), (n + 1481) / 1482) << n;
        std::string joined;
        for (std::size_t i = 0; i < p.Lines.size(); ++i) {
            EXPECT_EQ(p.More[i], i + 1 < p.Lines.size());
            EXPECT_LE(p.Lines[i].size(), 2026u);
            std::size_t start = 0;
            for (std::size_t eol; (eol = p.Lines[i].find("\r\n", start)) != std::string::npos; start = eol + 2)
                EXPECT_EQ(eol - start, 76u);
            joined += p.Lines[i];
        }
        EXPECT_EQ(Base64Decode(joined), data) << n;
    }
}

TEST(FileQuotedPrintable, Lines)
{
    const TPieces dot = ProduceFrom(EncodeFileQuotedPrintableLine, ".\r\n");
    EXPECT_EQ(dot.Lines, std::vector<std::string>{"=2E=0D=0A="});
    EXPECT_EQ(dot.More, std::vector<bool>{false});

    const TPieces empty = ProduceFrom(EncodeFileQuotedPrintableLine, "");
    EXPECT_EQ(empty.Lines, std::vector<std::string>{""});
    EXPECT_EQ(empty.More, std::vector<bool>{false});

    const std::string data = RandomBytes(5000, 7) + ".end";
    const TPieces p = ProduceFrom(EncodeFileQuotedPrintableLine, data);
    for (const auto& line : p.Lines) {
        EXPECT_LE(line.size(), 76u);
        EXPECT_FALSE(line.starts_with("."));
        if (!line.empty()) {
            EXPECT_EQ(line.back(), '=');
        }
    }
    EXPECT_EQ(mimecheck::DecodeQuotedPrintableLines(p.Lines), data);
}

TEST(FileText, Lines)
{
    const struct {
        std::string Data;
        std::vector<std::string> Lines;
        std::vector<bool> More;
    } cases[] = {
        {"", {""}, {false}},
        {"abc", {"abc"}, {false}},
        {"abc\r\n", {"abc"}, {false}},
        {"a\r\n\r\nb\n", {"a", "", "b"}, {true, true, false}},
        {"x\ry\n", {"xy"}, {false}},
        // Lines are cut where SMTP's limit would be passed on the wire.
        {std::string(1500, 'L'), {std::string(998, 'L'), std::string(502, 'L')}, {true, false}},
        {"." + std::string(1000, 'L'), {"." + std::string(996, 'L'), std::string(4, 'L')}, {true, false}},
        // A line break right after a full line is that line's end.
        {std::string(998, 'L') + "\r\nz", {std::string(998, 'L'), "z"}, {true, false}},
    };
    for (const auto& c : cases) {
        const TPieces p = ProduceFrom(ReadFileTextLine, c.Data);
        EXPECT_EQ(p.Lines, c.Lines) << c.Data.substr(0, 20);
        EXPECT_EQ(p.More, c.More) << c.Data.substr(0, 20);
    }
}

TEST(FileText, LinesFitWhenTheyWouldArriveAsWritten)
{
    const struct {
        std::string Data;
        bool Fit;
    } cases[] = {
        {"", true},
        {"a\r\nb\nc", true},
        {std::string(998, 'L') + "\r\n" + std::string(998, 'L'), true},
        {std::string(999, 'L'), false},
        {"." + std::string(997, 'L'), false},
        {"." + std::string(996, 'L') + "\n", true},
        {"x\ry\n", false},
        {"x\r", false},
    };
    for (const auto& c : cases) {
        TBufferedReadStream stream(std::make_unique<TStringReadStream>(c.Data));
        EXPECT_EQ(TextLinesFit(stream), c.Fit) << c.Data.substr(0, 20);
    }
}

TEST(FileStreams, RealFileAndMissingFile)
{
    char name[] = "/tmp/plonemail-mime-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string data = RandomBytes(9000, 3);
    std::ofstream(name, std::ios::binary) << data;
    const TPieces p = Produce(EncodeFileBase64Block, std::make_unique<TFileReadStream>(name));
    std::string joined;
    for (const auto& l : p.Lines)
        joined += l;
    EXPECT_EQ(Base64Decode(joined), data);
    std::remove(name);

    try {
        OpenBufferedFile(name);
        FAIL() << "no exception";
    } catch (const EMimeException& e) {
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace mime

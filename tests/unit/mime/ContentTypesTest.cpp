#include "mime/ContentTypes.h"

#include <gtest/gtest.h>

#include <map>

namespace mime {
namespace {

std::string NoSystemTable(const std::string&)
{
    return {};
}

TEST(ContentTypes, BuiltInTableWithoutSystemTable)
{
    const std::pair<const char*, const char*> cases[] = {
        {"page.htm", "text/html"},
        {"PAGE.HTM", "text/html"},
        {"a.html", "text/html"},
        {"x.gif", "image/gif"},
        {"x.bmp", "image/bmp"},
        {"x.JPG", "image/jpeg"},
        {"x.jpeg", "image/jpeg"},
        {"notes.txt", "text/plain"},
        {"logo.PNG", "image/png"},
        {"icon.svg", "image/svg+xml"},
        {"photo.webp", "image/webp"},
        {"report.pdf", "application/pdf"},
        {"files.zip", "application/zip"},
        {"data.csv", "text/csv"},
        {"data.json", "application/json"},
        {"feed.xml", "application/xml"},
        {"meeting.ics", "text/calendar"},
        {"letter.docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"sheet.xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"slides.pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"archive.tar.gif", "image/gif"},
        {"README", "application/octet-stream"},
        {"dir.txt/README", "application/octet-stream"},
        {"name.", "application/octet-stream"},
        {"", "application/octet-stream"},
        {"data.unheardof", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases)
        EXPECT_EQ(ContentTypeFromFileName(name, NoSystemTable), type) << name;
}

// A system table that knows a few extensions, some with types a part of
// this mail could not carry.
std::string FakeSystemTable(const std::string& ext)
{
    static const std::map<std::string, std::string> table = {
        {"png", "image/x-system-png"},
        {"zzz", "application/x-zzz"},
        {"eml", "message/rfc822"},
        {"pdf", "MultiPart/Mixed"},
        {"txt", "text/plain\r\nX-Injected: yes"},
        {"csv", "text"},
        {"json", "/json"},
        {"xml", std::string("application/x\0ml", 16)},
    };
    const auto it = table.find(ext);
    return it == table.end() ? std::string() : it->second;
}

TEST(ContentTypes, SystemTableFirstWhenUsable)
{
    const std::pair<const char*, const char*> cases[] = {
        {"logo.png", "image/x-system-png"},      // the system's answer wins
        {"x.ZZZ", "application/x-zzz"},          // looked up in lower case
        {"mail.eml", "application/octet-stream"}, // message types must not be base64
        {"report.pdf", "application/pdf"},        // nor multipart ones
        {"notes.txt", "text/plain"},              // not a bare type/subtype pair
        {"data.csv", "text/csv"},
        {"data.json", "application/json"},
        {"feed.xml", "application/xml"},
        {"page.htm", "text/html"},                // unknown to the system
    };
    for (const auto& [name, type] : cases)
        EXPECT_EQ(ContentTypeFromFileName(name, FakeSystemTable), type) << name;
}

} // namespace
} // namespace mime

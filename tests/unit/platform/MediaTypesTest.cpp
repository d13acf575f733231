#include "platform/MediaTypes.h"

#include <gtest/gtest.h>

TEST(MediaTypes, TableLookup)
{
    const std::string table = std::string(PLONEMAIL_TEST_DATA) + "/mime.types";
    const std::pair<const char*, const char*> cases[] = {
        {"pdf", "application/pdf"},
        {"png", "image/png"},          // after TABs; the comment above does not count
        {"PNG", "image/png"},          // any letter case
        {"mixedcase", "IMAGE/X-Case"}, // the type as written
        {"dup", "text/x-first"},       // the first line that lists it
        {"zzz", ""},                   // only in a comment
        {"audio/x-no-extensions", ""}, // a type is not an extension
        {"", ""},
        {"gif", ""},
    };
    for (const auto& [ext, type] : cases)
        EXPECT_EQ(platform::MediaTypeFromTable(table, ext), type) << ext;
    EXPECT_EQ(platform::MediaTypeFromTable(table + ".missing", "pdf"), "");
}

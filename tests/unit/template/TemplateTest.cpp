#include "platform/Files.h"
#include "template/Directives.h"
#include "template/Images.h"
#include "template/Placeholders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kDataDir = PLONEMAIL_TEST_DATA;
const std::string kPage = kDataDir + "/page.html";

// The fixture page expanded as a job would: ITEM set and the ROW block
// pasted three times, then the final clean-up with all variables.
class PageTest : public testing::Test {
protected:
    void SetUp() override
    {
        Lines raw;
        ASSERT_FALSE(platform::ReadTextLines(kPage, raw));
        page_.Assign(tmpl::ExtractBlocks(std::move(raw), blocks_));
        for (const char* item : {"a", "b", "c"}) {
            vars_.SetVariable("item", item);
            tmpl::PasteBlock("ROW", "TABLE", page_, blocks_, vars_, budget_);
        }
        vars_.SetVariable("Name", " World ");
        vars_.SetVariable("TOTAL", "12");
        Lines& lines = page_.Lines();
        tmpl::RemoveDirectiveLines(lines);
        tmpl::SubstitutePlaceholders(lines, vars_, budget_);
    }

    Lines Collect(std::vector<std::string>& images, Lines* reports = nullptr)
    {
        Lines lines = page_.Lines();
        tmpl::CollectImages(lines, kPage, images, [reports](const std::string& m) {
            if (reports)
                reports->push_back(m);
        });
        return lines;
    }

    tmpl::TTemplateLines page_;
    tmpl::TBlocks blocks_;
    tmpl::TVariables vars_;
    tmpl::TExpansionBudget budget_;
};

TEST_F(PageTest, BlockIsCutOutWithoutItsDirectiveLines)
{
    ASSERT_EQ(blocks_.Count(), 1u);
    EXPECT_EQ(blocks_[0].Name, "ROW");
    EXPECT_EQ(blocks_[0].Lines, (Lines {"<tr><td><?ITEM?></td></tr>"}));
}

TEST_F(PageTest, ExpandsPlaceholdersPastesAndDropsEveryDirective)
{
    const Lines expected {
        "<html><body>",
        "<p>Dear World,</p>",
        "<p>Total: 12 EUR</p>",
        "<table>",
        "<tr><td>a</td></tr>",
        "<tr><td>b</td></tr>",
        "<tr><td>c</td></tr>",
        "</table>",
        R"(<img src="logo.png" width=100 alt="Our logo"> and <img src="logo.png">)",
        R"(<p><IMG alt=x SRC="Pics/Photo.PNG"></p>)",
        R"(<img src="logo.png" border=0>)",
    };
    EXPECT_EQ(page_.Lines(), expected);
}

TEST_F(PageTest, RewritesTheFirstImageTagOfEachLineAndCollectsInOrder)
{
    std::vector<std::string> images;
    const Lines lines = Collect(images);
    // Only the value of SRC changes; the tag stays as written.
    EXPECT_EQ(lines[8], R"(<img src="cid:IMAGE1" width=100 alt="Our logo"> and <img src="logo.png">)");
    EXPECT_EQ(lines[9], R"(<p><IMG alt=x SRC="cid:IMAGE2"></p>)");
    EXPECT_EQ(lines[10], R"(<img src="cid:IMAGE3" border=0>)");
    // Found beside the template, with the letter case of the tag's path.
    EXPECT_EQ(images, (Lines {kDataDir + "/logo.png", kDataDir + "/Pics/Photo.PNG", kDataDir + "/logo.png"}));
}

TEST_F(PageTest, AddsToTheImagesAlreadyListed)
{
    std::vector<std::string> images {"first.png"};
    const Lines lines = Collect(images);
    EXPECT_EQ(lines[10], R"(<img src="cid:IMAGE4" border=0>)");
    EXPECT_EQ(images.size(), 4u);
}

// Runs a test body with the current directory set to a fresh directory.
class InTempDir : public testing::Test {
protected:
    void SetUp() override
    {
        old_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() /
               ("plonemail-tmpl-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
    }
    void TearDown() override
    {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    static void Touch(const std::string& path) { ASSERT_FALSE(platform::CreateEmptyFile(path)); }

    std::filesystem::path old_, dir_;
};

TEST_F(InTempDir, ImageLookupsGoAsWrittenThenBesideTheTemplateThenByFileName)
{
    std::filesystem::create_directories("tpl");
    Touch("here.png");
    Touch("tpl/beside.png");
    Touch("bare.png");
    Lines lines {
        R"(<img src="here.png">)",
        R"(<img src="beside.png">)",
        R"(<img src="far/away/bare.png">)",
        R"(x <img src='Missing "One".png' alt=m> y)",
        "<img>",
    };
    std::vector<std::string> images;
    Lines reports;
    tmpl::CollectImages(lines, "tpl/page.html", images, [&](const std::string& m) { reports.push_back(m); });
    EXPECT_EQ(images, (Lines {"here.png", "tpl/beside.png", "bare.png"}));
    EXPECT_EQ(lines, (Lines {
                         R"(<img src="cid:IMAGE1">)",
                         R"(<img src="cid:IMAGE2">)",
                         R"(<img src="cid:IMAGE3">)",
                         R"(x <img src='Missing "One".png' alt=m> y)",
                         "<img>",
                     }));
    EXPECT_EQ(reports, (Lines {R"(File: Missing "One".png Does not exist)"}));
}

// The tag keeps its letter case, quotes and every other attribute; only the
// value of its (first) SRC attribute becomes the content id.
TEST_F(InTempDir, OnlyTheValueOfSrcChanges)
{
    Touch("logo.png");
    const struct {
        const char* Line;
        const char* Expected;
    } cases[] = {
        {R"(<img alt="Company logo" src="logo.png" class="hero Banner" style="width:100px; border:0">)",
         R"(<img alt="Company logo" src="cid:IMAGE1" class="hero Banner" style="width:100px; border:0">)"},
        {"<p><IMG Src='logo.png' ALT='a > b'/></p>", "<p><IMG Src='cid:IMAGE1' ALT='a > b'/></p>"},
        {"<img src = logo.png width=10>", R"(<img src = "cid:IMAGE1" width=10>)"},
        {R"(<img data-src="x.png" title="src=x.png" src="logo.png" src="y.png">)",
         R"(<img data-src="x.png" title="src=x.png" src="cid:IMAGE1" src="y.png">)"},
        {"<img\tsrc=\"logo.png\"\tborder=0>", "<img\tsrc=\"cid:IMAGE1\"\tborder=0>"},
        // Not a complete tag on this line, or no SRC: left as it is.
        {R"(<img src="logo.png" alt="open)", R"(<img src="logo.png" alt="open)"},
        {R"(<img src="logo.png")", R"(<img src="logo.png")"},
        {R"(<img alt="logo.png">)", R"(<img alt="logo.png">)"},
    };
    for (const auto& c : cases) {
        Lines lines {c.Line};
        std::vector<std::string> images;
        tmpl::CollectImages(lines, "page.html", images, nullptr);
        EXPECT_EQ(lines[0], c.Expected) << c.Line;
        EXPECT_EQ(images.size(), std::string(c.Expected).find("cid:") != std::string::npos ? 1u : 0u) << c.Line;
    }
}

TEST_F(InTempDir, PathLetterCaseCountsOnThisFileSystem)
{
    Touch("Logo.PNG");
    if (platform::FileExists("LOGO.PNG"))
        GTEST_SKIP() << "this file system ignores the letter case of names";
    Lines lines {R"(<img src="Logo.PNG">)", R"(<img src="LOGO.PNG">)"};
    std::vector<std::string> images;
    Lines reports;
    tmpl::CollectImages(lines, "page.html", images, [&](const std::string& m) { reports.push_back(m); });
    EXPECT_EQ(images, (Lines {"Logo.PNG"}));
    EXPECT_EQ(lines[0], R"(<img src="cid:IMAGE1">)");
    EXPECT_EQ(lines[1], R"(<img src="LOGO.PNG">)");
    EXPECT_EQ(reports.size(), 1u);
}

struct SubstCase {
    const char* Name;
    std::string Line;
    std::string Expected;
};

void PrintTo(const SubstCase& c, std::ostream* os)
{
    *os << c.Name;
}

class SubstituteTest : public testing::TestWithParam<SubstCase> {};

TEST_P(SubstituteTest, Expands)
{
    tmpl::TVariables vars;
    vars.SetVariable("name", "World");
    vars.SetVariable("greet", "Hello <?NAME?>");
    vars.SetVariable("self", "x<?SELF?>");
    vars.SetVariable("ping", "<?PONG?>");
    vars.SetVariable("pong", "p<?PING?>");
    vars.SetVariable("lt", "<");
    vars.SetVariable("q", "?");
    Lines lines {GetParam().Line};
    tmpl::SubstitutePlaceholders(lines, vars);
    EXPECT_EQ(lines[0], GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SubstituteTest,
    testing::Values(
        SubstCase {"Plain", "Hello <?name?>!", "Hello World!"},
        SubstCase {"Unknown", "Hello <? nobody ?>!", "Hello !"},
        SubstCase {"Several", "<?NAME?>,<?NAME?>", "World,World"},
        SubstCase {"NestedValue", "<?greet?>.", "Hello World."},
        SubstCase {"EmptyNames", "a<?>b<?" "?>c", "abc"},
        SubstCase {"UnclosedLeftAsIs", "a <?name b", "a <?name b"},
        SubstCase {"CloseBeforeOpenEndsTheLine", "a ?> <?name?>", "a ?> <?name?>"},
        SubstCase {"CloseBeforeOpenAfterAnExpansion", "<?name?> ?> <?name?>", "World ?> <?name?>"},
        SubstCase {"SelfReferenceStops", "[<?self?>]", "[x<?SELF?>]"},
        SubstCase {"MutualReferenceStops", "[<?ping?>]", "[p<?PING?>]"},
        SubstCase {"MarkerFormedAcrossAValue", "<?lt?>?name?>", "World"},
        SubstCase {"MarkerFormedAfterAValue", "<<?q?>name?>", "World"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Substitute, BranchingValuesStopAtTheBudget)
{
    tmpl::TVariables vars;
    for (int i = 0; i < 30; ++i) {
        std::string value;
        for (int k = 0; k < 10; ++k)
            value += "<?V" + std::to_string(i + 1) + "?>";
        vars.SetVariable("V" + std::to_string(i), value);
    }
    vars.SetVariable("V30", "x");
    Lines lines {"<?V0?>", "<?V0?>"};
    tmpl::TExpansionBudget budget(100000);
    tmpl::SubstitutePlaceholders(lines, vars, budget);
    // Bounded by the budget; the unexpanded rest stays as it was.
    EXPECT_LT(lines[0].size() + lines[1].size(), 300000u);
    EXPECT_NE(lines[0].find("<?V"), std::string::npos);
}

TEST(Substitute, DeepNestingStops)
{
    tmpl::TVariables vars;
    for (int i = 0; i < 40; ++i)
        vars.SetVariable("D" + std::to_string(i), "<?D" + std::to_string(i + 1) + "?>");
    vars.SetVariable("D40", "end");
    Lines lines {"<?D0?>", "<?D30?>"};
    tmpl::SubstitutePlaceholders(lines, vars);
    EXPECT_EQ(lines[0], "<?D16?>");
    EXPECT_EQ(lines[1], "end");
}

TEST(Variables, StoreNamesUpperCaseAndValuesTrimmed)
{
    tmpl::TVariables vars;
    vars.SetVariable(" total ", "  12 ");
    vars.SetVariable("other", "a=b");
    vars.SetVariable("TOTAL", "13");
    EXPECT_EQ(vars.Entries(), (Lines {"TOTAL=13", "OTHER=a=b"}));
    EXPECT_EQ(vars.GetVariable("Other"), "a=b");
    EXPECT_EQ(vars.FindVariable("none"), -1);
    EXPECT_EQ(vars.GetVariable("none"), "");
}

TEST(Blocks, FirstOfANameWinsAndFreeEmpties)
{
    tmpl::TBlocks blocks;
    blocks.AddBlock("row", {"1"});
    blocks.AddBlock("ROW", {"2"});
    EXPECT_EQ(blocks.FindBlock("Row"), 0);
    EXPECT_EQ(blocks.FindBlock("col"), -1);
    blocks.FreeBlocks();
    EXPECT_EQ(blocks.Count(), 0u);
    EXPECT_EQ(blocks.FindBlock("ROW"), -1);
}

TEST(Directives, BlockWithoutEndTakesTheRest)
{
    tmpl::TBlocks blocks;
    const Lines kept = tmpl::ExtractBlocks({"top", "<!--?block B?-->", "x &lt;?Y?&gt;", "<!--?PASTE Z?-->", "z"}, blocks);
    EXPECT_EQ(kept, (Lines {"top"}));
    ASSERT_EQ(blocks.Count(), 1u);
    EXPECT_EQ(blocks[0].Lines, (Lines {"x <?Y?>", "z"}));
}

TEST(Directives, PasteWithoutBlockOrTargetChangesNothing)
{
    tmpl::TBlocks blocks;
    blocks.AddBlock("B", {"row"});
    tmpl::TVariables vars;
    tmpl::TExpansionBudget budget;
    tmpl::TTemplateLines page(Lines {"a", "<!--?PASTE T?-->"});
    tmpl::PasteBlock("B", "MISSING", page, blocks, vars, budget);
    tmpl::PasteBlock("NONE", "T", page, blocks, vars, budget);
    EXPECT_EQ(page.Lines(), (Lines {"a", "<!--?PASTE T?-->"}));
}

TEST(Directives, PasteGoesToTheFirstMatchingMarkerOnly)
{
    tmpl::TBlocks blocks;
    blocks.AddBlock("B", {"row"});
    tmpl::TVariables vars;
    tmpl::TExpansionBudget budget;
    tmpl::TTemplateLines page(Lines {"<!--? Paste T ?-->", "<!--?PASTE T?-->", "<!--?PASTE T X?-->"});
    tmpl::PasteBlock("B", "T", page, blocks, vars, budget);
    tmpl::PasteBlock("B", "TX", page, blocks, vars, budget);
    EXPECT_EQ(page.Lines(), (Lines {"row", "<!--? Paste T ?-->", "<!--?PASTE T?-->", "row", "<!--?PASTE T X?-->"}));
}

TEST(Directives, RemovesOnlyClosedDirectiveLines)
{
    Lines lines {"<!--?A?-->", "keep <!--? open", "?--> <!--?", "x", "<!--?-->"};
    tmpl::RemoveDirectiveLines(lines);
    EXPECT_EQ(lines, (Lines {"keep <!--? open", "?--> <!--?", "x"}));
}

TEST(Directives, ParseDirectiveTokenizesTheText)
{
    tmpl::TTagTokenizer t;
    EXPECT_FALSE(tmpl::ParseDirective("<!-- plain comment -->", t));
    ASSERT_TRUE(tmpl::ParseDirective("  <!--? block Row ?--> tail", t));
    EXPECT_EQ(t.Tokens, (Lines {"BLOCK", "ROW"}));
    EXPECT_EQ(t.NextToken(), "BLOCK");
}

} // namespace

#include "../runner/TempDir.h"
#include "lang/LumIdiom.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

using lang::TLumIdioma;
using platform::TComponentRole;
using platform::TPublishedComponent;

namespace {

// An application with two windows; the first holds a group box, a memo and
// a component whose text property refuses some values.
struct TWindows {
    std::string mainCaption = "Main", boxCaption = "Box", secondCaption = "Second", strict = "ok";
    int width = 100;
    std::vector<std::string> lines {"old"};

    TPublishedComponent app {"Application", nullptr};
    TPublishedComponent main {"frmMain", &app, TComponentRole::Form};
    TPublishedComponent box {"grpBox", &main};
    TPublishedComponent memo {"memo", &main};
    TPublishedComponent refusing {"strict", &main};
    TPublishedComponent second {"frmSecond", &app, TComponentRole::Form};

    TWindows()
    {
        main.PublishText("Caption", mainCaption);
        main.PublishInteger("Width", width);
        main.PublishOther("Visible", [] { return std::string("True"); });
        box.PublishText("Caption", boxCaption);
        memo.PublishLines("Lines", lines);
        refusing.PublishText("Value", [this] { return strict; }, [this](const std::string& v) {
            if (v == "bad")
                throw std::invalid_argument("refused");
            strict = v;
        });
        second.PublishText("Caption", secondCaption);
    }

    std::map<std::string, std::string> State() const
    {
        std::string joined;
        for (auto& l : lines)
            joined += "[" + l + "]";
        return {{"main", mainCaption}, {"box", boxCaption}, {"second", secondCaption},
                {"width", std::to_string(width)}, {"lines", joined}, {"strict", strict}};
    }
};

struct TranslateCase {
    const char* name;
    const char* translations;  // the lines of section Translations
    bool fromWindow;           // ObjStart is frmMain instead of the application
    std::map<std::string, std::string> changed;
};

void PrintTo(const TranslateCase& c, std::ostream* os)
{
    *os << c.name;
}

class Translate : public ::testing::TestWithParam<TranslateCase> {};

} // namespace

TEST_P(Translate, AppliesKeysOfThisWindowOnly)
{
    const TranslateCase& c = GetParam();
    TTempDir dir;
    TWindows w;
    auto expected = w.State();
    for (auto& [key, value] : c.changed)
        expected[key] = value;

    TLumIdioma lang;
    lang.LanguageFile = dir.Write("test.lng", std::string("[Other]\nfrmMain.Caption=wrong section\n[Translations]\n") +
                                                  c.translations);
    lang.ObjStart = c.fromWindow ? &w.main : &w.app;
    lang.Translate();
    EXPECT_EQ(w.State(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Translate,
    ::testing::Values(
        TranslateCase {"captions", "frmMain.Caption=Principal\nfrmMain.grpBox.Caption=Registro\n", false,
                       {{"main", "Principal"}, {"box", "Registro"}}},
        TranslateCase {"upper_case", "FRMMAIN.CAPTION=Principal\nFRMMAIN.GRPBOX.CAPTION=Registro\n", false,
                       {{"main", "Principal"}, {"box", "Registro"}}},
        TranslateCase {"blanks_around_names", " frmMain . grpBox . Caption =Registro\n", false,
                       {{"box", "Registro"}}},
        TranslateCase {"other_window", "frmSecond.Caption=Otra\nfrmOther.Caption=Nada\n", false,
                       {{"second", "Otra"}}},
        TranslateCase {"empty_value_keeps", "frmMain.Caption=\nfrmMain.memo.Lines=\n", false, {}},
        TranslateCase {"unknown_names", "frmMain.Nothing=1\nfrmMain.nobox.Caption=1\nCaption=1\n", false, {}},
        TranslateCase {"integers", "frmMain.Width=$1F4\n", false, {{"width", "500"}}},
        TranslateCase {"negative_integer", "frmMain.Width=-7\n", false, {{"width", "-7"}}},
        TranslateCase {"not_an_integer", "frmMain.Width=12.5\n", false, {}},
        TranslateCase {"other_kind_ignored", "frmMain.Visible=0\n", false, {}},
        TranslateCase {"refused_value_ignored", "frmMain.strict.Value=bad\n", false, {}},
        TranslateCase {"lines_unsplit_by_default", "frmMain.memo.Lines=a;b\n", false, {{"lines", "[a;b]"}}},
        TranslateCase {"window_as_start", "frmMain.Caption=Principal\ngrpBox.Caption=x\n", true,
                       {{"main", "Principal"}}},
        TranslateCase {"window_start_name_prefix", "frm.grpBox.Caption=Registro\n", true, {{"box", "Registro"}}},
        TranslateCase {"window_start_other_window", "frmSecond.Caption=Otra\n", true, {}},
        TranslateCase {"repeated_key_applies_its_first_value", "frmMain.Caption=one\nfrmmain.caption=two\n",
                       false, {{"main", "one"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LumIdioma, SeparatorSplitsListValues)
{
    struct Case {
        const char* value;
        const char* separator;
        std::vector<std::string> lines;
    } cases[] = {
        {"a;b", ";", {"a", "b"}},
        {"a;b", "", {"a;b"}},
        {" a ; b ; ", ";", {"a", "b"}},
        {"a;;b", ";", {"a", "", "b"}},
        {"a<>b<>c", "<>", {"a", "b", "c"}},
        {";", ";", {""}},
        {"a,b", ",", {"a", "b"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lang::SplitTranslation(c.value, c.separator), c.lines) << c.value << " / " << c.separator;

    TLumIdioma lang;
    EXPECT_EQ(lang.Separator(), "");
    lang.SetSeparator(" ");
    EXPECT_EQ(lang.Separator(), ",");
    lang.SetSeparator(";");
    EXPECT_EQ(lang.Separator(), ";");
}

TEST(LumIdioma, SeparatorAppliesToTheMemo)
{
    TTempDir dir;
    TWindows w;
    TLumIdioma lang;
    lang.SetSeparator(";");
    lang.LanguageFile = dir.Write("test.lng", "[Translations]\nfrmMain.memo.Lines=a;b\n");
    lang.ObjStart = &w.app;
    lang.Translate();
    EXPECT_EQ(w.lines, (std::vector<std::string> {"a", "b"}));
}

TEST(LumIdioma, EventsAndKeyList)
{
    TTempDir dir;
    TWindows w;
    TLumIdioma lang;
    lang.LanguageFile = dir.Write("test.lng", "[Translations]\nfrmMain.Caption=Principal\n"
                                              "frmMain.grpBox.Caption=Registro\nfrmSecond.Caption=Otra\n");
    lang.ObjStart = &w.app;
    // Only the listed keys, in the list's order, looked up in any case.
    lang.Properties = {"FRMSECOND.CAPTION", " ", "frmMain.grpBox.Caption"};
    std::vector<std::string> calls;
    lang.OnBeforeTranslation = [&](TLumIdioma&) { calls.push_back("before"); };
    lang.OnAfterTranslation = [&](TLumIdioma&) { calls.push_back("after"); };
    lang.OnTranslate = [&](TLumIdioma&, TPublishedComponent& component, const std::string& property,
                           const std::string& oldValue, std::string& newValue) {
        calls.push_back(component.Name() + "." + property + ":" + oldValue + ">" + newValue);
        newValue += "!";
    };
    lang.Translate();
    EXPECT_EQ(calls, (std::vector<std::string> {"before", "frmSecond.CAPTION:Second>Otra",
                                                "grpBox.Caption:Box>Registro", "after"}));
    EXPECT_EQ(w.secondCaption, "Otra!");
    EXPECT_EQ(w.boxCaption, "Registro!");
    EXPECT_EQ(w.mainCaption, "Main");
}

TEST(LumIdioma, MissingFileOrStartChangesNothing)
{
    TTempDir dir;
    TWindows w;
    const auto before = w.State();
    TLumIdioma lang;
    lang.LanguageFile = dir.File("none.lng");
    lang.ObjStart = &w.app;
    int events = 0;
    lang.OnAfterTranslation = [&](TLumIdioma&) { ++events; };
    lang.Translate();
    lang.LanguageFile = dir.Write("test.lng", "[Translations]\nfrmMain.Caption=Principal\n");
    lang.ObjStart = nullptr;
    lang.Translate();
    EXPECT_EQ(w.State(), before);
    EXPECT_EQ(events, 2);
}

TEST(LumIdioma, TranslateMessageReadsTheFileAnew)
{
    TTempDir dir;
    TLumIdioma lang;
    lang.LanguageFile = dir.File("none.lng");
    EXPECT_EQ(lang.TranslateMessage("Error sending Email"), "Error sending Email");

    lang.LanguageFile = dir.Write("test.lng", "[Translations]\nFrom=wrong section\n[messages]\n"
                                              "error sending email = Fehler beim Senden \nTo=\n");
    EXPECT_EQ(lang.TranslateMessage("Error sending Email"), "Fehler beim Senden");
    EXPECT_EQ(lang.TranslateMessage("From"), "From");
    EXPECT_EQ(lang.TranslateMessage("To"), "To");  // an empty translation keeps the English text

    dir.Write("test.lng", "[Messages]\nFrom=Von\n");
    EXPECT_EQ(lang.TranslateMessage("From"), "Von");
    EXPECT_EQ(lang.TranslateMessage("Error sending Email"), "Error sending Email");
}

TEST(LumIdioma, PublishesItsOwnProperties)
{
    TTempDir dir;
    TPublishedComponent app("Application", nullptr);
    TPublishedComponent form("frmMain", &app, TComponentRole::Form);
    TPublishedComponent entry("Lang", &form);
    TLumIdioma lang;
    lang.PublishProperties(entry);
    std::vector<std::string> before, after;
    TPublishedComponent memo1("memo1", &form), memo2("memo2", &form);
    memo1.PublishLines("Lines", before);
    memo2.PublishLines("Lines", after);
    // A separator set by the file applies to the keys after it.
    lang.LanguageFile = dir.Write("test.lng", "[Translations]\nfrmMain.memo1.Lines=a|b\nfrmMain.Lang.Separator=|\n"
                                              "frmMain.memo2.Lines=c|d\n");
    lang.ObjStart = &app;
    lang.Translate();
    EXPECT_EQ(lang.Separator(), "|");
    EXPECT_EQ(before, (std::vector<std::string> {"a|b"}));
    EXPECT_EQ(after, (std::vector<std::string> {"c", "d"}));
    EXPECT_EQ(entry.FindProperty("LanguageFile")->GetText(), lang.LanguageFile);
}

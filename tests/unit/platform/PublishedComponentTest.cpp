#include "platform/PublishedComponent.h"

#include <gtest/gtest.h>

#include <memory>

using platform::TComponentRole;
using platform::TPropertyKind;
using platform::TPublishedComponent;

TEST(PublishedComponent, OwnedComponentsAreFoundByNameInAnyCase)
{
    TPublishedComponent app("Application", nullptr);
    TPublishedComponent form("frmMain", &app, TComponentRole::Form);
    TPublishedComponent box("grpBox", &form);
    EXPECT_TRUE(form.IsForm());
    EXPECT_FALSE(box.IsForm());
    EXPECT_EQ(app.FindComponent("FRMMAIN"), &form);
    EXPECT_EQ(form.FindComponent("grpbox"), &box);
    EXPECT_EQ(app.FindComponent("grpBox"), nullptr);  // only directly owned ones
    EXPECT_EQ(box.Owner(), &form);
}

TEST(PublishedComponent, DestructionLeavesTheTreeConsistent)
{
    TPublishedComponent app("Application", nullptr);
    auto form = std::make_unique<TPublishedComponent>("frmMain", &app, TComponentRole::Form);
    {
        TPublishedComponent box("grpBox", form.get());
        EXPECT_EQ(form->Components().size(), 1u);
    }
    EXPECT_TRUE(form->Components().empty());

    TPublishedComponent orphan("memo", form.get());
    form.reset();
    EXPECT_TRUE(app.Components().empty());
    EXPECT_EQ(orphan.Owner(), nullptr);
}

TEST(PublishedComponent, EveryKindReadsAsText)
{
    TPublishedComponent c("c", nullptr);
    std::string caption = "Send";
    int width = 343;
    std::vector<std::string> lines {"a", "b"};
    c.PublishText("Caption", caption);
    c.PublishInteger("Width", width);
    c.PublishLines("Lines", lines);
    c.PublishOther("Visible", [] { return std::string("True"); });

    struct Case {
        const char* name;
        TPropertyKind kind;
        const char* text;
    } cases[] = {
        {"caption", TPropertyKind::Text, "Send"},
        {"WIDTH", TPropertyKind::Integer, "343"},
        {"Lines", TPropertyKind::Lines, "a\r\nb\r\n"},
        {"Visible", TPropertyKind::Other, "True"},
    };
    for (const Case& k : cases) {
        const auto* p = c.FindProperty(k.name);
        ASSERT_NE(p, nullptr) << k.name;
        EXPECT_EQ(p->Kind, k.kind) << k.name;
        EXPECT_EQ(p->GetText(), k.text) << k.name;
    }
    EXPECT_EQ(c.FindProperty("Height"), nullptr);

    c.FindProperty("Caption")->SetText("Enviar");
    c.FindProperty("Width")->SetInteger(-5);
    c.FindProperty("Lines")->SetLines({"x"});
    EXPECT_EQ(caption, "Enviar");
    EXPECT_EQ(width, -5);
    EXPECT_EQ(lines, std::vector<std::string> {"x"});
    EXPECT_FALSE(c.FindProperty("Visible")->SetText);
}

TEST(PublishedComponent, ALaterDeclarationReplacesTheEarlier)
{
    TPublishedComponent c("c", nullptr);
    std::string a = "a", b = "b";
    c.PublishText("Name", a);
    c.PublishText("NAME", b);
    ASSERT_EQ(c.Properties().size(), 1u);
    EXPECT_EQ(c.FindProperty("name")->GetText(), "b");
}

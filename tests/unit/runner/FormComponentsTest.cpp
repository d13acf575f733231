#include "TempDir.h"
#include "TestConsole.h"
#include "platform/Application.h"
#include "runner/fSendEMail.h"

#include <gtest/gtest.h>

using runner::TfrmSendEMail;

// The window's components are reached by their names from the application.
TEST(FormComponents, LanguageFileReachesEveryComponent)
{
    TTempDir dir;
    TTestConsole console;
    TfrmSendEMail form(console, dir.Path());
    form.Lang.LanguageFile = dir.Write("test.lng", "[Translations]\n"
                                                   "frmSendEMail.Caption=Enviar correo\n"
                                                   "frmSendEMail.Width=400\n"
                                                   "frmSendEMail.grpDebug.Caption=Registro\n"
                                                   "frmSendEMail.Lang.Separator=;\n"
                                                   "frmSendEMail.DisplayMemo.Lines=uno;dos\n"
                                                   "frmSendEMail.smtpClient.Port=2525\n"
                                                   "frmSendEMail.smtpClient.WrapMsgMaxLineLen=60\n"
                                                   "frmSendEMail.smtpClient.RcptName=a@x;b@x\n"
                                                   "frmSendEMail.smtpLog.XMailer=Informe\n"
                                                   "frmSendEMail.smtpLog.PlainText=x\n"
                                                   "frmSendEMail.SslContext1.SslCipherList=HIGH\n"
                                                   "frmSendEMail.SslContext1.SslVerifyDepth=3\n");
    form.Lang.ObjStart = &platform::TApplication::Instance().Component();
    form.Lang.Translate();

    EXPECT_EQ(form.frmSendEMail.Caption, "Enviar correo");
    EXPECT_EQ(form.frmSendEMail.Width, 400);
    EXPECT_EQ(form.grpDebug.Caption, "Registro");
    EXPECT_EQ(form.Lang.Separator(), ";");
    EXPECT_EQ(std::vector<std::string>(form.Log().DisplayMemo().begin(), form.Log().DisplayMemo().end()),
              (std::vector<std::string> {"uno", "dos"}));
    EXPECT_EQ(form.smtpClient->Port, "2525");
    EXPECT_EQ(form.smtpClient->WrapMsgMaxLineLen(), 60);
    EXPECT_EQ(form.smtpClient->RcptName, (std::vector<std::string> {"a@x", "b@x"}));
    EXPECT_EQ(form.smtpLog->XMailer, "Informe");
    EXPECT_EQ(form.smtpLog->PlainText, std::vector<std::string> {"x"});
    EXPECT_EQ(form.SslContext1.SslCipherList, "HIGH");
    EXPECT_EQ(form.SslContext1.SslVerifyDepth(), 3);
}

TEST(FormComponents, TheWindowLeavesTheApplicationWithItsEnd)
{
    auto& app = platform::TApplication::Instance().Component();
    const auto before = app.Components().size();
    {
        TTestConsole console;
        TfrmSendEMail form(console, "/prog");
        ASSERT_EQ(app.Components().size(), before + 1);
        EXPECT_NE(app.FindComponent("FRMSENDEMAIL")->FindComponent("smtpLog"), nullptr);
    }
    EXPECT_EQ(app.Components().size(), before);
}

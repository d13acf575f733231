#include "runner/JobScript.h"

#include "mime/AddressList.h"
#include "platform/CodePages.h"
#include "platform/Files.h"
#include "platform/TextUtil.h"
#include "runner/OemChars.h"
#include "runner/kelStrings.h"
#include "template/Directives.h"

#include <algorithm>
#include <unordered_map>

namespace runner {

namespace {

using platform::Trim;

// Four characters that stand for a line break inside the collected memo.
const std::string kMemoMarker = "\\r\\n";
const std::string kCrLf = "\r\n";

bool IsCommentOrBlank(const std::string& line)
{
    for (char c : line)
        if (static_cast<unsigned char>(c) > ' ')
            return c == '#';
    return true;
}

// Position of the word in the list, or -1.
long IndexOfWord(const std::string& word, std::initializer_list<const char*> words)
{
    long i = 0;
    for (const char* w : words) {
        if (word == w)
            return i;
        ++i;
    }
    return -1;
}

} // namespace

TJobScriptReader::TJobScriptReader(TJobModel& job, bool oemChars, TReport showOrLog)
    : job_(job), oemChars_(oemChars), codePage_(platform::SystemAnsiCodePage()), showOrLog_(std::move(showOrLog))
{
}

std::string TJobScriptReader::ConvertOemChars(const std::string& text) const
{
    return oemChars_ ? OemToAnsi(text, codePage_) : text;
}

void TJobScriptReader::ReadJobScript()
{
    job_.InMemo = false;
    job_.MemoText.clear();
    for (const auto& line : job_.JobLines)
        ReadLine(line);
    if (!job_.TemplateLines.Empty()) {
        tmpl::RemoveDirectiveLines(job_.TemplateLines.Lines());
        tmpl::SubstitutePlaceholders(job_.TemplateLines.Lines(), job_.Variables, budget_);
    }
}

void TJobScriptReader::ReadLine(const std::string& line)
{
    if (IsCommentOrBlank(line))
        return;
    Tokens.ParseTag(line);
    if (Tokens.TokenCount() > 0)
        DispatchTag();
    else if (job_.InMemo) {
        job_.MemoText += ConvertOemChars(line);
        job_.MemoText += kMemoMarker;
    }
}

void TJobScriptReader::DispatchTag()
{
    using THandler = void (*)(TJobScriptReader&);
    static const std::unordered_map<std::string, THandler> handlers {
        {"FROM", [](TJobScriptReader& r) { r.TagFrom(); }},
        {"TO", [](TJobScriptReader& r) { r.TagRecipient(r.job_.ToList); }},
        {"CC", [](TJobScriptReader& r) { r.TagRecipient(r.job_.CcList); }},
        {"BCC", [](TJobScriptReader& r) { r.TagRecipient(r.job_.BccList); }},
        {"SUBJECT", [](TJobScriptReader& r) { r.TagSubject(); }},
        {"MESSAGE", [](TJobScriptReader& r) { r.TagMessage(); }},
        {"ATTACHMENT", [](TJobScriptReader& r) { r.TagAttachment(); }},
        {"EMAIL", [](TJobScriptReader& r) { r.TagEmail(); }},
        {"TEMPLATE", [](TJobScriptReader& r) { r.TagTemplate(); }},
        {"VAR", [](TJobScriptReader& r) { r.TagVar(); }},
        {"MEMO", [](TJobScriptReader& r) { r.TagMemo(); }},
        {"ENDMEMO", [](TJobScriptReader& r) { r.TagEndMemo(); }},
        {"BLOCK", [](TJobScriptReader& r) { r.TagBlock(); }},
        {"CFGEMAIL", [](TJobScriptReader& r) { r.TagCfgEmail(); }},
    };
    if (auto it = handlers.find(Tokens.Token(1)); it != handlers.end())
        it->second(*this);
}

// Walks name = value pairs: the token after a known name is passed over
// (normally "="), the one after that is the value. The walk ends after the
// last token, after an empty value, or when the handler returns false.
void TJobScriptReader::ScanAttributes(std::initializer_list<const char*> names, const TAttributeHandler& handler)
{
    Tokens.TokenCursor = 1;
    do {
        const std::string name = Tokens.NextToken();
        const bool known = std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
        if (known) {
            Tokens.NextToken();
            if (!handler(name, Tokens.NextToken()))
                return;
        }
    } while (!Tokens.CurrentToken().empty());
}

void TJobScriptReader::TagFrom()
{
    ScanAttributes({"NAME", "EMAIL"}, [this](const std::string& name, const std::string& value) {
        if (name == "NAME")
            job_.FromHeader = mime::QuotedString(ConvertOemChars(Trim(value)), codePage_);
        else {
            job_.FromHeader += " <" + Trim(value) + ">";
            job_.FromAddress = value;
        }
        return true;
    });
}

void TJobScriptReader::TagRecipient(std::string& list)
{
    std::string entry;
    ScanAttributes({"NAME", "EMAIL"}, [&](const std::string& name, const std::string& value) {
        if (name == "NAME")
            entry = mime::QuotedString(ConvertOemChars(Trim(value)), codePage_);
        else {
            const auto items = SplitString(value, ";");
            for (std::size_t i = 0; i < items.size(); ++i)
                entry += (i == 0 ? " <" : ";<") + Trim(items[i]) + ">";
        }
        return true;
    });
    if (platform::IsBlank(list))
        list = std::move(entry);
    else {
        list += ';';
        list += entry;
    }
}

void TJobScriptReader::TagSubject()
{
    ScanAttributes({"CONTENT", "BODY"}, [this](const std::string&, const std::string& value) {
        job_.Subject = ConvertOemChars(Trim(value));
        return true;
    });
}

void TJobScriptReader::TagMessage()
{
    ScanAttributes({"CONTENT", "BODY"}, [this](const std::string&, const std::string& value) {
        job_.MessageLines.push_back(Trim(ConvertOemChars(Trim(value))));
        return true;
    });
}

void TJobScriptReader::TagAttachment()
{
    ScanAttributes({"FILE"}, [this](const std::string&, const std::string& value) {
        const std::string path = Trim(value);
        if (platform::FileExists(path))
            job_.Attachments.push_back(path);
        else if (showOrLog_)
            showOrLog_("File: " + path + " Does not exist");
        return true;
    });
}

void TJobScriptReader::TagEmail()
{
    ScanAttributes({"TYPE", "CONFIRM"}, [this](const std::string& name, const std::string& value) {
        if (name == "TYPE") {
            const std::string type = platform::UpperAscii(Trim(value));
            if (type == "TEXT")
                job_.IsHtml = false;
            else if (type == "HTML")
                job_.IsHtml = true;
        } else if (IndexOfWord(Trim(value), {"Y", "1", "S"}) >= 0)
            job_.WantReceipt = true;
        return true;
    });
}

void TJobScriptReader::TagTemplate()
{
    ScanAttributes({"FILE"}, [this](const std::string&, const std::string& value) {
        const std::string path = Trim(value);
        if (!platform::FileExists(path))
            return true;
        LoadTemplate(path);
        return false;
    });
}

void TJobScriptReader::LoadTemplate(const std::string& path)
{
    std::vector<std::string> lines;
    if (auto err = platform::ReadTextLines(path, lines)) {
        lines.clear();
        if (showOrLog_)
            showOrLog_("Template " + path + " cannot be read: " + err->Message);
    }
    job_.TemplateLines.Assign(tmpl::ExtractBlocks(std::move(lines), job_.Blocks));
    job_.TemplatePath = path;
}

void TJobScriptReader::TagVar()
{
    job_.Variables.SetVariable(Trim(Tokens.Token(2)), ConvertOemChars(Trim(Tokens.Token(4))));
}

void TJobScriptReader::TagMemo()
{
    job_.InMemo = true;
    job_.MemoText.clear();
    job_.MemoName = Tokens.TokenCount() > 1 ? Tokens.Token(2) : std::string();
}

void TJobScriptReader::TagEndMemo()
{
    job_.InMemo = false;
    if (!job_.MemoText.empty())
        FinishMemo();
    job_.MemoText.clear();
}

void TJobScriptReader::FinishMemo()
{
    std::string text = platform::ReplaceAll(job_.MemoText, kMemoMarker, kCrLf);
    if (!platform::IsBlank(job_.MemoName))
        job_.Variables.SetVariable(job_.MemoName, platform::ReplaceAll(text, kCrLf, "<BR>"));
    else
        job_.MessageLines.push_back(std::move(text));
}

void TJobScriptReader::TagBlock()
{
    const std::string block = platform::UpperAscii(Trim(Tokens.Token(2)));
    const std::string target = platform::UpperAscii(Trim(Tokens.Token(3)));
    tmpl::PasteBlock(block, target, job_.TemplateLines, job_.Blocks, job_.Variables, budget_);
}

void TJobScriptReader::TagCfgEmail()
{
    TOAuthSettings& oauth = job_.CfgOAuth;
    const std::unordered_map<std::string, std::string*> texts {
        {"HOST", &job_.CfgHost},
        {"PORT", &job_.CfgPort},
        {"AUTHUSER", &job_.CfgUser},
        {"AUTHPASS", &job_.CfgPass},
        {"OAUTHTOKENCOMMAND", &oauth.TokenCommand},
        {"OAUTHTOKENURL", &oauth.TokenUrl},
        {"OAUTHCLIENTID", &oauth.ClientId},
        {"OAUTHCLIENTSECRET", &oauth.ClientSecret},
        {"OAUTHSCOPE", &oauth.Scope},
        {"OAUTHREFRESHTOKEN", &oauth.RefreshToken},
    };
    ScanAttributes({"HOST", "PORT", "AUTHTYPE", "AUTHUSER", "AUTHPASS", "USESSL", "TYPESSL", "OAUTHTOKENCOMMAND",
                    "OAUTHTOKENURL", "OAUTHCLIENTID", "OAUTHCLIENTSECRET", "OAUTHSCOPE", "OAUTHREFRESHTOKEN"},
                   [this, &texts](const std::string& name, const std::string& value) {
                       const std::string v = Trim(value);
                       if (auto text = texts.find(name); text != texts.end())
                           *text->second = v;
                       else if (name == "USESSL")
                           job_.CfgUseSsl = v == "Y";
                       else if (name == "AUTHTYPE") {
                           const long auth = IndexOfWord(platform::UpperAscii(v),
                               {"NONE", "PLAIN", "LOGIN", "CRAMMD5", "CRAMSHA1", "NTLM", "AUTOSELECT", "XOAUTH2",
                                "OAUTHBEARER"});
                           if (auth >= 0)
                               job_.CfgAuth = auth;
                       } else {
                           const long ssl = IndexOfWord(platform::UpperAscii(v), {"NONE", "IMPLICIT", "EXPLICIT"});
                           if (ssl >= 0)
                               job_.CfgSslType = ssl;
                       }
                       return true;
                   });
}

} // namespace runner

#pragma once
#include "runner/Settings.h"
#include "template/Blocks.h"
#include "template/Placeholders.h"
#include "template/TagTokenizer.h"
#include "template/TemplateLines.h"
#include "template/Variables.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace runner {

// One mail as the job script describes it, with the working lists of the
// run. A fresh object is the state before reading.
struct TJobModel {
    std::vector<std::string> JobLines;

    std::string FromHeader;
    std::string FromAddress;
    std::string ToList, CcList, BccList;  // entries joined with ";"
    std::string Subject;
    std::vector<std::string> MessageLines;
    std::vector<std::string> Attachments;
    bool IsHtml = false;
    bool WantReceipt = false;

    tmpl::TTemplateLines TemplateLines;
    std::string TemplatePath;
    tmpl::TVariables Variables;
    tmpl::TBlocks Blocks;

    bool InMemo = false;
    std::string MemoName;
    std::string MemoText;

    // Server values for this mail only; empty text and -1 mean not given.
    std::string CfgHost, CfgPort, CfgUser, CfgPass;
    long CfgAuth = -1;
    long CfgSslType = -1;
    bool CfgUseSsl = false;
    TOAuthSettings CfgOAuth;
};

// Reads the tags of a job script into the job model, line by line; tags act
// at once, in file order.
class TJobScriptReader {
public:
    using TReport = std::function<void(const std::string&)>;

    // `showOrLog` receives the problems a user must hear of (missing
    // attachments); `oemChars` is the setting that converts DOS letters.
    TJobScriptReader(TJobModel& job, bool oemChars, TReport showOrLog);

    // Processes job.JobLines, then finishes the template with all variables.
    void ReadJobScript();

    // The text with DOS letters converted when the setting asks for it.
    std::string ConvertOemChars(const std::string& text) const;

    tmpl::TTagTokenizer Tokens;

private:
    using TAttributeHandler = std::function<bool(const std::string& name, const std::string& value)>;

    void ReadLine(const std::string& line);
    void DispatchTag();
    void ScanAttributes(std::initializer_list<const char*> names, const TAttributeHandler& handler);

    void TagFrom();
    void TagRecipient(std::string& list);
    void TagSubject();
    void TagMessage();
    void TagAttachment();
    void TagEmail();
    void TagTemplate();
    void TagVar();
    void TagMemo();
    void TagEndMemo();
    void TagBlock();
    void TagCfgEmail();

    void LoadTemplate(const std::string& path);
    void FinishMemo();

    TJobModel& job_;
    bool oemChars_;
    unsigned codePage_;
    TReport showOrLog_;
    tmpl::TExpansionBudget budget_;
};

} // namespace runner

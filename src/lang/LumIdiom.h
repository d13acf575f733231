#pragma once
// The language-file translator: section "Translations" replaces published
// properties of components found by their path of names, section
// "Messages" translates run-time messages, the English text being the key.

#include "platform/PublishedComponent.h"

#include <functional>
#include <string>
#include <vector>

namespace lang {

class TLumIdioma;

using TNotifyEvent = std::function<void(TLumIdioma& Sender)>;
// Raised for each property about to be set; the handler may change NewValue.
using TIdiomaNotifyEvent =
    std::function<void(TLumIdioma& Sender, platform::TPublishedComponent& AComponent,
                       const std::string& PropertyName, const std::string& OldValue, std::string& NewValue)>;

inline constexpr const char* TranslationsSection = "Translations";
inline constexpr const char* MessagesSection = "Messages";

class TLumIdioma {
public:
    std::string LanguageFile;
    // Keys to apply; empty: every key of the section "Translations".
    std::vector<std::string> Properties;
    TNotifyEvent OnBeforeTranslation;
    TNotifyEvent OnAfterTranslation;
    TIdiomaNotifyEvent OnTranslate;
    // Where key paths start: the application (then the first name is a
    // window's) or a window (then the first name must be its own).
    platform::TPublishedComponent* ObjStart = nullptr;

    // Splits values of list properties; empty keeps a value as one line.
    const std::string& Separator() const { return FSeparator; }
    // A blank value stores ",".
    void SetSeparator(const std::string& value);

    // Applies the section "Translations" to the components under ObjStart.
    // A missing file changes nothing.
    void Translate();
    // The translation of a message from the section "Messages", read from
    // the file anew; the text itself when the file, the key or a value
    // for it is missing.
    std::string TranslateMessage(const std::string& text) const;

    // Declares LanguageFile, Properties and Separator on the component's entry.
    void PublishProperties(platform::TPublishedComponent& entry);

private:
    void ApplyKey(std::string path, std::string value);
    void SetProperty(platform::TPublishedComponent& component, const std::string& name, const std::string& value);

    std::string FSeparator;
};

// A list property's value split at every separator, each piece trimmed; a
// trailing piece only when it is not blank. An empty separator gives the
// value as one line.
std::vector<std::string> SplitTranslation(const std::string& value, const std::string& separator);

} // namespace lang

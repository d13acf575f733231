#include "lang/LumIdiom.h"

#include "platform/IniFile.h"
#include "platform/TextUtil.h"

#include <exception>

namespace lang {

namespace {

// The name before the first "." (trimmed), taken off the path with its ".".
std::string TakeName(std::string& path)
{
    const auto dot = path.find('.');
    std::string name = platform::Trim(path.substr(0, dot));
    path = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    return name;
}

} // namespace

void TLumIdioma::SetSeparator(const std::string& value)
{
    FSeparator = platform::IsBlank(value) ? std::string(",") : value;
}

void TLumIdioma::Translate()
{
    if (OnBeforeTranslation)
        OnBeforeTranslation(*this);
    const platform::TIniFile file(LanguageFile);
    const std::vector<std::string> keys =
        Properties.empty() ? file.ReadSectionKeys(TranslationsSection) : Properties;
    for (const std::string& key : keys) {
        if (!platform::IsBlank(key))
            ApplyKey(key, file.ReadString(TranslationsSection, platform::Trim(key), ""));
    }
    if (OnAfterTranslation)
        OnAfterTranslation(*this);
}

void TLumIdioma::ApplyKey(std::string path, std::string value)
{
    if (!ObjStart)
        return;
    path = platform::Trim(path);
    if (ObjStart->IsForm()) {
        // The first name must be (the start of) this window's name; keys of
        // other windows are not for it.
        const std::string window = TakeName(path);
        if (!platform::SameTextAscii(window, ObjStart->Name().substr(0, window.size())))
            return;
    }
    if (path.empty())
        return;
    platform::TPublishedComponent* component = ObjStart;
    while (path.find('.') != std::string::npos) {
        const std::string name = TakeName(path);
        component = component ? component->FindComponent(name) : nullptr;
    }
    // An empty value never clears a property.
    if (!component || value.empty())
        return;
    const std::string property = platform::Trim(path);
    if (OnTranslate) {
        const platform::TPublishedProperty* p = component->FindProperty(property);
        const std::string oldValue = p && p->GetText ? p->GetText() : std::string();
        OnTranslate(*this, *component, property, oldValue, value);
    }
    SetProperty(*component, property, value);
}

void TLumIdioma::SetProperty(platform::TPublishedComponent& component, const std::string& name,
                             const std::string& value)
{
    const platform::TPublishedProperty* p = component.FindProperty(name);
    if (!p)
        return;
    try {
        switch (p->Kind) {
        case platform::TPropertyKind::Text:
            p->SetText(value);
            break;
        case platform::TPropertyKind::Integer:
            // Text that is no integer leaves the property as it was.
            if (auto number = platform::ParseProfileInteger(value))
                p->SetInteger(*number);
            break;
        case platform::TPropertyKind::Lines:
            p->SetLines(SplitTranslation(value, FSeparator));
            break;
        case platform::TPropertyKind::Other:
            break;  // no translation is defined for them
        }
    } catch (const std::exception&) {
        // A value the component refuses is ignored like a key naming nothing.
    }
}

std::string TLumIdioma::TranslateMessage(const std::string& text) const
{
    const std::string value = platform::TIniFile(LanguageFile).ReadString(MessagesSection, text, "");
    return value.empty() ? text : value;
}

void TLumIdioma::PublishProperties(platform::TPublishedComponent& entry)
{
    entry.PublishText("LanguageFile", LanguageFile);
    entry.PublishLines("Properties", Properties);
    entry.PublishText("Separator", [this] { return FSeparator; }, [this](const std::string& v) { SetSeparator(v); });
}

std::vector<std::string> SplitTranslation(const std::string& value, const std::string& separator)
{
    if (separator.empty())
        return {value};
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto at = value.find(separator); at != std::string::npos; at = value.find(separator, start)) {
        lines.push_back(platform::Trim(value.substr(start, at - start)));
        start = at + separator.size();
    }
    std::string last = platform::Trim(value.substr(start));
    if (!last.empty())
        lines.push_back(std::move(last));
    return lines;
}

} // namespace lang

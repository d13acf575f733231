#include "template/Variables.h"

#include "platform/TextUtil.h"

namespace tmpl {

namespace {

std::string KeyOf(const std::string& name)
{
    return platform::UpperAscii(platform::Trim(name));
}

// A name that itself holds "=" is filed under its text before the "=",
// as the entry reads back.
std::string EntryKey(const std::string& entry)
{
    return platform::Trim(entry.substr(0, entry.find('=')));
}

} // namespace

long TVariables::FindVariable(const std::string& name) const
{
    auto it = index_.find(KeyOf(name));
    return it == index_.end() ? -1 : static_cast<long>(it->second);
}

void TVariables::SetVariable(const std::string& name, const std::string& value)
{
    std::string entry = KeyOf(name) + "=" + platform::Trim(value);
    const long found = FindVariable(name);
    if (found >= 0) {
        entries_[static_cast<std::size_t>(found)] = std::move(entry);
        return;
    }
    index_.emplace(EntryKey(entry), entries_.size());
    entries_.push_back(std::move(entry));
}

std::string TVariables::GetVariable(const std::string& name) const
{
    const long found = FindVariable(name);
    if (found < 0)
        return {};
    const std::string& entry = entries_[static_cast<std::size_t>(found)];
    return entry.substr(entry.find('=') + 1);
}

void TVariables::Clear()
{
    entries_.clear();
    index_.clear();
}

} // namespace tmpl

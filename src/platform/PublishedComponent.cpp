#include "platform/PublishedComponent.h"

#include "platform/TextUtil.h"

#include <algorithm>

namespace platform {

namespace {

TPublishedProperty Declared(const std::string& name, TPropertyKind kind, std::function<std::string()> get)
{
    TPublishedProperty p;
    p.Name = name;
    p.Kind = kind;
    p.GetText = std::move(get);
    return p;
}

} // namespace

TPublishedComponent::TPublishedComponent(std::string name, TPublishedComponent* owner, TComponentRole role)
    : FName(std::move(name))
    , FOwner(owner)
    , FRole(role)
{
    if (FOwner)
        FOwner->FComponents.push_back(this);
}

TPublishedComponent::~TPublishedComponent()
{
    if (FOwner)
        std::erase(FOwner->FComponents, this);
    for (TPublishedComponent* owned : FComponents)
        owned->FOwner = nullptr;
}

TPublishedComponent* TPublishedComponent::FindComponent(const std::string& name) const
{
    for (TPublishedComponent* owned : FComponents)
        if (SameTextAscii(owned->FName, name))
            return owned;
    return nullptr;
}

const TPublishedProperty* TPublishedComponent::FindProperty(const std::string& name) const
{
    for (const TPublishedProperty& property : FProperties)
        if (SameTextAscii(property.Name, name))
            return &property;
    return nullptr;
}

void TPublishedComponent::Publish(TPublishedProperty property)
{
    // A later declaration of the same name replaces the earlier one, as an
    // override replaces the property of a base class.
    std::erase_if(FProperties, [&](const TPublishedProperty& p) { return SameTextAscii(p.Name, property.Name); });
    FProperties.push_back(std::move(property));
}

void TPublishedComponent::PublishText(const std::string& name, std::function<std::string()> get,
                                      std::function<void(const std::string&)> set)
{
    TPublishedProperty p = Declared(name, TPropertyKind::Text, std::move(get));
    p.SetText = std::move(set);
    Publish(std::move(p));
}

void TPublishedComponent::PublishText(const std::string& name, std::string& field)
{
    PublishText(name, [&field] { return field; }, [&field](const std::string& v) { field = v; });
}

void TPublishedComponent::PublishInteger(const std::string& name, std::function<long()> get,
                                         std::function<void(long)> set)
{
    TPublishedProperty p =
        Declared(name, TPropertyKind::Integer, [get = std::move(get)] { return std::to_string(get()); });
    p.SetInteger = std::move(set);
    Publish(std::move(p));
}

void TPublishedComponent::PublishInteger(const std::string& name, int& field)
{
    PublishInteger(name, [&field] { return static_cast<long>(field); },
                   [&field](long v) { field = static_cast<int>(v); });
}

void TPublishedComponent::PublishLines(const std::string& name, std::function<std::vector<std::string>()> get,
                                       std::function<void(const std::vector<std::string>&)> set)
{
    TPublishedProperty p =
        Declared(name, TPropertyKind::Lines, [get = std::move(get)] { return JoinTextLines(get()); });
    p.SetLines = std::move(set);
    Publish(std::move(p));
}

void TPublishedComponent::PublishLines(const std::string& name, std::vector<std::string>& field)
{
    PublishLines(name, [&field] { return field; }, [&field](const std::vector<std::string>& v) { field = v; });
}

void TPublishedComponent::PublishOther(const std::string& name, std::function<std::string()> get)
{
    Publish(Declared(name, TPropertyKind::Other, std::move(get)));
}

} // namespace platform

#pragma once
// Named access to the published properties of components: each component
// has a name, an owner and the components it owns, and declares its
// published properties by name and kind with a getter and a setter. Names
// are found without regard to ASCII letter case.

#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class TPropertyKind {
    Text,
    Integer,
    Lines,
    Other,  // enumerations, flags, numbers that are not integers, objects
};

struct TPublishedProperty {
    std::string Name;
    TPropertyKind Kind = TPropertyKind::Other;
    // Every kind reads as text: integers in decimal, lines joined with CR LF.
    std::function<std::string()> GetText;
    // The setter of the property's kind; the others stay empty.
    std::function<void(const std::string&)> SetText;
    std::function<void(long)> SetInteger;
    std::function<void(const std::vector<std::string>&)> SetLines;
};

enum class TComponentRole { Component, Form };

// The registry entry of one component. It joins its owner's list on
// construction and leaves it on destruction; components it still owns then
// lose their owner. It must not outlive the object its properties reach.
class TPublishedComponent {
public:
    TPublishedComponent(std::string name, TPublishedComponent* owner,
                        TComponentRole role = TComponentRole::Component);
    ~TPublishedComponent();
    TPublishedComponent(const TPublishedComponent&) = delete;
    TPublishedComponent& operator=(const TPublishedComponent&) = delete;

    const std::string& Name() const { return FName; }
    TPublishedComponent* Owner() const { return FOwner; }
    bool IsForm() const { return FRole == TComponentRole::Form; }
    const std::vector<TPublishedComponent*>& Components() const { return FComponents; }
    // The owned component of that name, or null.
    TPublishedComponent* FindComponent(const std::string& name) const;

    void PublishText(const std::string& name, std::function<std::string()> get,
                     std::function<void(const std::string&)> set);
    void PublishText(const std::string& name, std::string& field);
    void PublishInteger(const std::string& name, std::function<long()> get, std::function<void(long)> set);
    void PublishInteger(const std::string& name, int& field);
    void PublishLines(const std::string& name, std::function<std::vector<std::string>()> get,
                      std::function<void(const std::vector<std::string>&)> set);
    void PublishLines(const std::string& name, std::vector<std::string>& field);
    // A property that can be read but is set by no name-based access.
    void PublishOther(const std::string& name, std::function<std::string()> get);

    const std::vector<TPublishedProperty>& Properties() const { return FProperties; }
    // The property of that name, or null.
    const TPublishedProperty* FindProperty(const std::string& name) const;

private:
    void Publish(TPublishedProperty property);

    std::string FName;
    TPublishedComponent* FOwner;
    TComponentRole FRole;
    std::vector<TPublishedComponent*> FComponents;
    std::vector<TPublishedProperty> FProperties;
};

} // namespace platform

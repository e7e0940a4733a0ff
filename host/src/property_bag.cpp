// The values of one stored object, kept in the kinds its class declares, and
// the embedded objects that hold a bag of their own inside a variant.
#include "mgmt_store.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace tessera::host {

std::shared_ptr<const ClassDeclaration> DeclarationOf(const Declarations& declarations,
                                                      const std::wstring& class_name) {
    const auto found = declarations.find(class_name);
    return found == declarations.end() ? nullptr : found->second;
}

namespace {

// Reference-counted holder of an embedded object's values.
class EmbeddedObject final : public IUnknown {
public:
    explicit EmbeddedObject(PropertyBag bag) : properties(std::move(bag)) {}

    unsigned long AddRef() override { return ++references_; }
    unsigned long Release() override {
        const unsigned long remaining = --references_;
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

    PropertyBag properties;

private:
    ~EmbeddedObject() override = default;
    std::atomic<unsigned long> references_{1};
};

// `value` (1 or 0 for a bool) in the integer kind `kind`.
_variant_t IntegerOfKind(VARTYPE kind, std::int32_t value) {
    _variant_t result(value);
    result.vt = kind;  // every integer kind shares the 32 bits of lVal
    return result;
}

}  // namespace

const ClassDeclaration::Property* ClassDeclaration::Find(std::wstring_view name) const {
    const auto found = std::find_if(properties.begin(), properties.end(),
                                    [&name](const auto& property) { return property.first == name; });
    return found == properties.end() ? nullptr : &found->second;
}

PropertyBag::PropertyBag(std::shared_ptr<const ClassDeclaration> declaration) : declaration_(std::move(declaration)) {}

const std::vector<PropertyBag::Item>& PropertyBag::Items() const {
    static const std::vector<Item> kNone;
    return items_ ? *items_ : kNone;
}

std::vector<PropertyBag::Item>& PropertyBag::OwnItems() {
    if (!items_) {
        items_ = std::make_shared<std::vector<Item>>();
    } else if (items_.use_count() > 1) {
        items_ = std::make_shared<std::vector<Item>>(*items_);  // embedded objects are copied with their variants
    }
    return *items_;
}

const _variant_t* PropertyBag::Find(std::wstring_view name) const {
    const std::vector<Item>& items = Items();
    const auto found =
        std::find_if(items.begin(), items.end(), [&name](const auto& item) { return item.first == name; });
    return found == items.end() ? nullptr : &found->second;
}

_variant_t* PropertyBag::Find(std::wstring_view name) {
    if (std::as_const(*this).Find(name) == nullptr) return nullptr;
    OwnItems();
    return const_cast<_variant_t*>(std::as_const(*this).Find(name));
}

void PropertyBag::Set(std::wstring_view name, _variant_t value) {
    const ClassDeclaration::Property* declared = declaration_ ? declaration_->Find(name) : nullptr;
    if (declared != nullptr && declared->members) {
        if (PropertyBag* embedded = EmbeddedProperties(value)) {
            embedded->Declare(declared->members);
        }
    }
    if (_variant_t* existing = Find(name)) {
        *existing = std::move(value);
    } else {
        OwnItems().emplace_back(name, std::move(value));
    }
}

void PropertyBag::SetBool(std::wstring_view name, bool value) {
    const ClassDeclaration::Property* declared = declaration_ ? declaration_->Find(name) : nullptr;
    if (declared != nullptr && IsIntegerKind(declared->kind)) {
        Set(name, IntegerOfKind(declared->kind, value ? 1 : 0));
    } else {
        Set(name, _variant_t(value));
    }
}

void PropertyBag::SetInt(std::wstring_view name, std::int32_t value) {
    const ClassDeclaration::Property* declared = declaration_ ? declaration_->Find(name) : nullptr;
    if (declared != nullptr && declared->kind == VT_BOOL) {
        Set(name, _variant_t(value != 0));
    } else if (declared != nullptr && IsIntegerKind(declared->kind)) {
        Set(name, IntegerOfKind(declared->kind, value));
    } else {
        Set(name, _variant_t(value));
    }
}

void PropertyBag::SetText(std::wstring_view name, const wchar_t* text) { Set(name, _variant_t(text)); }

void PropertyBag::Erase(std::wstring_view name) {
    if (Find(name) == nullptr) return;
    std::vector<Item>& items = OwnItems();
    items.erase(std::remove_if(items.begin(), items.end(), [&name](const auto& item) { return item.first == name; }),
                items.end());
}

void PropertyBag::Declare(std::shared_ptr<const ClassDeclaration> declaration) {
    declaration_ = std::move(declaration);
    if (!declaration_ || !items_) {
        return;
    }
    for (auto& [name, value] : OwnItems()) {
        const ClassDeclaration::Property* declared = declaration_->Find(name);
        if (declared == nullptr || !declared->members) {
            continue;
        }
        if (PropertyBag* embedded = EmbeddedProperties(value)) {
            embedded->Declare(declared->members);
        }
    }
}

_variant_t MakeEmbeddedValue(PropertyBag properties) {
    _variant_t value;
    value.punkVal = new EmbeddedObject(std::move(properties));
    value.vt = VT_UNKNOWN;
    return value;
}

PropertyBag* EmbeddedProperties(const VARIANT& value) {
    if (value.vt != VT_UNKNOWN || value.punkVal == nullptr) {
        return nullptr;
    }
    auto* embedded = dynamic_cast<EmbeddedObject*>(value.punkVal);
    return embedded == nullptr ? nullptr : &embedded->properties;
}

}  // namespace tessera::host

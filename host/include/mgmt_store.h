// The management store as the pages see it: the property bags that hold one
// object's values, their class declarations, the backend interface of the
// store and audit log, and the current backend. The console's SQLite store and
// the JSON form are in store_include/, out of the plug-in's view.
#pragma once

#include "host_api.h"
#include "variant.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessera::host {

// The declared kind of each property of a class; an embedded object (VT_UNKNOWN)
// carries the declarations of its own members.
struct TESSERA_HOST_API ClassDeclaration {
    struct Property {
        VARTYPE kind = VT_EMPTY;                          // VT_BOOL, VT_I4, VT_BSTR, VT_ARRAY|VT_BSTR or VT_UNKNOWN
        std::shared_ptr<const ClassDeclaration> members;  // for VT_UNKNOWN
    };
    std::vector<std::pair<std::wstring, Property>> properties;  // in declaration order

    const Property* Find(std::wstring_view name) const;
};
using Declarations = std::map<std::wstring, std::shared_ptr<const ClassDeclaration>>;

// The declaration of `class_name`, or null when the class is not declared.
TESSERA_HOST_API std::shared_ptr<const ClassDeclaration> DeclarationOf(const Declarations& declarations,
                                                                       const std::wstring& class_name);

// One object's values by name, in the order first set; knows its declaration.
// Copies share the values until one of them changes: a page that reads a
// stored object copies nothing, and a change copies the values once. An
// embedded object reached for a change (the non-const Find, or a view's
// GetPropertyValue) belongs to its bag alone by then.
class TESSERA_HOST_API PropertyBag {
public:
    using Item = std::pair<std::wstring, _variant_t>;

    PropertyBag() = default;
    explicit PropertyBag(std::shared_ptr<const ClassDeclaration> declaration);

    const _variant_t* Find(std::wstring_view name) const;
    _variant_t* Find(std::wstring_view name);
    // Stores the value exactly as given.
    void Set(std::wstring_view name, _variant_t value);
    // Stores the value in the declared kind where the conversion is defined.
    void SetBool(std::wstring_view name, bool value);
    void SetInt(std::wstring_view name, std::int32_t value);
    void SetText(std::wstring_view name, const wchar_t* text);
    // Removes the value; nothing when there is none.
    void Erase(std::wstring_view name);

    const std::vector<Item>& Items() const;
    const std::shared_ptr<const ClassDeclaration>& Declaration() const { return declaration_; }
    // Attaches the declaration, and the members' declarations to embedded objects.
    void Declare(std::shared_ptr<const ClassDeclaration> declaration);

private:
    // The values, this bag's alone from here on.
    std::vector<Item>& OwnItems();

    std::shared_ptr<const ClassDeclaration> declaration_;
    std::shared_ptr<std::vector<Item>> items_;  // null: no values
};

// A VT_UNKNOWN variant holding an embedded object with these values.
TESSERA_HOST_API _variant_t MakeEmbeddedValue(PropertyBag properties);
// The values of an embedded object, or null when `value` holds none.
TESSERA_HOST_API PropertyBag* EmbeddedProperties(const VARIANT& value);

// Malformed JSON; what() names the place ("QZ_UrlFilter/URL_FILTER/EnableArchive: ...").
class TESSERA_HOST_API StoreFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct StoredInstance {
    std::wstring class_name;
    std::wstring instance_name;
    PropertyBag properties;
};
struct AuditRecord {
    std::int64_t seq = 0;     // assigned by the backend, increasing
    std::string time;         // ISO-8601 UTC, assigned by the backend
    std::wstring context[3];  // user, client address, page ID
    int event_type = 0;
    int source_type = 0;
    std::wstring message;
    std::string action;  // what the console ran ("save", "sign-in" ...); empty when not known
    // The console's note beside the record, not part of it: why the change
    // the record reports was rolled back and never stored; empty when it was
    // stored, or when the record reports no change of the store.
    std::string rolled_back;
    // Through what it came ("browser", "api", "command line"), and for the
    // automation API the token's name; empty when not known.
    std::string channel;
    std::string token;
};

class TESSERA_HOST_API StoreBackend {
public:
    virtual ~StoreBackend();

    // Reads an instance into `out` with its class declaration attached. False
    // when it does not exist or cannot be read in time.
    virtual bool Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) = 0;
    // Replaces the values of an existing instance, all or nothing. False when the
    // instance does not exist or the write cannot commit.
    virtual bool Save(const std::wstring& class_name, const std::wstring& instance_name,
                      const PropertyBag& properties) = 0;

    virtual bool AppendAudit(AuditRecord record) = 0;
    virtual std::vector<AuditRecord> ReadAudit() = 0;  // oldest first

    // Administration: instances ordered by class, then instance; a null filter matches all.
    virtual std::vector<StoredInstance> List(const std::wstring* class_name, const std::wstring* instance_name) = 0;
    // Creates or replaces each instance whole, all in one transaction; throws
    // std::runtime_error when it cannot commit (nothing is then changed).
    virtual void Replace(const std::vector<StoredInstance>& instances) = 0;
    // False when there was no such instance.
    virtual bool Delete(const std::wstring& class_name, const std::wstring& instance_name) = 0;

    virtual const Declarations& ClassDeclarations() const = 0;
};

// The backend that CMgmtObject, InsertAuditLog and the console use. Throws
// std::logic_error from CurrentStore when none was set.
TESSERA_HOST_API void SetCurrentStore(std::shared_ptr<StoreBackend> store);
TESSERA_HOST_API std::shared_ptr<StoreBackend> CurrentStore();

}  // namespace tessera::host

// Backends of the management store and audit log: SQLite for the console, an
// in-memory store for tests (it can be told to fail a given Get or Put), the
// property bags that hold one object's values, and their JSON form used by the
// provisioning file and the console's dump and load:
//   {"<class>": {"<instance>": {"<property>": {"vt": N, "value": ...}}}}
#pragma once

#include "host_api.h"
#include "variant.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tessera::host {

// The declared kind of each property of a class; an embedded object (VT_UNKNOWN)
// carries the declarations of its own members.
struct TESSERA_HOST_API ClassDeclaration {
    struct Property {
        VARTYPE kind = VT_EMPTY;  // VT_BOOL, VT_I4, VT_BSTR, VT_ARRAY|VT_BSTR or VT_UNKNOWN
        std::shared_ptr<const ClassDeclaration> members;  // for VT_UNKNOWN
    };
    std::vector<std::pair<std::wstring, Property>> properties;  // in declaration order

    const Property* Find(const std::wstring& name) const;
};
using Declarations = std::map<std::wstring, std::shared_ptr<const ClassDeclaration>>;

// The declaration of `class_name`, or null when the class is not declared.
TESSERA_HOST_API std::shared_ptr<const ClassDeclaration> DeclarationOf(const Declarations& declarations,
                                                                       const std::wstring& class_name);

// One object's values by name, in the order first set; knows its declaration.
class TESSERA_HOST_API PropertyBag {
public:
    PropertyBag() = default;
    explicit PropertyBag(std::shared_ptr<const ClassDeclaration> declaration);

    const _variant_t* Find(const std::wstring& name) const;
    _variant_t* Find(const std::wstring& name);
    // Stores the value exactly as given.
    void Set(const std::wstring& name, _variant_t value);
    // Stores the value in the declared kind where the conversion is defined.
    void SetBool(const std::wstring& name, bool value);
    void SetInt(const std::wstring& name, std::int32_t value);
    void SetText(const std::wstring& name, const wchar_t* text);

    const std::vector<std::pair<std::wstring, _variant_t>>& Items() const { return items_; }
    const std::shared_ptr<const ClassDeclaration>& Declaration() const { return declaration_; }
    // Attaches the declaration, and the members' declarations to embedded objects.
    void Declare(std::shared_ptr<const ClassDeclaration> declaration);

private:
    std::shared_ptr<const ClassDeclaration> declaration_;
    std::vector<std::pair<std::wstring, _variant_t>> items_;
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

TESSERA_HOST_API nlohmann::ordered_json ValueToJson(const VARIANT& value);
TESSERA_HOST_API _variant_t ValueFromJson(const nlohmann::json& json, const std::string& place);
TESSERA_HOST_API nlohmann::ordered_json PropertiesToJson(const PropertyBag& properties);
TESSERA_HOST_API PropertyBag PropertiesFromJson(const nlohmann::json& json, const std::string& place);
// Class declarations: {"<class>": {"<property>": VT, "<embedded>": {"<member>": VT, ...}}}.
TESSERA_HOST_API Declarations DeclarationsFromJson(const nlohmann::json& json);

struct StoredInstance {
    std::wstring class_name;
    std::wstring instance_name;
    PropertyBag properties;
};
// Parses a whole document in the JSON format above; throws StoreFormatError.
TESSERA_HOST_API std::vector<StoredInstance> InstancesFromJson(const nlohmann::json& json);
TESSERA_HOST_API nlohmann::ordered_json InstancesToJson(const std::vector<StoredInstance>& instances);

struct AuditRecord {
    std::int64_t seq = 0;       // assigned by the backend, increasing
    std::string time;           // ISO-8601 UTC, assigned by the backend
    std::wstring context[3];    // user, client address, page ID
    int event_type = 0;
    int source_type = 0;
    std::wstring message;
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

// What became of the writes of one administrative action.
struct ActionOutcome {
    bool is_stored = true;
    std::string refusal;  // when not stored: why, in plain words for the administrator
};

// SQLite in WAL mode, one connection per thread, every write one BEGIN IMMEDIATE
// transaction with synchronous=FULL, prepared statements only. Reading never
// needs the write lock. Audit records the store cannot take are kept in
// `<store file>.pending-audit` (owner-only, one JSON object a line) and written
// by the next transaction that commits.
class TESSERA_HOST_API SqliteStore : public StoreBackend {
public:
    // Opens or creates the database. On first use (no declarations stored) it is
    // provisioned from `resource_dir`/classes.json and `resource_dir`/provision.json;
    // a provisioned store opens without the write lock. Audit records kept aside
    // are written when the write lock comes within the busy timeout, else later.
    // The busy timeout is TESSERA_STORE_BUSY_MS when set, else 5000 ms. Throws
    // std::runtime_error naming the file when it cannot be opened or provisioned.
    static std::shared_ptr<SqliteStore> Open(const std::filesystem::path& database_file,
                                             const std::filesystem::path& resource_dir);
    ~SqliteStore() override;

    bool Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) override;
    bool Save(const std::wstring& class_name, const std::wstring& instance_name,
              const PropertyBag& properties) override;
    // Outside an action a record the store cannot take is kept aside, never lost.
    bool AppendAudit(AuditRecord record) override;
    // The stored records, then those kept aside (seq 0), oldest first.
    std::vector<AuditRecord> ReadAudit() override;
    std::vector<StoredInstance> List(const std::wstring* class_name, const std::wstring* instance_name) override;
    void Replace(const std::vector<StoredInstance>& instances) override;
    bool Delete(const std::wstring& class_name, const std::wstring& instance_name) override;
    const Declarations& ClassDeclarations() const override { return declarations_; }

    // Runs `action` on this thread as one transaction, taken before it starts
    // (waiting up to the busy timeout for the write lock): its Loads see one
    // state, and its Saves and audit records are stored together when it
    // returns, or none of them is. When the store refuses a write (busy past
    // the timeout, read-only, disk full, I/O error) the transaction is rolled
    // back at once; the action's later Saves fail without waiting, its Loads
    // read what is stored, and its audit records are kept aside. Rolls back and
    // rethrows what `action` throws, keeping its audit records aside.
    ActionOutcome RunAction(const std::function<void()>& action);

    const std::filesystem::path& File() const { return file_; }
    int BusyTimeoutMs() const { return busy_timeout_ms_; }

private:
    SqliteStore(std::filesystem::path file, int busy_timeout_ms);
    struct Connection;
    Connection& ThreadConnection();
    class PendingAudit;
    class DecodedCache;

    std::filesystem::path file_;
    std::shared_ptr<PendingAudit> pending_audit_;
    std::shared_ptr<DecodedCache> decoded_cache_;
    int busy_timeout_ms_;
    Declarations declarations_;
    std::uint64_t store_id_;  // tells this store's per-thread connections from another's
};

// The backend that CMgmtObject, InsertAuditLog and the console use. Throws
// std::logic_error from CurrentStore when none was set.
TESSERA_HOST_API void SetCurrentStore(std::shared_ptr<StoreBackend> store);
TESSERA_HOST_API std::shared_ptr<StoreBackend> CurrentStore();

}  // namespace tessera::host

// The console's management store: one connection per thread and store, every
// write one transaction that no other writer interleaves with, so that a crash
// or a concurrent writer never leaves half an object stored and a commit that
// returned is never lost. The engine (SQLite, PostgreSQL) is the connection's.
#include "console_store.h"
#include "audit_chain.h"
#include "audit_rows.h"
#include "change_journal.h"
#include "decoded_cache.h"
#include "large_objects.h"
#include "os_string.h"
#include "pending_audit.h"
#include "postgres_database.h"
#include "sql_text.h"
#include "sqlite_database.h"
#include "store_errors.h"
#include "store_json.h"
#include "store_provisioning.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace tessera::host {

using namespace sql;

namespace {

constexpr int kDefaultBusyTimeoutMs = 5000;
constexpr int kMaxBusyTimeoutMs = 10 * 60 * 1000;
constexpr const char* kBusyTimeoutVariable = "TESSERA_STORE_BUSY_MS";
constexpr const char* kPendingAuditSuffix = ".pending-audit";
constexpr const char* kSqliteScheme = "sqlite:";
constexpr const char* kStoreFileName = "store.db";

int BusyTimeoutFromEnvironment() {
    const char* text = std::getenv(kBusyTimeoutVariable);
    if (text == nullptr) {
        return kDefaultBusyTimeoutMs;
    }
    const std::string_view digits(text);
    int milliseconds = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), milliseconds);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || milliseconds < 0 ||
        milliseconds > kMaxBusyTimeoutMs) {
        throw std::runtime_error(std::string(kBusyTimeoutVariable) + " must be a whole number of milliseconds" +
                                 " from 0 to " + std::to_string(kMaxBusyTimeoutMs) + ", not \"" +
                                 std::string(digits.substr(0, 32)) + "\"");
    }
    return milliseconds;
}

// Every connection of a store, so that its destructor can close those of other
// threads. Never destroyed: a store may be destroyed during exit.
struct ConnectionRegistry {
    std::mutex mutex;
    std::map<std::uint64_t, std::vector<std::weak_ptr<Database>>> by_store;
};

ConnectionRegistry& Registry() {
    static auto* registry = new ConnectionRegistry;
    return *registry;
}

// This thread's connections by store id; closed when the thread ends.
thread_local std::map<std::uint64_t, std::shared_ptr<Database>> t_connections;

std::atomic<std::uint64_t> g_next_store_id{1};

// The stored properties of one row, with the class declaration attached.
PropertyBag PropertiesFromRow(std::string_view text, const std::string& place,
                              std::shared_ptr<const ClassDeclaration> declaration) {
    nlohmann::ordered_json json;
    try {
        json = nlohmann::ordered_json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& error) {
        throw StoreFormatError(place + ": " + error.what());
    }
    PropertyBag properties = detail::PropertiesFromJson(json, place);
    properties.Declare(std::move(declaration));
    return properties;
}

}  // namespace

StoreAddress ParseStoreAddress(const std::string& url, const std::filesystem::path& data_dir) {
    if (url.empty()) {
        const std::filesystem::path file = data_dir / kStoreFileName;
        return {StoreAddress::Engine::kSqlite, file.string(), file.string() + kPendingAuditSuffix};
    }
    if (url.rfind(kSqliteScheme, 0) == 0 && url.size() > std::strlen(kSqliteScheme)) {
        const std::string file = url.substr(std::strlen(kSqliteScheme));
        return {StoreAddress::Engine::kSqlite, file, file + kPendingAuditSuffix};
    }
    if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) {
        PostgresDisplayName(url);  // refuses one it cannot read, or with a password
        return {StoreAddress::Engine::kPostgresql, url, data_dir / (std::string("store") + kPendingAuditSuffix)};
    }
    throw std::invalid_argument("the store URL must be sqlite:PATH or postgresql://..., not \"" + url.substr(0, 200) +
                                "\"");
}

std::string StoreName(const StoreAddress& address) {
    return address.engine == StoreAddress::Engine::kSqlite ? address.target : PostgresDisplayName(address.target);
}

ConsoleStore::ConsoleStore(StoreAddress address, int busy_timeout_ms)
    : address_(std::move(address)),
      name_(StoreName(address_)),
      pending_audit_(std::make_shared<PendingAudit>(address_.pending_audit_file)),
      decoded_cache_(std::make_shared<DecodedCache>()),
      busy_timeout_ms_(busy_timeout_ms),
      store_id_(g_next_store_id++) {}

std::shared_ptr<ConsoleStore> ConsoleStore::Open(const std::filesystem::path& database_file,
                                                 const std::filesystem::path& resource_dir) {
    return Open(ParseStoreAddress(kSqliteScheme + database_file.string(), {}), resource_dir);
}

std::shared_ptr<ConsoleStore> ConsoleStore::Open(const StoreAddress& address, const std::filesystem::path& resource_dir,
                                                 bool may_provision) {
    std::shared_ptr<ConsoleStore> store(new ConsoleStore(address, BusyTimeoutFromEnvironment()));
    // Of several processes opening a fresh file at once, SQLite may report one
    // as busy without waiting (while another switches the file to write-ahead
    // logging): that one starts over, until the busy timeout has passed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(store->busy_timeout_ms_);
    try {
        for (;;) {
            try {
                Database& connection = store->ThreadConnection();
                if (!IsProvisioned(connection)) {
                    if (!may_provision) {
                        throw StoreAbsent(store->name_ + " holds no store yet (serve, or store copy, makes one)");
                    }
                    Provision(connection, resource_dir);
                }
                if (connection.MayNeedUpgrades()) Upgrade(connection);
                store->declarations_ = ReadDeclarations(connection);
                break;
            } catch (const StoreError& error) {
                if (error.Kind() != Refusal::kBusy || std::chrono::steady_clock::now() >= deadline) throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    } catch (const StoreFormatError& error) {
        throw std::runtime_error(store->name_ + ": the stored class declarations are unreadable: " + error.what());
    }
    if (!store->pending_audit_->Peek().records.empty()) {
        store->RunAction([] {});  // a store that still refuses keeps them for later
    }
    return store;
}

ConsoleStore::~ConsoleStore() {
    std::vector<std::weak_ptr<Database>> connections;
    {
        ConnectionRegistry& registry = Registry();
        const std::lock_guard lock(registry.mutex);
        auto node = registry.by_store.extract(store_id_);
        if (!node.empty()) {
            connections = std::move(node.mapped());
        }
    }
    for (const std::weak_ptr<Database>& weak : connections) {
        if (const std::shared_ptr<Database> connection = weak.lock()) {
            connection->Close();
        }
    }
}

std::shared_ptr<Database> sql::Connect(const StoreAddress& address, int busy_timeout_ms) {
    if (address.engine == StoreAddress::Engine::kSqlite) {
        return std::make_shared<SqliteDatabase>(address.target, busy_timeout_ms);
    }
    return std::make_shared<PostgresDatabase>(address.target, busy_timeout_ms);
}

Database& ConsoleStore::ThreadConnection() {
    // Connections of stores destroyed since are closed already; let them go.
    for (auto entry = t_connections.begin(); entry != t_connections.end();) {
        entry = entry->second->IsOpen() ? std::next(entry) : t_connections.erase(entry);
    }
    const auto found = t_connections.find(store_id_);
    if (found != t_connections.end()) {
        Database& existing = *found->second;
        // A connection the server dropped is kept to the end of the action or
        // reading that uses it (whose statements all fail), then replaced.
        if (!existing.IsLost() || existing.CurrentAction() != nullptr || existing.is_reading) {
            return existing;
        }
        existing.Close();
        t_connections.erase(found);
    }
    std::shared_ptr<Database> connection = Connect(address_, busy_timeout_ms_);
    {
        ConnectionRegistry& registry = Registry();
        const std::lock_guard lock(registry.mutex);
        std::vector<std::weak_ptr<Database>>& connections = registry.by_store[store_id_];
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                                         [](const std::weak_ptr<Database>& weak) { return weak.expired(); }),
                          connections.end());
        connections.push_back(connection);
    }
    t_connections.emplace(store_id_, connection);
    return *connection;
}

bool ConsoleStore::Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) {
    const std::string place = PlaceOf(class_name, instance_name);
    Database* reading = nullptr;
    try {
        Database& connection = ThreadConnection();
        reading = &connection;
        if (connection.HasRevisions()) return LoadRevision(connection, class_name, instance_name, place, out);
        const std::optional<std::uint32_t> version = connection.reading_version;
        if (version) {
            const auto seen = connection.loaded.find(place);
            if (seen != connection.loaded.end() && seen->second.data_version == *version &&
                decoded_cache_->FindGeneration(place, seen->second.generation, out)) {
                return true;
            }
        }
        Statement select(connection, kSelectInstance);
        if (!select.Bind(1, OS::ToUtf8(class_name)).Bind(2, OS::ToUtf8(instance_name)).Step()) {
            return false;
        }
        const std::string_view text = select.TextView(0);
        std::uint64_t generation = decoded_cache_->Find(place, text, out);
        if (generation == 0) {
            out = PropertiesFromRow(text, place, DeclarationOf(declarations_, class_name));
            generation = decoded_cache_->Keep(place, std::string(text), out);
        }
        if (version) {
            connection.loaded[place] = Database::Loaded{*version, generation};
        }
        return true;
    } catch (const std::runtime_error& error) {
        LogFailure(__LINE__, "Cannot load " + place + ": " + error.what());
        // An object that is there but cannot be read is no empty object: the
        // action that needed it is refused, the page that shows it says so.
        if (reading != nullptr && reading->CurrentAction() != nullptr) {
            reading->Refuse(error);
        } else if (reading != nullptr && !reading->read_failure) {
            reading->read_failure = PlainReason(error);
        }
        return false;
    }
}

std::string sql::PlaceOf(const std::wstring& class_name, const std::wstring& instance_name) {
    return OS::ToUtf8(class_name) + "/" + OS::ToUtf8(instance_name);
}

std::optional<Database::Stamps> sql::ReadingStamps(Database& connection, const std::string& place) {
    if (!connection.is_reading || !connection.HasRevisions()) return std::nullopt;
    if (!connection.reading_stamps) {
        std::map<std::string, Database::Stamps> stamps;
        Statement every(connection, kSelectEveryStamp);
        while (every.Step())
            stamps.emplace(every.Text(0) + "/" + every.Text(1), Database::Stamps{every.Integer(2), every.Integer(3)});
        connection.reading_stamps = std::move(stamps);
    }
    const auto found = connection.reading_stamps->find(place);
    return found == connection.reading_stamps->end() ? Database::Stamps{0, 0} : found->second;
}

bool ConsoleStore::LoadRevision(Database& connection, const std::wstring& class_name, const std::wstring& instance_name,
                                const std::string& place, PropertyBag& out) {
    const std::string class_text = OS::ToUtf8(class_name);
    const std::string instance_text = OS::ToUtf8(instance_name);
    std::int64_t stored_revision = 0;
    if (const std::optional<Database::Stamps> stamps = ReadingStamps(connection, place)) {
        if (stamps->revision == 0) return false;
        stored_revision = stamps->revision;
    } else {
        // An action's own writes give new revisions: each is read as it stands.
        Statement revision(connection, kSelectRevision);
        if (!revision.Bind(1, class_text).Bind(2, instance_text).Step()) return false;
        stored_revision = revision.Integer(0);
    }
    if (decoded_cache_->FindRevision(place, stored_revision, out)) return true;
    Statement select(connection, kSelectRevisionAndText);
    if (!select.Bind(1, class_text).Bind(2, instance_text).Step()) return false;  // deleted in between
    out = PropertiesFromRow(select.TextView(1), place, DeclarationOf(declarations_, class_name));
    decoded_cache_->Keep(place, {}, out, select.Integer(0));
    return true;
}

bool ConsoleStore::Save(const std::wstring& class_name, const std::wstring& instance_name,
                        const PropertyBag& properties) {
    const std::string place = PlaceOf(class_name, instance_name);
    Database* database = nullptr;
    try {
        database = &ThreadConnection();
        Database::Action* action = database->CurrentAction();
        if (action != nullptr && action->refusal) {
            LogFailure(__LINE__, "Cannot save " + place + ": " + *action->refusal);
            return false;
        }
        // The text is written beside the journal's look at the change.
        auto encoding = std::async(LaunchFor(properties), [&properties] { return StoredTextOf(properties); });
        // An action's changes are journaled: what the object held before is
        // read inside the action's transaction, from the decoded cache.
        PropertyBag before;
        if (action != nullptr && !Load(class_name, instance_name, before)) return false;
        nlohmann::json change =
            action != nullptr ? DescribeChange(class_name, instance_name, before, properties) : nlohmann::json();
        StoredText stored = encoding.get();
        std::int64_t revision = 0;
        const bool is_stored = database->Write([&] {
            Statement(*database, kUpdateInstance)
                .Bind(1, OS::ToUtf8(class_name))
                .Bind(2, OS::ToUtf8(instance_name))
                .Bind(3, stored.text)
                .Step();
            if (database->Changes() != 1) return false;
            if (database->HasRevisions()) {
                Statement select(*database, kSelectRevision);
                select.Bind(1, OS::ToUtf8(class_name)).Bind(2, OS::ToUtf8(instance_name)).Step();
                revision = select.Integer(0);
            }
            return true;
        });
        if (is_stored && !change.is_null()) action->changes.push_back(std::move(change));
        // What a load of the stored text gives, kept with its text: the page
        // that follows a save finds it in the decoded cache instead of parsing
        // 35 MB for a list of a million entries. Should the action be rolled
        // back, the stored text (or revision) differs and the next load decodes
        // that instead.
        if (is_stored && stored.is_exact) {
            PropertyBag decoded = properties;  // shares the lists until one changes
            decoded.Declare(DeclarationOf(declarations_, class_name));
            if (revision != 0) stored.text.clear();  // the revision names it
            decoded_cache_->Keep(place, std::move(stored.text), std::move(decoded), revision);
        }
        return is_stored;
    } catch (const StoreError& error) {
        database->Refuse(error);
        LogFailure(__LINE__, "Cannot save " + place + ": " + error.what());
        return false;
    } catch (const std::runtime_error& error) {
        LogFailure(__LINE__, "Cannot save " + place + ": " + error.what());
        return false;
    }
}

bool ConsoleStore::AppendAudit(AuditRecord record) {
    try {
        Database& database = ThreadConnection();
        if (Database::Action* action = database.CurrentAction()) {
            action->audit.push_back(std::move(record));
            return true;
        }
        return database.Write([&] {
            InsertAudit(database, record);
            return true;
        });
    } catch (const std::runtime_error& error) {
        LogFailure(__LINE__, std::string("Cannot append an audit record; it is kept aside: ") + error.what());
        pending_audit_->Keep({record});
        return false;
    }
}

std::optional<std::string> ConsoleStore::RunReading(const std::function<void()>& reading) {
    Database& database = ThreadConnection();
    if (database.CurrentAction() != nullptr || database.IsInTransaction()) {
        reading();  // already inside a transaction, which it shares
        return std::nullopt;
    }
    database.read_failure.reset();
    try {
        database.BeginReading();
        database.reading_version = database.DataVersion();
        database.is_reading = true;
    } catch (const std::runtime_error& error) {
        database.RollBack();
        LogFailure(__LINE__, std::string("Cannot begin a read transaction; each read is its own: ") + error.what());
        reading();
        return std::exchange(database.read_failure, std::nullopt);
    }
    try {
        reading();
    } catch (...) {
        database.is_reading = false;
        database.reading_version.reset();
        database.reading_stamps.reset();
        database.read_failure.reset();
        database.RollBack();
        throw;
    }
    database.is_reading = false;
    database.reading_version.reset();
    database.reading_stamps.reset();
    try {
        database.Commit();
    } catch (const std::runtime_error&) {
        database.RollBack();  // a transaction that only read has nothing to lose
    }
    return std::exchange(database.read_failure, std::nullopt);
}

ActionOutcome ConsoleStore::RunAction(const std::function<void()>& action, const std::string& action_name,
                                      ActionEffect effect, const ActionChannel& channel) {
    if (ThreadConnection().IsReadOnly()) {
        ThreadConnection().Close();  // the file may be writable again; the next connection finds out
    }
    Database& database = ThreadConnection();
    Database::Action state;
    PendingAudit::Taken pending;
    try {
        database.BeginWriting();
        pending = pending_audit_->Peek();
    } catch (const std::runtime_error& error) {
        state.refusal = PlainReason(error);
    }
    const auto name_records = [&] {
        for (AuditRecord& record : state.audit) {
            if (record.action.empty()) record.action = action_name;
            if (record.channel.empty()) {
                record.channel = channel.name;
                record.token = channel.token;
            }
        }
    };
    const auto keep_rolled_back = [&](const std::string& reason) {
        name_records();
        for (AuditRecord& record : state.audit) {
            if (effect == ActionEffect::kChangesStore) record.rolled_back = reason;
        }
        pending_audit_->Keep(state.audit);
    };
    database.SetAction(&state);
    try {
        action();
    } catch (const AbandonedAction& abandoned) {
        database.SetAction(nullptr);
        database.RollBack();
        LogFailure(__LINE__,
                   std::string("An action was abandoned, and its audit records with it: ") + abandoned.what());
        return {false, abandoned.what(), 0, {}};
    } catch (const std::exception& error) {
        database.SetAction(nullptr);
        database.RollBack();
        keep_rolled_back(std::string("the action failed (") + error.what() + ")");
        throw;
    } catch (...) {
        database.SetAction(nullptr);
        database.RollBack();
        keep_rolled_back("the action failed");
        throw;
    }
    database.SetAction(nullptr);
    name_records();
    ActionOutcome outcome;
    if (!state.refusal) {
        try {
            for (const AuditRecord& record : pending.records) {
                InsertAudit(database, record);
            }
            for (const AuditRecord& record : state.audit) {
                outcome.audit_seq = InsertAudit(database, record);
            }
            if (!state.changes.empty()) {
                if (outcome.audit_seq == 0) {
                    LogFailure(__LINE__, "An action without an audit record changed the store; History cannot show it");
                } else {
                    RecordChanges(database, outcome.audit_seq, action_name, state.changes, outcome.changes_summary);
                }
            }
            database.Commit();
            pending_audit_->Drop(pending);
        } catch (const std::runtime_error& error) {
            database.RollBack();
            state.refusal = PlainReason(error);
        }
    }
    if (state.refusal) {
        LogFailure(__LINE__, "A change was not stored, and its audit records are kept aside: " + *state.refusal);
        keep_rolled_back(*state.refusal);
        // Whatever refused (a file replaced, a disk remounted), the next
        // action meets the store afresh.
        database.Close();
        return {false, *state.refusal, 0, {}};
    }
    return outcome;
}

std::vector<std::string> ConsoleStore::CheckIntegrity(bool is_thorough) {
    std::vector<std::string> problems;
    try {
        problems = ThreadConnection().EngineProblems(is_thorough);
        if (is_thorough && problems.empty()) {
            // Damage inside a stored text is no damage to the engine's pages.
            Statement select(ThreadConnection(), kListInstances);
            select.Bind(1, static_cast<const std::wstring*>(nullptr))
                .Bind(2, static_cast<const std::wstring*>(nullptr));
            while (select.Step()) {
                const std::wstring class_name = OS::FromUtf8(select.Text(0));
                const std::string place = PlaceOf(class_name, OS::FromUtf8(select.Text(1)));
                try {
                    PropertiesFromRow(select.TextView(2), place, DeclarationOf(declarations_, class_name));
                } catch (const StoreFormatError& error) {
                    problems.emplace_back(error.what());
                }
            }
        }
    } catch (const StoreError& error) {
        if (error.Kind() != Refusal::kDamaged) {
            throw std::runtime_error(name_ + ": the store cannot be checked: " + error.what());
        }
        problems.emplace_back(error.what());
    }
    return problems;
}

std::vector<AuditRecord> ConsoleStore::ReadAudit() {
    std::vector<AuditRecord> records;
    Statement select(ThreadConnection(), kSelectAudit);
    while (select.Step()) {
        records.push_back(AuditFromRow(select));
    }
    for (AuditRecord& record : pending_audit_->Peek().records) {
        records.push_back(std::move(record));
    }
    return records;
}

std::pair<std::int64_t, std::string> ConsoleStore::ReadAuditHead() {
    Statement select(ThreadConnection(), kSelectAuditHead);
    if (!select.Step()) return {0, {}};
    return {select.Integer(0), select.Text(1)};
}

AuditChainCheck ConsoleStore::VerifyAuditChain(const std::optional<std::pair<std::int64_t, std::string>>& kept) {
    return CheckAuditChain(ThreadConnection(), kept ? std::optional(kept->first) : std::nullopt,
                           kept ? kept->second : std::string());
}

std::vector<StoredInstance> ConsoleStore::List(const std::wstring* class_name, const std::wstring* instance_name) {
    std::vector<StoredInstance> instances;
    Statement select(ThreadConnection(), kListInstances);
    select.Bind(1, class_name).Bind(2, instance_name);
    while (select.Step()) {
        StoredInstance instance{OS::FromUtf8(select.Text(0)), OS::FromUtf8(select.Text(1)), {}};
        instance.properties = PropertiesFromRow(select.Text(2), PlaceOf(instance.class_name, instance.instance_name),
                                                DeclarationOf(declarations_, instance.class_name));
        instances.push_back(std::move(instance));
    }
    return instances;
}

void ConsoleStore::Replace(const std::vector<StoredInstance>& instances) {
    std::vector<std::string> texts;
    texts.reserve(instances.size());
    for (const StoredInstance& instance : instances) {
        try {
            texts.push_back(StoredTextOf(instance.properties).text);
        } catch (const StoreFormatError& error) {
            throw StoreFormatError(PlaceOf(instance.class_name, instance.instance_name) + "/" + error.what());
        }
    }
    Database& database = ThreadConnection();
    database.Write([&] {
        for (std::size_t index = 0; index < instances.size(); ++index) {
            Statement(database, kReplaceInstance)
                .Bind(1, OS::ToUtf8(instances[index].class_name))
                .Bind(2, OS::ToUtf8(instances[index].instance_name))
                .Bind(3, texts[index])
                .Step();
        }
        return true;
    });
}

bool ConsoleStore::Delete(const std::wstring& class_name, const std::wstring& instance_name) {
    Database& database = ThreadConnection();
    return database.Write([&] {
        Statement(database, kDeleteInstance).Bind(1, OS::ToUtf8(class_name)).Bind(2, OS::ToUtf8(instance_name)).Step();
        return database.Changes() == 1;
    });
}

}  // namespace tessera::host

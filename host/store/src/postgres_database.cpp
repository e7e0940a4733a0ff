// The PostgreSQL engine's connections.
#include "postgres_database.h"
#include "console_store.h"
#include "sql_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace tessera::host::sql {

namespace {

constexpr Oid kTextType = 25;  // pg_type's oids of text and bigint
constexpr Oid kBigintType = 20;
constexpr const char* kConnectTimeoutSeconds = "5";

// What each class of SQLSTATE means to an administrator.
Refusal RefusalOf(const char* state) {
    const std::string_view code = state == nullptr ? std::string_view() : std::string_view(state);
    if (code == "40001" || code == "40P01" || code == "55P03" || code == "57014") return Refusal::kBusy;
    if (code == "25006") return Refusal::kReadOnly;
    if (code == "53100") return Refusal::kFull;
    if (code == "58030") return Refusal::kInputOutput;
    if (code == "XX001" || code == "XX002") return Refusal::kDamaged;
    if (code.empty() || code.substr(0, 2) == "08" || code.substr(0, 3) == "57P") return Refusal::kUnreachable;
    return Refusal::kOther;
}

std::string WithoutTrailingNewline(const char* text) {
    std::string message = text == nullptr ? std::string() : std::string(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    return message;
}

// The statement's text with PostgreSQL's $N for ?N, and how many parameters it has.
std::pair<std::string, int> TranslatedText(const char* sql) {
    const auto override_of =
        std::find_if(std::begin(kPostgresTexts), std::end(kPostgresTexts),
                     [sql](const PostgresText& text) { return std::string_view(text.sqlite) == sql; });
    const std::string_view source = override_of == std::end(kPostgresTexts) ? sql : override_of->postgresql;
    std::string text;
    text.reserve(source.size());
    int count = 0;
    bool is_quoted = false;
    for (std::size_t at = 0; at < source.size(); ++at) {
        const char c = source[at];
        if (c == '\'') is_quoted = !is_quoted;
        if (c != '?' || is_quoted) {
            text += c;
            continue;
        }
        int number = 0;
        std::size_t end = at + 1;
        while (end < source.size() && source[end] >= '0' && source[end] <= '9') {
            number = number * 10 + (source[end] - '0');
            ++end;
        }
        text += '$';
        text.append(source.substr(at + 1, end - at - 1));
        count = std::max(count, number);
        at = end - 1;
    }
    return {text, count};
}

}  // namespace

std::string PostgresDisplayName(const std::string& uri) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
    if (options == nullptr) {
        std::string reason = error == nullptr ? "out of memory" : WithoutTrailingNewline(error);
        PQfreemem(error);
        throw std::invalid_argument("the store URL " + uri.substr(0, 200) + " cannot be read: " + reason);
    }
    std::string host;
    std::string port;
    std::string database;
    bool has_password = false;
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (option->val == nullptr) continue;
        const std::string_view keyword = option->keyword;
        if (keyword == "password") has_password = true;
        if (keyword == "host") host = option->val;
        if (keyword == "port") port = option->val;
        if (keyword == "dbname") database = option->val;
    }
    PQconninfoFree(options);
    if (has_password) {
        throw std::invalid_argument(
            "the store URL holds a password: put it in a password file (~/.pgpass, or passfile= in the URL) instead");
    }
    return "postgresql://" + host + (port.empty() ? "" : ":" + port) + "/" + database;
}

// Prepared on its first run, with the types its parameters were bound with:
// the server then knows what a NULL stands for.
class PostgresDatabase::PostgresCursor final : public Cursor {
public:
    PostgresCursor(PostgresDatabase& database, std::string name, const char* sql)
        : database_(database), name_(std::move(name)) {
        std::tie(text_, parameter_count_) = TranslatedText(sql);
        values_.resize(static_cast<std::size_t>(parameter_count_));
        is_null_.assign(values_.size(), true);
        types_.assign(values_.size(), kTextType);
    }
    ~PostgresCursor() override { Reset(); }
    PostgresCursor(const PostgresCursor&) = delete;
    PostgresCursor& operator=(const PostgresCursor&) = delete;

    void BindText(int index, std::string_view text) override { Set(index, std::string(text), kTextType); }
    void BindInteger(int index, std::int64_t value) override { Set(index, std::to_string(value), kBigintType); }
    void BindNull(int index, ValueType type) override {
        Set(index, {}, type == ValueType::kText ? kTextType : kBigintType);
        is_null_[static_cast<std::size_t>(index - 1)] = true;
    }

    bool Step() override {
        if (result_ != nullptr) return ++row_ < PQntuples(result_);
        // Outside a transaction a statement only reads (every write is inside
        // one): on a connection the server dropped while it was idle it runs
        // again, once, on a new one.
        const bool is_alone = PQtransactionStatus(database_.Handle()) == PQTRANS_IDLE;
        PGresult* result = Run();
        if (is_alone && PQstatus(database_.Handle()) == CONNECTION_BAD) {
            PQclear(result);
            database_.Reconnect();
            result = Run();
        }
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) database_.Fail(result);
        const char* changed = PQcmdTuples(result);
        database_.NoteChanges(changed == nullptr || *changed == '\0' ? 0 : std::atoi(changed));
        result_ = result;
        row_ = 0;
        return row_ < PQntuples(result_);
    }

    std::string_view TextView(int column) const override {
        if (PQgetisnull(result_, row_, column)) return {};
        return {PQgetvalue(result_, row_, column), static_cast<std::size_t>(PQgetlength(result_, row_, column))};
    }

    std::int64_t Integer(int column) const override {
        const std::string_view text = TextView(column);
        if (text == "t") return 1;  // a boolean
        std::int64_t value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        return value;
    }

    bool IsNull(int column) const override { return PQgetisnull(result_, row_, column) == 1; }

    // The statement is gone with the session that prepared it.
    void Forget() { is_prepared_ = false; }

    void Reset() noexcept override {
        PQclear(result_);
        result_ = nullptr;
        row_ = 0;
        is_null_.assign(values_.size(), true);
    }

private:
    // Prepares the statement when it is not yet, and runs it; the result says whether it failed.
    PGresult* Run() {
        PGconn* connection = database_.Handle();
        if (!is_prepared_) {
            PGresult* prepared = PQprepare(connection, name_.c_str(), text_.c_str(), parameter_count_, types_.data());
            if (PQresultStatus(prepared) != PGRES_COMMAND_OK) return prepared;
            PQclear(prepared);
            is_prepared_ = true;
        }
        std::vector<const char*> values(values_.size());
        std::vector<int> lengths(values_.size());
        for (std::size_t at = 0; at < values_.size(); ++at) {
            values[at] = is_null_[at] ? nullptr : values_[at].c_str();
            lengths[at] = static_cast<int>(values_[at].size());
        }
        return PQexecPrepared(connection, name_.c_str(), parameter_count_, values.data(), lengths.data(), nullptr, 0);
    }

    void Set(int index, std::string value, Oid type) {
        if (index < 1 || index > parameter_count_) {
            throw std::logic_error("parameter " + std::to_string(index) + " is not in " + text_);
        }
        const auto at = static_cast<std::size_t>(index - 1);
        values_[at] = std::move(value);
        is_null_[at] = false;
        if (!is_prepared_) types_[at] = type;
    }

    PostgresDatabase& database_;
    std::string name_;
    std::string text_;
    int parameter_count_ = 0;
    bool is_prepared_ = false;
    std::vector<std::string> values_;
    std::vector<bool> is_null_;
    std::vector<Oid> types_;
    PGresult* result_ = nullptr;
    int row_ = 0;
};

PostgresDatabase::PostgresDatabase(const std::string& uri, int busy_timeout_ms) : name_(PostgresDisplayName(uri)) {
    // The URI's own settings come last, so they win.
    const char* keywords[] = {"connect_timeout", "application_name", "options", "dbname", nullptr};
    const char* values[] = {kConnectTimeoutSeconds, "tessera-console", "-c client_min_messages=warning", uri.c_str(),
                            nullptr};
    // A server that cannot be reached leaves a lost connection: every statement
    // on it fails with libpq's reason, and the store tries again when idle.
    connection_ = PQconnectdbParams(keywords, values, 1);
    if (connection_ == nullptr) throw std::bad_alloc();
    // The server's notes ("already exists, skipping") belong in the debug log, not on standard error.
    PQsetNoticeProcessor(
        connection_, [](void*, const char* message) { LogFailure(__LINE__, WithoutTrailingNewline(message)); },
        nullptr);
    // PostgreSQL's lock_timeout 0 waits for ever; the console's 0 does not wait.
    begin_writing_ = "BEGIN; SET LOCAL lock_timeout = " + std::to_string(std::max(busy_timeout_ms, 1)) +
                     "; SELECT pg_advisory_xact_lock(" + std::to_string(kPostgresWriterLock) + ")";
}

PostgresDatabase::~PostgresDatabase() { Close(); }

void PostgresDatabase::Close() noexcept {
    const std::lock_guard lock(mutex_);
    statements_.clear();
    PQfinish(connection_);
    connection_ = nullptr;
}

bool PostgresDatabase::IsOpen() const {
    const std::lock_guard lock(mutex_);
    return connection_ != nullptr;
}

bool PostgresDatabase::IsLost() const { return connection_ != nullptr && PQstatus(connection_) == CONNECTION_BAD; }

bool PostgresDatabase::IsInTransaction() const {
    if (connection_ == nullptr) return false;
    const PGTransactionStatusType status = PQtransactionStatus(connection_);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

Cursor& PostgresDatabase::Prepared(const char* sql) {
    const auto found = statements_.find(sql);
    if (found != statements_.end()) {
        return *found->second;
    }
    auto cursor = std::make_unique<PostgresCursor>(*this, "s" + std::to_string(statements_.size() + 1), sql);
    return *statements_.emplace(sql, std::move(cursor)).first->second;
}

void PostgresDatabase::Fail(PGresult* result) const {
    const char* state = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const Refusal refusal = PQstatus(connection_) == CONNECTION_BAD ? Refusal::kUnreachable : RefusalOf(state);
    // The primary message alone: the whole one spans lines, with the row and a caret under the statement.
    const char* primary = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    std::string message = WithoutTrailingNewline(primary != nullptr ? primary : PQerrorMessage(connection_));
    std::replace_if(
        message.begin(), message.end(), [](char c) { return c == '\n' || c == '\t'; }, ' ');
    PQclear(result);
    throw StoreError(refusal, name_ + ": " + message);
}

void PostgresDatabase::Execute(const std::string& text, const char* expected_status) {
    PGresult* result = PQexec(connection_, text.c_str());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(result);
    // A COMMIT of a transaction that failed rolls it back, and says so only here.
    if (expected_status != nullptr && std::strcmp(PQcmdStatus(result), expected_status) != 0) {
        const std::string what = PQcmdStatus(result);
        PQclear(result);
        throw StoreError(Refusal::kOther, name_ + ": the transaction ended in " + what);
    }
    PQclear(result);
}

// PostgreSQL only warns of a BEGIN inside a transaction, and goes on in the
// outer one: refused here, as SQLite refuses it.
void PostgresDatabase::RefuseNestedBegin() const {
    if (IsInTransaction()) throw StoreError(Refusal::kOther, name_ + ": a transaction is already in progress");
}

void PostgresDatabase::Begin(const std::string& text) {
    RefuseNestedBegin();
    try {
        Execute(text);
    } catch (const StoreError&) {
        // A connection the server dropped while it was idle (a restart, a
        // failover) finds out only now, before anything of the transaction
        // was done: it connects again, once, and begins there.
        if (PQstatus(connection_) != CONNECTION_BAD) throw;
        Reconnect();
        if (PQstatus(connection_) != CONNECTION_OK) Fail(nullptr);
        Execute(text);
    }
}

void PostgresDatabase::Reconnect() {
    PQreset(connection_);
    for (auto& [sql, statement] : statements_) statement->Forget();
}

void PostgresDatabase::BeginWriting() { Begin(begin_writing_); }

void PostgresDatabase::BeginReading() { Begin("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }

void PostgresDatabase::Commit() { Execute("COMMIT", "COMMIT"); }

void PostgresDatabase::RollBack() noexcept {
    if (connection_ == nullptr || PQstatus(connection_) == CONNECTION_BAD) return;
    const PGTransactionStatusType status = PQtransactionStatus(connection_);
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR) {
        PQclear(PQexec(connection_, "ROLLBACK"));
    }
}

std::vector<const char*> PostgresDatabase::Schema() const {
    return {std::begin(kPostgresSchema), std::end(kPostgresSchema)};
}

}  // namespace tessera::host::sql

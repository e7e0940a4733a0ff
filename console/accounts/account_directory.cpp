// The administrators' accounts: rules, audit records and the first account.
#include "account_directory.h"
#include "authenticator.h"
#include "change_words.h"
#include "passwords.h"

#include "console_store.h"
#include "os_string.h"
#include "text_util.h"
#include "utc_time.h"

#include <openssl/crypto.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace tessera::console {
namespace {

constexpr std::size_t kMaxNameLength = 64;
constexpr char kAuthenticatorKind[] = "totp";
constexpr char kAuthenticatorId[] = "app";
constexpr char kRecoveryKind[] = "recovery";
constexpr char kPasskeyKind[] = "passkey";
constexpr std::uintmax_t kMaxAccountFileBytes = 64 * 1024;

std::string UtcNow() {
    std::string time;
    host::AppendUtcTime(time, false);
    return time;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Letters, digits and . _ - @, starting with a letter or digit: a name that
// reads the same in a log line, a URL and a shell.
void CheckName(const std::string& name) {
    const auto is_word = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    const bool is_valid = !name.empty() && name.size() <= kMaxNameLength && is_word(name.front()) &&
                          std::all_of(name.begin(), name.end(), [&](char c) {
                              return is_word(c) || c == '.' || c == '_' || c == '-' || c == '@';
                          });
    if (!is_valid) {
        throw AccountRefused("an account name is 1 to " + std::to_string(kMaxNameLength) +
                             " letters, digits and . _ - @, starting with a letter or digit");
    }
}

void CheckPassword(const std::string& password, const std::string& name) {
    if (const std::optional<std::string> problem = PasswordProblem(password, name)) throw PasswordRefused(*problem);
}

Account AccountOf(const host::AccountRow& row) {
    // A role this version does not know grants the least.
    return {row.name,         RoleOfName(row.role).value_or(Role::kAuditor),
            row.is_disabled,  row.created,
            row.last_sign_in, row.credential_version};
}

host::AccountRow RowOf(const Account& account, std::string password_hash) {
    return {account.name,
            std::string(RoleName(account.role)),
            std::move(password_hash),
            account.is_disabled,
            account.created,
            account.last_sign_in,
            account.credential_version};
}

bool IsActiveAdministrator(const host::AccountRow& row) {
    return !row.is_disabled && AccountOf(row).role == Role::kAdministrator;
}

// Refuses a change that takes `name` out of the enabled administrators when
// it is the last of them.
void KeepAnAdministrator(host::ConsoleStore& store, const std::string& name) {
    const std::vector<host::AccountRow> rows = store.ReadAccounts();
    const bool is_active = std::any_of(rows.begin(), rows.end(), [&](const host::AccountRow& row) {
        return row.name == name && IsActiveAdministrator(row);
    });
    const bool has_other = std::any_of(rows.begin(), rows.end(), [&](const host::AccountRow& row) {
        return row.name != name && IsActiveAdministrator(row);
    });
    if (is_active && !has_other) {
        throw AccountRefused(Quoted(name) +
                             " is the last enabled administrator: make another account an administrator first");
    }
}

// A console record of a change of accounts, by `actor`; its action is the
// one the transaction runs.
void AppendRecord(host::ConsoleStore& store, const std::string& message, const Actor& actor) {
    host::AuditRecord record;
    record.context[0] = OS::FromUtf8(actor.name);
    record.context[1] = OS::FromUtf8(actor.address);
    record.context[2] = OS::FromUtf8(actor.place);
    record.event_type = kChangeEvent;
    record.source_type = kConsoleSource;
    record.message = OS::FromUtf8(message);
    store.AppendAudit(std::move(record));
}

// The account of <data>/admin.json as an earlier version wrote it, with its
// password hash in the stored form; null without the file.
std::optional<std::pair<std::string, std::string>> ReadAccountFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return std::nullopt;
    const std::string where = "the account file " + file.string();
    if (std::filesystem::file_size(file, error) > kMaxAccountFileBytes || error) {
        throw std::runtime_error(where + " is too large or unreadable");
    }
    std::ifstream in(file, std::ios::binary);
    try {
        const nlohmann::json json = nlohmann::json::parse(in);
        if (json.at("algorithm").get<std::string>() != "pbkdf2-hmac-sha256")
            throw std::runtime_error("unknown algorithm");
        const std::string hash =
            EncodedPasswordHash(json.at("iterations").get<unsigned>(), json.at("salt").get<std::string>(),
                                json.at("hash").get<std::string>());
        return std::pair{json.at("user").get<std::string>(), hash};
    } catch (const std::exception& e) {
        throw std::runtime_error(where + " is malformed: " + e.what());
    }
}

}  // namespace

AccountDirectory::AccountDirectory(std::shared_ptr<host::ConsoleStore> store) : store_(std::move(store)) {}

std::vector<Account> AccountDirectory::List() const {
    std::vector<Account> accounts;
    for (const host::AccountRow& row : store_->ReadAccounts()) accounts.push_back(AccountOf(row));
    return accounts;
}

std::optional<Account> AccountDirectory::Find(const std::string& name) const {
    const std::optional<host::AccountRow> row = store_->ReadAccount(name);
    if (!row) return std::nullopt;
    return AccountOf(*row);
}

std::optional<Account> AccountDirectory::Authenticate(const std::string& name, const std::string& password) const {
    const std::optional<host::AccountRow> row = store_->ReadAccount(name);
    if (!row || row->is_disabled) {
        VerifyPassword(UnmatchableHash(), password);
        return std::nullopt;
    }
    if (!VerifyPassword(row->password, password)) return std::nullopt;
    return AccountOf(*row);
}

void AccountDirectory::Add(const std::string& name, Role role, const std::string& password, const Actor& actor) {
    CheckName(name);
    CheckPassword(password, name);
    const std::string hash = HashPassword(password);
    Commit(
        [&] {
            for (const host::AccountRow& row : store_->ReadAccounts()) {
                if (host::FoldAsciiCase(row.name) == host::FoldAsciiCase(name)) {
                    throw AccountRefused("there is an account " + Quoted(row.name) + " already");
                }
            }
            store_->PutAccount(RowOf({name, role, false, UtcNow(), "", 1}, hash));
        },
        "account-added", "Account " + Quoted(name) + " added as " + std::string(RoleName(role)) + ".", actor);
}

void AccountDirectory::SetRole(const std::string& name, Role role, const Actor& actor) {
    Commit(
        [&] {
            Account account = Existing(name);
            if (role != Role::kAdministrator) KeepAnAdministrator(*store_, name);
            account.role = role;
            store_->PutAccount(RowOf(account, store_->ReadAccount(name)->password));
        },
        "role-changed", "Account " + Quoted(name) + " is now " + std::string(RoleName(role)) + ".", actor);
}

void AccountDirectory::SetEnabled(const std::string& name, bool is_enabled, const Actor& actor) {
    Commit(
        [&] {
            Account account = Existing(name);
            if (!is_enabled) KeepAnAdministrator(*store_, name);
            if (account.is_disabled == !is_enabled) return;
            account.is_disabled = !is_enabled;
            if (!is_enabled) ++account.credential_version;
            store_->PutAccount(RowOf(account, store_->ReadAccount(name)->password));
        },
        is_enabled ? "account-enabled" : "account-disabled",
        "Account " + Quoted(name) + (is_enabled ? " enabled." : " disabled."), actor);
}

void AccountDirectory::Remove(const std::string& name, const Actor& actor) {
    Commit(
        [&] {
            Existing(name);
            KeepAnAdministrator(*store_, name);
            store_->RemoveAccount(name);
        },
        "account-removed", "Account " + Quoted(name) + " removed.", actor);
}

void AccountDirectory::SetPassword(const std::string& name, const std::string& password, const Actor& actor) {
    CheckPassword(password, name);
    const std::string hash = HashPassword(password);
    Commit(
        [&] {
            Account account = Existing(name);
            ++account.credential_version;
            store_->PutAccount(RowOf(account, hash));
        },
        "password-changed", "Password of " + Quoted(name) + " changed.", actor);
}

void AccountDirectory::NoteSignIn(const std::string& name) {
    std::optional<host::AccountRow> row = store_->ReadAccount(name);
    if (!row) return;
    row->last_sign_in = UtcNow();
    store_->PutAccount(*row);
}

SecondFactors AccountDirectory::SecondFactorsOf(const std::string& name) const {
    SecondFactors factors;
    for (const host::SecondFactorRow& row : store_->ReadSecondFactors(name)) {
        factors.has_authenticator = factors.has_authenticator || row.kind == kAuthenticatorKind;
        factors.recovery_codes_left += row.kind == kRecoveryKind ? 1 : 0;
        if (row.kind == kPasskeyKind) {
            factors.passkeys.push_back({row.id, row.secret, static_cast<std::uint32_t>(row.counter)});
        }
    }
    return factors;
}

void AccountDirectory::RemoveAuthenticator(const std::string& name, const Actor& actor) {
    Commit(
        [&] {
            Existing(name);
            for (const std::string kind : {kAuthenticatorKind, kRecoveryKind}) {
                store_->RemoveSecondFactors(name, &kind, nullptr);
            }
        },
        "second-factor-removed", "Authenticator app of " + Quoted(name) + " removed, with its recovery codes.", actor);
}

void AccountDirectory::AddPasskey(const std::string& name, const PasskeyKey& key, const Actor& actor) {
    Commit(
        [&] {
            const Account account = Existing(name);
            if (store_->FindSecondFactor(kPasskeyKind, key.credential_id)) {
                throw AccountRefused("this passkey is registered already");
            }
            store_->PutSecondFactor(
                {account.name, kPasskeyKind, key.credential_id, key.public_key, UtcNow(), key.sign_count});
        },
        "second-factor-added", "Passkey of " + Quoted(name) + " added.", actor);
}

void AccountDirectory::RemovePasskey(const std::string& name, const std::string& credential_id, const Actor& actor) {
    Commit(
        [&] {
            const std::string kind = kPasskeyKind;
            const std::optional<host::SecondFactorRow> row = store_->FindSecondFactor(kind, credential_id);
            if (!row || row->account != name) throw AccountRefused("there is no such passkey of " + Quoted(name));
            store_->RemoveSecondFactors(name, &kind, &credential_id);
        },
        "second-factor-removed", "Passkey of " + Quoted(name) + " removed.", actor);
}

std::optional<std::pair<std::string, PasskeyKey>> AccountDirectory::FindPasskey(
    const std::string& credential_id) const {
    const std::optional<host::SecondFactorRow> row = store_->FindSecondFactor(kPasskeyKind, credential_id);
    if (!row) return std::nullopt;
    return std::pair{row->account, PasskeyKey{row->id, row->secret, static_cast<std::uint32_t>(row->counter)}};
}

void AccountDirectory::NotePasskeyUse(const std::string& name, const std::string& credential_id,
                                      std::uint32_t sign_count) {
    std::optional<host::SecondFactorRow> row = store_->FindSecondFactor(kPasskeyKind, credential_id);
    if (!row || row->account != name) return;
    row->counter = sign_count;
    store_->PutSecondFactor(*row);
}

std::vector<std::string> AccountDirectory::AddAuthenticator(const std::string& name, const std::string& secret,
                                                            const std::string& code, std::time_t now,
                                                            const Actor& actor) {
    const std::optional<std::int64_t> step = AuthenticatorStep(secret, code, now);
    if (!step) throw AccountRefused("the code is not the one the app shows now; check the phone's clock and try again");
    const std::vector<std::string> codes = NewRecoveryCodes();
    Commit(
        [&] {
            const Account account = Existing(name);
            const std::string created = UtcNow();
            store_->RemoveSecondFactors(account.name, nullptr, nullptr);
            // The confirming code is used: it cannot sign in as well.
            store_->PutSecondFactor({account.name, kAuthenticatorKind, kAuthenticatorId, secret, created, *step});
            for (std::size_t index = 0; index < codes.size(); ++index) {
                store_->PutSecondFactor({account.name, kRecoveryKind, std::to_string(index + 1),
                                         RecoveryCodeHash(codes[index]), created, 0});
            }
        },
        "second-factor-added", "Authenticator app of " + Quoted(name) + " added, with new recovery codes.", actor);
    return codes;
}

bool AccountDirectory::UseSecondFactor(const std::string& name, const std::string& code, std::time_t now,
                                       const Actor& actor) {
    bool is_accepted = false;
    const host::ActionOutcome outcome = store_->RunAction(
        [&] {
            const std::string hash = RecoveryCodeHash(code);
            for (host::SecondFactorRow& row : store_->ReadSecondFactors(name)) {
                if (row.kind == kAuthenticatorKind) {
                    const std::optional<std::int64_t> step = AuthenticatorStep(row.secret, code, now);
                    if (!step || *step <= row.counter) continue;
                    row.counter = *step;
                    store_->PutSecondFactor(row);
                } else if (row.kind == kRecoveryKind &&
                           CRYPTO_memcmp(row.secret.data(), hash.data(), hash.size()) == 0 &&
                           row.secret.size() == hash.size()) {
                    store_->RemoveSecondFactors(name, &row.kind, &row.id);
                    AppendRecord(*store_, "Recovery code of " + Quoted(name) + " used; it is used up.", actor);
                } else {
                    continue;
                }
                is_accepted = true;
                return;
            }
        },
        "recovery-code-used");
    if (!outcome.is_stored) throw AccountNotStored("the code could not be checked: " + outcome.refusal);
    return is_accepted;
}

void AccountDirectory::RemoveSecondFactors(const std::string& name, const Actor& actor) {
    Commit(
        [&] {
            Existing(name);
            store_->RemoveSecondFactors(name, nullptr, nullptr);
        },
        "second-factor-removed",
        "Second factors of " + Quoted(name) + " removed: authenticator app, passkeys, recovery codes.", actor);
}

std::string AccountDirectory::EnsureFirstAdministrator(const std::filesystem::path& data_dir) {
    if (!store_->ReadAccounts().empty()) return {};
    const Actor actor{kCommandLineActor, "", "first start"};
    const std::filesystem::path file = data_dir / "admin.json";
    if (const std::optional<std::pair<std::string, std::string>> earlier = ReadAccountFile(file)) {
        const std::string& name = earlier->first;
        const std::string& hash = earlier->second;
        Commit(
            [&] {
                store_->PutAccount(RowOf({name, Role::kAdministrator, false, UtcNow(), "", 1}, hash));
            },
            "account-added", "Account " + Quoted(name) + " taken over from admin.json as administrator.", actor);
        std::filesystem::remove(file);
        return "The account of " + file.string() + " is now the administrator " + Quoted(name) +
               ", with the same password.\n";
    }
    const std::string sign_in = std::string("Sign in as ") + Quoted(kFirstAdministrator) + " with the password ";
    const char* from_environment = std::getenv(kAdminPasswordVariable);
    if (from_environment != nullptr && *from_environment != '\0') {
        try {
            Add(kFirstAdministrator, Role::kAdministrator, from_environment, actor);
        } catch (const PasswordRefused& refused) {
            throw PasswordRefused(std::string(kAdminPasswordVariable) + ": " + refused.what());
        }
        return sign_in + "from " + kAdminPasswordVariable + ".\n";
    }
    const std::string password = GeneratePassword(kFirstAdministrator);
    Add(kFirstAdministrator, Role::kAdministrator, password, actor);
    return sign_in + "generated for this first start: " + password +
           "\nIt is shown only this once; change it with `tessera-console passwd`.\n";
}

void AccountDirectory::Commit(const std::function<void()>& change, const char* action, const std::string& message,
                              const Actor& actor) {
    const host::ActionOutcome outcome = store_->RunAction(
        [&] {
            change();
            AppendRecord(*store_, message, actor);
        },
        action);
    if (!outcome.is_stored) throw AccountNotStored("the change was not stored: " + outcome.refusal);
}

Account AccountDirectory::Existing(const std::string& name) const {
    const std::optional<Account> account = Find(name);
    if (!account) throw AccountRefused("there is no account " + Quoted(name));
    return *account;
}

}  // namespace tessera::console

// The console's administrators: their accounts in the store, the rules every
// change of them keeps, and an audit record of each change in the same
// transaction. The command line and the web console change accounts only
// through here.
#pragma once

#include "passkeys.h"
#include "roles.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tessera::host {
class ConsoleStore;
}  // namespace tessera::host

namespace tessera::console {

inline constexpr char kFirstAdministrator[] = "admin";
inline constexpr char kAdminPasswordVariable[] = "TESSERA_ADMIN_PASSWORD";
// Who the command line's changes are by, in their audit records.
inline constexpr char kCommandLineActor[] = "local";

struct Account {
    std::string name;
    Role role = Role::kAuditor;
    bool is_disabled = false;
    std::string created;       // ISO-8601 UTC
    std::string last_sign_in;  // the same, empty when never
    std::int64_t credential_version = 1;
};

// What an account signs in with beside its password.
struct SecondFactors {
    bool has_authenticator = false;
    std::size_t recovery_codes_left = 0;
    std::vector<PasskeyKey> passkeys;
    bool Any() const { return has_authenticator || !passkeys.empty(); }
};

// What an automation token may do: read, or also change what its account's role may.
enum class TokenScope { kRead, kWrite };
inline constexpr std::string_view ScopeName(TokenScope scope) { return scope == TokenScope::kRead ? "read" : "write"; }

inline constexpr int kDefaultTokenDays = 90;
inline constexpr int kMaxTokenDays = 365;

struct ApiToken {
    std::string id;  // the part of the token's text that names it; not secret
    std::string account;
    std::string name;
    TokenScope scope = TokenScope::kRead;
    std::string created;  // ISO-8601 UTC
    std::string expires;  // the same
    std::string last_used;
    std::string last_address;
};

// A token as it is made: its text is shown once and kept nowhere.
struct NewToken {
    ApiToken token;
    std::string secret;
};

// Who changes an account, from where, through what (a page's path, a command).
struct Actor {
    std::string name;
    std::string address;
    std::string place;
};

// A change that a rule refuses (a name taken or malformed, the last
// administrator, no such account); its text says why, to the person asking.
class AccountRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A password that the password rule refuses.
class PasswordRefused : public AccountRefused {
public:
    using AccountRefused::AccountRefused;
};
// A change the store did not take (locked, read-only, full); nothing of it is stored.
class AccountNotStored : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AccountDirectory {
public:
    explicit AccountDirectory(std::shared_ptr<host::ConsoleStore> store);

    std::vector<Account> List() const;
    std::optional<Account> Find(const std::string& name) const;

    // The enabled account that `name` and `password` open, or null. Takes as
    // long whether or not the name exists.
    std::optional<Account> Authenticate(const std::string& name, const std::string& password) const;

    // Each change is refused with AccountRefused by a rule and with
    // AccountNotStored by the store; one that would leave no enabled
    // administrator is refused.
    void Add(const std::string& name, Role role, const std::string& password, const Actor& actor);
    void SetRole(const std::string& name, Role role, const Actor& actor);
    void SetEnabled(const std::string& name, bool is_enabled, const Actor& actor);
    void Remove(const std::string& name, const Actor& actor);
    // Ends the account's sessions elsewhere: its credential version changes.
    void SetPassword(const std::string& name, const std::string& password, const Actor& actor);
    // Notes the time of a sign-in; a store that refuses only loses the note.
    void NoteSignIn(const std::string& name);

    SecondFactors SecondFactorsOf(const std::string& name) const;
    // Stores `secret` as the account's authenticator once `code` is the
    // app's code for now (refused with AccountRefused otherwise), and returns
    // ten new recovery codes, replacing any earlier ones, to show once.
    std::vector<std::string> AddAuthenticator(const std::string& name, const std::string& secret,
                                              const std::string& code, std::time_t now, const Actor& actor);
    // True when `code` is the authenticator's code of a time step after the
    // last one it was used at, or one of the account's recovery codes, which
    // is then used up. The use is stored before it counts: a code is taken
    // once. Throws AccountNotStored when the store refuses.
    bool UseSecondFactor(const std::string& name, const std::string& code, std::time_t now, const Actor& actor);
    // The authenticator, the passkeys and the recovery codes go: the account
    // signs in with its password alone until it enrols again.
    void RemoveSecondFactors(const std::string& name, const Actor& actor);

    // The authenticator app and its recovery codes go; passkeys stay.
    void RemoveAuthenticator(const std::string& name, const Actor& actor);
    void AddPasskey(const std::string& name, const PasskeyKey& key, const Actor& actor);
    void RemovePasskey(const std::string& name, const std::string& credential_id, const Actor& actor);
    // The account a passkey is of, and the key; null for a credential the console does not know.
    std::optional<std::pair<std::string, PasskeyKey>> FindPasskey(const std::string& credential_id) const;
    // Stores the counter a passkey signed with, so that a copy's older one is refused.
    void NotePasskeyUse(const std::string& name, const std::string& credential_id, std::uint32_t sign_count);

    // A token of the account `account`, named `name` (unique among its
    // tokens), for `days` days (1 to kMaxTokenDays). A write token needs an
    // account whose role changes something.
    NewToken CreateToken(const std::string& account, const std::string& name, TokenScope scope, int days,
                         std::time_t now, const Actor& actor);
    // The tokens of `account`, or of every account (null), by account and name.
    std::vector<ApiToken> Tokens(const std::string* account) const;
    std::optional<ApiToken> FindToken(const std::string& id) const;
    void RevokeToken(const std::string& id, const Actor& actor);
    // The token whose text `secret` is, with its account as it is now; or
    // why it opens nothing (unknown, expired, its account disabled), in
    // words for the caller. Takes as long whatever the secret.
    struct TokenHolder {
        ApiToken token;
        Account account;
    };
    std::variant<TokenHolder, std::string> OpenToken(const std::string& secret, std::time_t now) const;
    // Notes a token's last use; a store that refuses only loses the note.
    void NoteTokenUse(const std::string& id, const std::string& address, std::time_t now);

    // On a store without accounts: the account of an earlier version's
    // <data>/admin.json becomes the administrator kFirstAdministrator with the
    // same password, and the file goes; without one, kFirstAdministrator is made
    // with the password of kAdminPasswordVariable, or a generated one. Returns
    // how to sign in, to print; empty when accounts were there already.
    std::string EnsureFirstAdministrator(const std::filesystem::path& data_dir);

private:
    // Runs `change` (which reads and writes accounts through the store) with
    // one audit record of `action`, as one transaction. A refused write ends
    // the transaction, and the outcome says so.
    void Commit(const std::function<void()>& change, const char* action, const std::string& message,
                const Actor& actor);
    Account Existing(const std::string& name) const;

    std::shared_ptr<host::ConsoleStore> store_;
};

}  // namespace tessera::console

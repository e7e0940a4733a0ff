// Automation tokens of the administrators' accounts. A token's text is
// "tsr_", its id, "_" and its secret; the store keeps the SHA-256 of the
// whole text, so that a copy of the store opens nothing.
#include "account_directory.h"
#include "hex_text.h"
#include "passwords.h"

#include "console_store.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <ctime>

namespace tessera::console {
namespace {

constexpr char kTokenPrefix[] = "tsr_";
constexpr std::size_t kTokenIdLength = 12;
constexpr std::size_t kTokenSecretLength = 32;  // 32 of 56 characters: 185 bits
constexpr std::size_t kMaxTokenNameLength = 64;

std::string IsoTime(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

ApiToken TokenOf(const host::ApiTokenRow& row) {
    return {row.id,        row.account,
            row.name,      row.scope == ScopeName(TokenScope::kWrite) ? TokenScope::kWrite : TokenScope::kRead,
            row.created,   row.expires,
            row.last_used, row.last_address};
}

// The id of a token's text, or empty when the text is no token's.
std::string IdOfSecret(const std::string& secret) {
    const std::size_t prefix = sizeof kTokenPrefix - 1;
    if (secret.size() != prefix + kTokenIdLength + 1 + kTokenSecretLength ||
        secret.compare(0, prefix, kTokenPrefix) != 0 || secret[prefix + kTokenIdLength] != '_') {
        return {};
    }
    return secret.substr(prefix, kTokenIdLength);
}

// A token's name as lists and audit records show it: printable, short.
void CheckTokenName(const std::string& name) {
    const bool is_valid = !name.empty() && name.size() <= kMaxTokenNameLength &&
                          std::all_of(name.begin(), name.end(), [](unsigned char c) { return c > ' ' && c < 0x7f; });
    if (!is_valid) {
        throw AccountRefused("a token's name is 1 to " + std::to_string(kMaxTokenNameLength) +
                             " printable ASCII characters without spaces");
    }
}

}  // namespace

NewToken AccountDirectory::CreateToken(const std::string& account, const std::string& name, TokenScope scope, int days,
                                       std::time_t now, const Actor& actor) {
    CheckTokenName(name);
    if (days < 1 || days > kMaxTokenDays) {
        throw AccountRefused("a token lasts 1 to " + std::to_string(kMaxTokenDays) + " days");
    }
    const Account owner = Existing(account);
    if (owner.is_disabled) throw AccountRefused("the account \"" + account + "\" is disabled");
    if (scope == TokenScope::kWrite && !Permits(owner.role, Role::kEditor)) {
        throw AccountRefused("the account \"" + account + "\" is an " + std::string(RoleName(owner.role)) +
                             "'s, which changes nothing: its tokens read only");
    }
    NewToken made;
    made.token = {RandomText(kTokenIdLength), account, name, scope, IsoTime(now), IsoTime(now + days * 86400L), {}, {}};
    made.secret = kTokenPrefix + made.token.id + "_" + RandomText(kTokenSecretLength);
    const std::string message = "Token \"" + name + "\" (" + std::string(ScopeName(scope)) + ", until " +
                                made.token.expires + ") created for " + account;
    Commit(
        [&] {
            for (const host::ApiTokenRow& row : store_->ReadApiTokens(&account)) {
                if (row.name == name) throw AccountRefused("\"" + account + "\" has a token named \"" + name + "\"");
            }
            store_->PutApiToken({made.token.id,
                                 account,
                                 name,
                                 std::string(ScopeName(scope)),
                                 Sha256Hex(made.secret),
                                 made.token.created,
                                 made.token.expires,
                                 {},
                                 {}});
        },
        "token-created", message, actor);
    return made;
}

std::vector<ApiToken> AccountDirectory::Tokens(const std::string* account) const {
    std::vector<ApiToken> tokens;
    for (const host::ApiTokenRow& row : store_->ReadApiTokens(account)) tokens.push_back(TokenOf(row));
    return tokens;
}

std::optional<ApiToken> AccountDirectory::FindToken(const std::string& id) const {
    const std::optional<host::ApiTokenRow> row = store_->FindApiToken(id);
    if (!row) return std::nullopt;
    return TokenOf(*row);
}

void AccountDirectory::RevokeToken(const std::string& id, const Actor& actor) {
    const std::optional<ApiToken> token = FindToken(id);
    if (!token) throw AccountRefused("there is no such token");
    Commit(
        [&] {
            if (!store_->RemoveApiToken(id)) throw AccountRefused("the token was revoked already");
        },
        "token-revoked", "Token \"" + token->name + "\" of " + token->account + " revoked", actor);
}

std::variant<AccountDirectory::TokenHolder, std::string> AccountDirectory::OpenToken(const std::string& secret,
                                                                                     std::time_t now) const {
    // The hash is made whatever the text, so that a wrong one takes as long.
    const std::string hash = Sha256Hex(secret);
    const std::string id = IdOfSecret(secret);
    const std::optional<host::ApiTokenRow> row = id.empty() ? std::nullopt : store_->FindApiToken(id);
    if (!row || row->secret_hash.size() != hash.size() ||
        CRYPTO_memcmp(row->secret_hash.data(), hash.data(), hash.size()) != 0) {
        return std::string("the token is not known: it was revoked, or never made");
    }
    TokenHolder holder{TokenOf(*row), {}};
    if (IsoTime(now) >= holder.token.expires) return "the token expired at " + holder.token.expires;
    const std::optional<Account> account = Find(holder.token.account);
    if (!account || account->is_disabled) return "the token's account \"" + holder.token.account + "\" is disabled";
    holder.account = *account;
    return holder;
}

void AccountDirectory::NoteTokenUse(const std::string& id, const std::string& address, std::time_t now) {
    std::optional<host::ApiTokenRow> row = store_->FindApiToken(id);
    if (!row) return;
    row->last_used = IsoTime(now);
    row->last_address = address;
    store_->PutApiToken(*row);
}

}  // namespace tessera::console

// "Your account": the signed-in account's authenticator app, recovery codes
// and password; and the page that asks for the second factor at sign-in.
#pragma once

#include "account_directory.h"
#include "sessions.h"

#include <optional>
#include <string>
#include <vector>

namespace tessera::console {

struct AccountView {
    Account account;
    SecondFactors factors;
    std::string offered_secret;          // the authenticator secret to enrol, while there is none
    bool is_enrolment_required = false;  // the session may do nothing else until it has one
    std::string notice;
    bool is_error = false;
    std::vector<std::string> recovery_codes;  // new ones, shown this once
    std::string top_bar;
    std::vector<SessionListing> sessions;  // the account's own
    std::string own_handle;                // of the session that asks
    std::vector<ApiToken> tokens;          // the account's own
    std::string new_token;                 // the text of one just made, shown this once
};

struct AdministratorsView {
    std::vector<std::pair<Account, SecondFactors>> accounts;
    std::vector<SessionListing> sessions;  // every account's
    std::string own_handle;
    std::vector<ApiToken> tokens;  // every account's
    bool needs_proof = false;      // the last proof of this session is too old for a change
    std::string notice;
    bool is_error = false;
    std::string top_bar;
};

// The pages, or nullopt when a template cannot be opened.
std::optional<std::string> RenderAccountPage(const AccountView& view);
std::optional<std::string> RenderAdministratorsPage(const AdministratorsView& view);
std::optional<std::string> RenderSecondFactorPage(const std::string& notice);

}  // namespace tessera::console

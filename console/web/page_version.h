// The version a settings page was served with: a save from that page is
// stopped when the policy or the list changed since, so that no one
// overwrites another's change unseen. The console writes it into the page as
// a hidden field of its own and takes it out of the form before the plug-in
// sees it; the page's script sends it as If-Match as well.
#pragma once

#include "console_store.h"
#include "hosted_pages.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessera::console {

struct PageVersion {
    std::int64_t policy = 0;
    std::int64_t list = 0;
    std::int64_t newest_record = 0;  // of the audit records when it was served: what came after is news
};

// "POLICY.LIST.RECORD", and back; a version in quotes (an If-Match) is read too.
std::string VersionText(const PageVersion& version);
std::optional<PageVersion> ParsedVersion(std::string_view text);

// The version of `policy` and the list as the current transaction sees them.
PageVersion CurrentVersion(host::ConsoleStore& store, const std::wstring& policy);

// True when the page served at `seen` shows the policy and the list as `now` holds them.
inline bool ShowsSameState(const PageVersion& seen, const PageVersion& now) {
    return seen.policy == now.policy && seen.list == now.list;
}

// The ETags of the automation API: "INSTANCE.VERSION" of a policy,
// "UF_APPROVED_LIST.VERSION" of the list, "audit.SEQ" of History's newest record.
std::string PolicyTag(const std::wstring& policy, std::int64_t version);
std::string ListTag(std::int64_t version);
std::string AuditTag(std::int64_t seq);

// Puts the version into the page's settings form as a hidden field, with the
// list's ETag for the page's script, which sends a small change of a large
// list through the API.
void AddVersionField(std::string& page, const PageVersion& version);

// The changes stored after record `seq`, newest first, as one sentence: who,
// when, what ("alice at 13:02 UTC: Security level now Low").
std::string ChangesSince(host::ConsoleStore& store, std::int64_t seq);

}  // namespace tessera::console

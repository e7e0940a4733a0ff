// The settings page's version.
#include "page_version.h"

#include "change_words.h"
#include "history_page.h"
#include "hosted_pages.h"
#include "page_parts.h"

#include "os_string.h"

#include <vector>

namespace tessera::console {
namespace {

constexpr std::size_t kChangesNamed = 5;

std::string QuotedTag(const std::string& name, std::int64_t version) {
    return "\"" + name + "." + std::to_string(version) + "\"";
}

}  // namespace

std::string PolicyTag(const std::wstring& policy, std::int64_t version) {
    return QuotedTag(OS::ToUtf8(policy), version);
}

std::string ListTag(std::int64_t version) { return QuotedTag(OS::ToUtf8(kApprovedListInstance), version); }

std::string AuditTag(std::int64_t seq) { return QuotedTag("audit", seq); }

std::string VersionText(const PageVersion& version) {
    return std::to_string(version.policy) + "." + std::to_string(version.list) + "." +
           std::to_string(version.newest_record);
}

std::optional<PageVersion> ParsedVersion(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    const std::size_t first = text.find('.');
    const std::size_t second = first == std::string_view::npos ? first : text.find('.', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const std::optional<std::int64_t> policy = DecimalOf(text.substr(0, first));
    const std::optional<std::int64_t> list = DecimalOf(text.substr(first + 1, second - first - 1));
    const std::optional<std::int64_t> record = DecimalOf(text.substr(second + 1));
    if (!policy || !list || !record) return std::nullopt;
    return PageVersion{*policy, *list, *record};
}

PageVersion CurrentVersion(host::ConsoleStore& store, const std::wstring& policy) {
    host::HistoryQuery newest;
    newest.limit = 1;
    const std::vector<host::HistoryRecord> records = store.ReadHistory(newest);
    return {store.VersionOf(kPolicyClass, policy), store.VersionOf(kApprovedListClass, kApprovedListInstance),
            records.empty() ? 0 : records.front().record.seq};
}

void AddVersionField(std::string& page, const PageVersion& version) {
    const std::size_t form = page.find("<form id=\"settingsForm\"");
    const std::size_t tag_end = form == std::string::npos ? form : page.find('>', form);
    if (tag_end == std::string::npos) return;
    page.insert(tag_end + 1, "\n<input type=\"hidden\" name=\"" + OS::ToUtf8(kVersionField) + "\" id=\"" +
                                 OS::ToUtf8(kVersionField) + "\" value=\"" + VersionText(version) +
                                 "\" data-list-etag=\"" + Escaped(ListTag(version.list)) + "\">");
}

std::string ChangesSince(host::ConsoleStore& store, std::int64_t seq) {
    host::HistoryQuery query;
    query.limit = 50;
    std::string sentence;
    std::size_t named = 0;
    for (const host::HistoryRecord& entry : store.ReadHistory(query)) {
        if (entry.record.seq <= seq) break;
        if (entry.changes_summary.empty() || named == kChangesNamed) continue;
        const std::string time = entry.record.time.size() >= 16 ? entry.record.time.substr(11, 5) : entry.record.time;
        sentence += (sentence.empty() ? "" : "; ") + OS::ToUtf8(entry.record.context[0]) + " at " + time +
                    " UTC: " + ChangeSentence(entry.changes_summary);
        ++named;
    }
    return sentence.empty() ? "a change that History does not show" : sentence;
}

}  // namespace tessera::console

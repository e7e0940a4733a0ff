// The History page and the restore of an earlier state.
#include "history_page.h"
#include "page_parts.h"
#include "routes.h"

#include "change_words.h"
#include "html_doc.h"
#include "os_string.h"
#include "page_request.h"
#include "text_util.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace tessera::console {
namespace {

constexpr wchar_t kHistoryTemplate[] = L"web\\html\\console\\history.htm";
constexpr std::size_t kRecordsPerPage = 50;

// "2026-12-07T10:30:00.123Z" as "2026-12-07 10:30:00 UTC".
std::string ShownTime(const std::string& time) {
    if (time.size() < 19) return time;
    return time.substr(0, 10) + " " + time.substr(11, 8) + " UTC";
}

std::string Parameter(const std::multimap<std::string, std::string>& parameters, const std::string& name) {
    const auto found = parameters.find(name);
    return found == parameters.end() ? std::string() : found->second;
}

std::string EntryItems(const std::vector<std::string>& entries, std::size_t count, const char* kind) {
    if (entries.empty()) return {};
    std::string items = "<ul class=\"entries " + std::string(kind) + "\">";
    for (const std::string& entry : entries) items += "<li>" + Escaped(entry) + "</li>";
    if (count > entries.size())
        items += "<li class=\"more\">and " + WithThousands(count - entries.size()) + " more</li>";
    return items + "</ul>";
}

std::string ChangesTable(const std::string& changes_summary) {
    const std::vector<ChangeLine> lines = ChangeLines(changes_summary);
    if (lines.empty()) return {};
    std::string table =
        "<table class=\"changes\"><thead><tr><th scope=\"col\">Policy</th><th scope=\"col\">Setting</th>"
        "<th scope=\"col\">Before</th><th scope=\"col\">After</th></tr></thead><tbody>";
    for (const ChangeLine& line : lines) {
        table += "<tr><td>" + Escaped(line.policy) + "</td><td>" + Escaped(line.label) + "</td><td>" +
                 Escaped(line.before) + EntryItems(line.removed, line.removed_count, "removed") + "</td><td>" +
                 Escaped(line.after) + EntryItems(line.added, line.added_count, "added") + "</td></tr>";
    }
    return table + "</tbody></table>";
}

std::string RecordArticle(const host::HistoryRecord& entry, bool can_restore) {
    const host::AuditRecord& record = entry.record;
    const std::string action = record.action.empty() ? "action" : record.action;
    std::string article =
        "<article class=\"card history-record\" id=\"record-" + std::to_string(record.seq) +
        "\">\n<p class=\"history-head\"><span class=\"badge\">" + Escaped(action) + "</span> <time datetime=\"" +
        Escaped(record.time) + "\">" + Escaped(ShownTime(record.time)) + "</time> by <strong>" +
        Escaped(OS::ToUtf8(record.context[0])) + "</strong> from " + Escaped(OS::ToUtf8(record.context[1])) +
        ChannelWords(record.channel, record.token.empty() ? "" : "<strong>" + Escaped(record.token) + "</strong>") +
        (record.seq == 0 ? " <em>(not stored yet: the store refused it)</em>" : "") + "</p>\n<p>" +
        Escaped(OS::ToUtf8(record.message)) + "</p>\n";
    if (!record.rolled_back.empty()) {
        // The record is the plug-in's, kept as it wrote it; the console says what became of it.
        article += "<p class=\"rolled-back\"><strong>Not stored:</strong> this change was rolled back, because " +
                   Escaped(record.rolled_back) + ". Nothing of it is in the settings.</p>\n";
    }
    const std::string changes = ChangesTable(entry.changes_summary);
    const bool is_change = record.action == "save" || record.action == "reset" || record.action == "restore";
    const bool was_stored = record.seq != 0 && record.rolled_back.empty();
    article += changes.empty() && is_change && was_stored ? "<p class=\"muted\">Nothing changed.</p>\n" : changes;
    if (!changes.empty() && can_restore) {
        article += "<form class=\"restore\" method=\"post\" action=\"" + std::string(kRestorePath) +
                   "\"><input type=\"hidden\" name=\"seq\" value=\"" + std::to_string(record.seq) +
                   "\"><button type=\"submit\" class=\"button\">Restore the state before this change</button>"
                   "</form>\n";
    }
    return article + "</article>\n";
}

// Where the records go besides the store, and how far each destination has got.
std::string ForwardingParagraphs(host::ConsoleStore& store) {
    const std::vector<host::ForwardingState> states = store.ReadForwarding();
    if (states.empty()) return "<p class=\"muted\">" + Escaped(kNotForwarded) + "</p>";
    std::string paragraphs;
    for (const host::ForwardingState& state : states) {
        paragraphs += std::string("<p") + (state.error.empty() ? "" : " class=\"forwarding-error\"") + ">" +
                      Escaped(ForwardingSentence(state)) + "</p>";
    }
    return paragraphs;
}

std::string ActionOptions(const std::string& chosen) {
    std::string options = "<option value=\"\">All actions</option>";
    for (const std::string& name : ActionNames()) {
        options += "<option value=\"" + Escaped(name) + "\"" + (name == chosen ? " selected" : "") + ">" +
                   Escaped(name) + "</option>";
    }
    return options;
}

// A date of the filter form, "" when none; throws with the reason.
std::string DateOf(const std::multimap<std::string, std::string>& parameters, const char* name) {
    const std::string date = Parameter(parameters, name);
    if (!date.empty() && (date.size() != 10 || !IsTimeBound(date))) {
        throw std::invalid_argument("\"" + date + "\" is not a date (YYYY-MM-DD)");
    }
    return date;
}

}  // namespace

HistoryView HistoryViewOf(const std::multimap<std::string, std::string>& parameters, host::ConsoleStore& store) {
    HistoryView view;
    view.query.limit = kRecordsPerPage;
    view.query.before_seq = RecordSeqOf(Parameter(parameters, "before"));
    try {
        const std::string action = Parameter(parameters, "action");
        const std::vector<std::string>& names = ActionNames();
        if (!action.empty() && std::find(names.begin(), names.end(), action) == names.end()) {
            throw std::invalid_argument("there is no action \"" + action + "\"");
        }
        view.query.action = action;
        view.query.since = DateOf(parameters, "since");
        view.query.until = DateOf(parameters, "until");
    } catch (const std::invalid_argument& refused) {
        view.query = host::HistoryQuery{};
        view.query.limit = kRecordsPerPage;
        view.notice = std::string("All records are shown: ") + refused.what() + ".";
        view.is_error = true;
        return view;
    }
    if (const std::int64_t restored = RecordSeqOf(Parameter(parameters, "restored"))) {
        host::HistoryQuery one;
        one.seq = restored;
        for (const host::HistoryRecord& entry : store.ReadHistory(one)) {
            view.notice = OS::ToUtf8(entry.record.message) + " Changed: " + ChangeSentence(entry.changes_summary) + ".";
        }
    }
    return view;
}

std::optional<std::string> RenderHistoryPage(host::ConsoleStore& store, const HistoryView& view) {
    const std::vector<host::HistoryRecord> records = store.ReadHistory(view.query);
    std::string articles;
    for (const host::HistoryRecord& entry : records) articles += RecordArticle(entry, view.can_restore);
    if (records.empty()) articles = "<p class=\"empty\">No records match.</p>";
    std::string older;
    if (records.size() == view.query.limit && records.back().record.seq > 1) {
        older = "<p class=\"pager\"><a href=\"" + std::string(kHistoryPath) +
                "?before=" + std::to_string(records.back().record.seq) + "&amp;action=" + Escaped(view.query.action) +
                "&amp;since=" + Escaped(view.query.since) + "&amp;until=" + Escaped(view.query.until) +
                "\">Older records</a></p>";
    }
    return FilledTemplate(kHistoryTemplate, {
                                                {L"$$TOPBAR$$", view.top_bar},
                                                {L"$$MESSAGE$$", NoticeParagraph(view.notice, view.is_error)},
                                                {L"$$ACTION_OPTIONS$$", ActionOptions(view.query.action)},
                                                {L"$$SINCE$$", Escaped(view.query.since)},
                                                {L"$$UNTIL$$", Escaped(view.query.until)},
                                                {L"$$RECORDS$$", articles},
                                                {L"$$OLDER$$", older},
                                                {L"$$FORWARDING$$", ForwardingParagraphs(store)},
                                            });
}

host::ActionOutcome RestoreBefore(host::ConsoleStore& store, std::int64_t seq, const std::string& user_name,
                                  const std::string& client_address, std::string& error,
                                  const host::ActionChannel& channel, const std::function<void()>& check) {
    try {
        return store.RunAction(
            [&] {
                if (check) check();
                host::HistoryQuery target;
                target.seq = seq;
                const std::vector<host::HistoryRecord> records = store.ReadHistory(target);
                if (records.empty()) throw std::runtime_error("there is no record " + std::to_string(seq));
                for (const host::StoredInstance& instance : store.StateBefore(seq)) {
                    if (!store.Save(instance.class_name, instance.instance_name, instance.properties)) {
                        throw std::runtime_error(OS::ToUtf8(instance.class_name) + "/" +
                                                 OS::ToUtf8(instance.instance_name) +
                                                 " could not be stored (see debug.log)");
                    }
                }
                host::AuditRecord record;
                record.context[0] = OS::FromUtf8(user_name);
                record.context[1] = OS::FromUtf8(client_address);
                record.context[2] = L"history";
                record.event_type = kChangeEvent;
                record.source_type = kConsoleSource;
                record.message = OS::FromUtf8("Settings restored as they were before record " + std::to_string(seq) +
                                              " (" + ShownTime(records.front().record.time) + ").");
                store.AppendAudit(std::move(record));
            },
            "restore", host::ActionEffect::kChangesStore, channel);
    } catch (const std::runtime_error& failure) {
        error = std::string("Nothing was restored: ") + failure.what() + ".";
        return {false, error, 0, {}};
    }
}

}  // namespace tessera::console

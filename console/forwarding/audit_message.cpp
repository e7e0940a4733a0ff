// RFC 5424 messages of audit records.
#include "audit_message.h"
#include "change_words.h"
#include "os_string.h"

#include <unistd.h>

#include <climits>
#include <cstddef>

namespace tessera::console {
namespace {

constexpr std::size_t kMessageLimit = 8192;

// A header field: printable US-ASCII without spaces, at most `limit` octets,
// else RFC 5424's NILVALUE.
std::string HeaderField(const std::string& text, std::size_t limit) {
    if (text.empty() || text.size() > limit) return "-";
    for (const char octet : text) {
        if (octet < 33 || octet > 126) return "-";
    }
    return text;
}

void AppendParamValue(std::string& out, const std::string& value) {
    for (const char octet : value) {
        if (octet == '"' || octet == '\\' || octet == ']') out += '\\';
        out += octet;
    }
}

// The length of the longest start of `text` within `limit` octets that ends
// between two UTF-8 characters.
std::size_t CharacterBoundary(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return end;
}

}  // namespace

MessageOrigin ThisConsole() {
    char name[HOST_NAME_MAX + 1] = {};
    MessageOrigin origin;
    if (::gethostname(name, sizeof name - 1) == 0) origin.host_name = name;
    origin.process_id = std::to_string(::getpid());
    return origin;
}

int SyslogSeverity(const host::AuditRecord& record) {
    if (!record.rolled_back.empty() || record.action == "sign-in-failed") return 4;
    return record.event_type == kChangeEvent ? 5 : 6;
}

std::string MessageText(const host::OutboxRecord& outbox) {
    const host::AuditRecord& record = outbox.entry.record;
    const std::string user = OS::ToUtf8(record.context[0]);
    const std::string address = OS::ToUtf8(record.context[1]);
    std::string text = (user.empty() ? std::string("someone not signed in") : user) +
                       (address.empty() ? std::string() : " from " + address) +
                       ChannelWords(record.channel, record.token) + ": " + OS::ToUtf8(record.message);
    if (!outbox.entry.changes_summary.empty())
        text += " Changed: " + ChangeSentence(outbox.entry.changes_summary) + ".";
    if (!record.rolled_back.empty()) text += " Not stored: it was rolled back, because " + record.rolled_back + ".";
    return text;
}

std::vector<std::pair<std::string, std::string>> RecordFacts(const host::OutboxRecord& outbox) {
    const host::AuditRecord& record = outbox.entry.record;
    std::vector<std::pair<std::string, std::string>> facts = {
        {"seq", std::to_string(record.seq)},
        {"chain", outbox.chain},
        {"user", OS::ToUtf8(record.context[0])},
        {"address", OS::ToUtf8(record.context[1])},
        {"channel", record.channel},
    };
    if (!record.token.empty()) facts.emplace_back("token", record.token);
    facts.emplace_back("action", record.action);
    if (!outbox.entry.changes_summary.empty())
        facts.emplace_back("changed", ChangeSentence(outbox.entry.changes_summary));
    if (!record.rolled_back.empty()) facts.emplace_back("rolled-back", record.rolled_back);
    return facts;
}

std::string SyslogMessage(const host::OutboxRecord& outbox, const MessageOrigin& origin) {
    const host::AuditRecord& record = outbox.entry.record;
    std::string message = "<" + std::to_string(kAuthprivFacility * 8 + SyslogSeverity(record)) + ">1 " +
                          HeaderField(record.time, 32) + " " + HeaderField(origin.host_name, 255) + " " +
                          kSyslogAppName + " " + HeaderField(origin.process_id, 128) + " " +
                          HeaderField(record.action, 32) + " [" + kStructuredDataId;
    for (const auto& [name, value] : RecordFacts(outbox)) {
        message += " " + name + "=\"";
        AppendParamValue(message, value);
        message += "\"";
    }
    message += "] \xEF\xBB\xBF";  // the BOM: the text is UTF-8
    const std::string text = MessageText(outbox);
    if (message.size() + text.size() <= kMessageLimit) return message + text;
    static constexpr char kCut[] = "...";
    const std::size_t room = kMessageLimit > message.size() + 3 ? kMessageLimit - message.size() - 3 : 0;
    return message + text.substr(0, CharacterBoundary(text, room)) + kCut;
}

std::string OctetCounted(const std::string& message) { return std::to_string(message.size()) + " " + message; }

}  // namespace tessera::console

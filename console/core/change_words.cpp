// The console's words for audit records and changes.
#include "change_words.h"
#include "hosted_pages.h"
#include "os_string.h"
#include "page_request.h"
#include "policy_settings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>

namespace tessera::console {
namespace {

// What a changed property is, in the settings page's words.
struct Label {
    std::string_view words;
    SettingKind kind;
};

std::optional<Label> LabelOf(const std::string& property) {
    if (property == OS::ToUtf8(kApprovedListProperty)) return Label{"Approved sites", SettingKind::kText};
    for (const PolicySetting& setting : kPolicySettings) {
        if (setting.property == property) return Label{setting.label, setting.kind};
    }
    return std::nullopt;
}

std::string PolicyWords(const nlohmann::json& change) {
    const std::string instance = change.value("instance", "");
    for (const HostedPolicy& policy : kHostedPolicies) {
        if (instance == policy.instance) return policy.label;
    }
    if (instance == OS::ToUtf8(kApprovedListInstance)) return "Both policies";
    return change.value("class", "") + "/" + instance;
}

// A stored value ({"vt", "value"} or null) in the words of its kind.
std::string ValueWords(const nlohmann::json& stored, SettingKind kind) {
    if (stored.is_null() || !stored.contains("value")) return "(not set)";
    const nlohmann::json& value = stored.at("value");
    if (value.is_number_integer()) {
        const long long number = value.get<long long>();
        static const char* const kLevels[] = {"High", "Medium", "Low"};
        static const char* const kActions[] = {"Deliver it unchanged", "Do not deliver it", "Replace the message",
                                               "Deliver it with a note"};
        if (kind == SettingKind::kSwitch) return number != 0 ? "on" : "off";
        if (kind == SettingKind::kLevel && number >= 0 && number < 3) return kLevels[number];
        if (kind == SettingKind::kAction && number >= 0 && number < 4) return kActions[number];
        return std::to_string(number);
    }
    if (value.is_string()) return "\"" + value.get<std::string>() + "\"";
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Entries(std::size_t count) { return WithThousands(count) + (count == 1 ? " entry" : " entries"); }

std::vector<std::string> Texts(const nlohmann::json& texts) {
    std::vector<std::string> result;
    for (const nlohmann::json& text : texts) result.push_back(text.get<std::string>());
    return result;
}

}  // namespace

std::string EventTypeName(int event_type) {
    if (event_type == kAccessEvent) return "access";
    if (event_type == kChangeEvent) return "change";
    return "type " + std::to_string(event_type);
}

std::string SourceTypeName(int source_type) {
    if (source_type == kPluginSource) return "page plug-in";
    if (source_type == kConsoleSource) return "console";
    return "source " + std::to_string(source_type);
}

const std::vector<std::string>& ActionNames() {
    static const std::vector<std::string> kNames = {"save",
                                                    "reset",
                                                    "import",
                                                    "export",
                                                    "restore",
                                                    "sign-in",
                                                    "sign-in-failed",
                                                    "sign-out",
                                                    "account-added",
                                                    "role-changed",
                                                    "account-disabled",
                                                    "account-enabled",
                                                    "account-removed",
                                                    "password-changed",
                                                    "second-factor-added",
                                                    "second-factor-removed",
                                                    "recovery-code-used",
                                                    "session-ended",
                                                    "token-created",
                                                    "token-revoked",
                                                    "other"};
    return kNames;
}

std::vector<ChangeLine> ChangeLines(const std::string& changes_summary) {
    std::vector<ChangeLine> lines;
    if (changes_summary.empty()) return lines;
    const nlohmann::json changes = nlohmann::json::parse(changes_summary);
    for (const nlohmann::json& change : changes) {
        for (const nlohmann::json& value : change.at("values")) {
            const std::string property = value.at("name");
            const std::optional<Label> label = LabelOf(property);
            const SettingKind kind = label ? label->kind : SettingKind::kText;
            ChangeLine line;
            line.policy = PolicyWords(change);
            line.label = label ? std::string(label->words) : property;
            line.before = ValueWords(value.at("before"), kind);
            line.after = ValueWords(value.at("after"), kind);
            lines.push_back(std::move(line));
        }
        for (const nlohmann::json& list : change.at("lists")) {
            const std::string property = list.at("name");
            const std::optional<Label> label = LabelOf(property);
            ChangeLine line;
            line.policy = PolicyWords(change);
            line.label = label ? std::string(label->words) : property;
            line.is_list = true;
            line.removed_count = list.at("removed_count");
            line.added_count = list.at("added_count");
            line.before = Entries(line.removed_count) + " removed";
            line.after = Entries(line.added_count) + " added";
            line.removed = Texts(list.at("removed"));
            line.added = Texts(list.at("added"));
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

std::string ChangeSentence(const std::string& changes_summary) {
    std::string sentence;
    std::vector<ChangeLine> lines = ChangeLines(changes_summary);
    // The list first: it is what most actions are about.
    std::stable_partition(lines.begin(), lines.end(), [](const ChangeLine& line) { return line.is_list; });
    for (const ChangeLine& line : lines) {
        sentence += sentence.empty() ? "" : "; ";
        sentence += line.is_list
                        ? Entries(line.added_count) + " added, " + WithThousands(line.removed_count) + " removed"
                        : line.label + " " + line.before + " -> " + line.after;
    }
    return sentence.empty() ? "nothing changed" : sentence;
}

std::string ChannelWords(const std::string& channel, const std::string& token_shown) {
    if (channel == kBrowserChannel) return " in the browser";
    if (channel == kCommandLineChannel) return " on the command line";
    if (channel != kApiChannel) return {};
    return token_shown.empty() ? " through the API" : " through the API with the token " + token_shown;
}

std::string ForwardingSentence(const host::ForwardingState& state) {
    std::string sentence = state.destination + ": ";
    sentence += state.sent_seq == 0 ? "nothing delivered yet"
                                    : "every record up to " + WithThousands(static_cast<std::size_t>(state.sent_seq)) +
                                          " delivered, the last at " + state.sent_time;
    sentence += "; " + WithThousands(static_cast<std::size_t>(state.waiting)) + " waiting.";
    if (!state.error.empty()) sentence += " Last error at " + state.error_time + ": " + state.error + ".";
    return sentence;
}

bool IsTimeBound(const std::string& text) {
    static const std::string kShape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != 10 && text.size() != 13 && text.size() != 16 && text.size() != 19) return false;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const bool is_digit = text[index] >= '0' && text[index] <= '9';
        if (kShape[index] == 'd' ? !is_digit : text[index] != kShape[index]) return false;
    }
    return true;
}

std::string WithThousands(std::size_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

}  // namespace tessera::console

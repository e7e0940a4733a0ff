// The console's table of a policy's settings, and their reading and writing.
#include "policy_settings.h"

#include "hosted_pages.h"
#include "os_string.h"

#include <set>

namespace tessera::console {

using K = SettingKind;

const PolicySetting kPolicySettings[24] = {
    {"EnableURLFilter", "URL filtering", K::kSwitch, "/enabled", L"chkEnable", L"on", nullptr},
    {"SecurityLevelType", "Security level", K::kLevel, "/securityLevel", L"rdoSecurityLevel", nullptr, nullptr},
    {"EnableActionToNoRatingURL", "Action on URLs without a rating", K::kSwitch, "/actOnUnratedUrls",
     L"chkEnableTakeActionToNoRating", L"on", nullptr},
    {"URLFilterActionType", "Action on a filtered URL", K::kAction, "/action/type", L"rdoDeliverAct", nullptr, nullptr},
    {"ActionReplaceAll", "Replacement text", K::kText, "/action/replaceText", L"txtDeliverAct_Replace", nullptr,
     nullptr},
    {"ActionTagFrontNote", "Note", K::kText, "/action/noteText", L"txtDeliverAct_AddNote", nullptr, nullptr},
    {"EnableArchive", "Archiving", K::kSwitch, "/archive", L"rdoArchive", L"ArchiveAct_yes", L"ArchiveAct_no"},
    {"EnableApprovedList", "Approved sites in use", K::kSwitch, "/approvedListEnabled", L"chkEnableAppURL", L"on",
     nullptr},
    {"UFNotificationSettings/EnableAdminEmailNotify", "Administrator email", K::kSwitch,
     "/notifications/administrator/email", L"chkAdminEmail", L"on", nullptr},
    {"UFNotificationSettings/EnableAdminIMNotify", "Administrator instant message", K::kSwitch,
     "/notifications/administrator/instantMessage", L"chkAdminInstant", L"on", nullptr},
    {"UFNotificationSettings/EnableSNMPNotify", "SNMP trap", K::kSwitch, "/notifications/administrator/snmp",
     L"chkAdminSNMP", L"on", nullptr},
    {"UFNotificationSettings/EnableEventLog", "Event log", K::kSwitch, "/notifications/administrator/eventLog",
     L"chkLog", L"on", nullptr},
    {"UFNotificationSettings/AdminEmailAddress", "Administrator email address", K::kText,
     "/notifications/administrator/emailAddress", L"txtAdminEmail", nullptr, nullptr},
    {"UFNotificationSettings/AdminSIPAddress", "Administrator SIP address", K::kText,
     "/notifications/administrator/sipAddress", L"txtAdminInstant", nullptr, nullptr},
    {"UFNotificationSettings/AdminSubject", "Administrator subject", K::kText, "/notifications/administrator/subject",
     L"txtNotifyAdminSubject", nullptr, nullptr},
    {"UFNotificationSettings/AdminMessage", "Administrator message", K::kText, "/notifications/administrator/message",
     L"txtAdminMessage", nullptr, nullptr},
    {"UFNotificationSettings/EnableSenderEmailNotify", "Sender email", K::kSwitch, "/notifications/sender/email",
     L"chkSenderEmail", L"on", nullptr},
    {"UFNotificationSettings/EnableSenderIMNotify", "Sender instant message", K::kSwitch,
     "/notifications/sender/instantMessage", L"chkSenderInstant", L"on", nullptr},
    {"UFNotificationSettings/SenderSubject", "Sender subject", K::kText, "/notifications/sender/subject",
     L"txtSenderSubject", nullptr, nullptr},
    {"UFNotificationSettings/SenderMessage", "Sender message", K::kText, "/notifications/sender/message",
     L"txtSenderMessage", nullptr, nullptr},
    {"UFNotificationSettings/EnableRecipientEmailNotify", "Recipient email", K::kSwitch,
     "/notifications/recipient/email", L"chkRecieverEmail", L"on", nullptr},
    {"UFNotificationSettings/EnableRecipientIMNotify", "Recipient instant message", K::kSwitch,
     "/notifications/recipient/instantMessage", L"chkRecieverInstant", L"on", nullptr},
    {"UFNotificationSettings/RecipientSubject", "Recipient subject", K::kText, "/notifications/recipient/subject",
     L"txtRecieverSubject", nullptr, nullptr},
    {"UFNotificationSettings/RecipientMessage", "Recipient message", K::kText, "/notifications/recipient/message",
     L"txtRecieverMessage", nullptr, nullptr},
};

namespace {

constexpr char kEmbeddedPrefix[] = "UFNotificationSettings/";
// Members of a policy's JSON that the console fills and a PUT may send back as they are.
constexpr const char* kDescriptiveMembers[] = {"/id", "/name"};

// The stored value of a setting, or null when it is not set.
const _variant_t* StoredValue(const host::PropertyBag& policy, std::string_view property) {
    const std::string_view prefix = kEmbeddedPrefix;
    const host::PropertyBag* bag = &policy;
    if (property.substr(0, prefix.size()) == prefix) {
        const _variant_t* embedded = policy.Find(OS::FromUtf8(std::string(prefix.substr(0, prefix.size() - 1))));
        bag = embedded ? host::EmbeddedProperties(*embedded) : nullptr;
        if (bag == nullptr) return nullptr;
        property.remove_prefix(prefix.size());
    }
    return bag->Find(OS::FromUtf8(std::string(property)));
}

// As the settings page shows them: a switch is on only for a VT_BOOL true,
// a level or an action is any of the integer kinds (and none outside the
// choices), a text only a VT_BSTR.
nlohmann::ordered_json JsonOf(const _variant_t* value, SettingKind kind) {
    switch (kind) {
    case SettingKind::kSwitch:
        return value != nullptr && value->vt == VT_BOOL && value->boolVal == VARIANT_TRUE;
    case SettingKind::kLevel:
    case SettingKind::kAction:
        if (value == nullptr ||
            (value->vt != VT_I4 && value->vt != VT_UI4 && value->vt != VT_INT && value->vt != VT_UINT)) {
            return nullptr;
        }
        for (const SettingChoice& choice : ChoicesOf(kind)) {
            if (choice.code == value->lVal) return choice.word;
        }
        return nullptr;
    case SettingKind::kText:
        if (value == nullptr || value->vt != VT_BSTR) return "";
        return OS::ToUtf8(std::wstring(value->bstrVal, ::SysStringLen(value->bstrVal)));
    }
    return nullptr;
}

std::string KindWords(SettingKind kind) {
    switch (kind) {
    case SettingKind::kSwitch:
        return "true or false";
    case SettingKind::kText:
        return "a text";
    case SettingKind::kLevel:
    case SettingKind::kAction:
        break;
    }
    std::string words;
    for (const SettingChoice& choice : ChoicesOf(kind)) {
        words += (words.empty() ? "one of \"" : ", \"") + std::string(choice.word) + "\"";
    }
    return words;
}

// Settings lie at most this deep; a body nested deeper is cut there, not walked.
constexpr int kMaxSettingsDepth = 4;

// Every member of `value` that is no object, by its pointer.
void CollectLeaves(const nlohmann::json& value, const std::string& pointer, std::set<std::string>& leaves,
                   int depth = 0) {
    if (!value.is_object() || depth == kMaxSettingsDepth) {
        leaves.insert(pointer);
        return;
    }
    for (const auto& [name, member] : value.items()) {
        std::string escaped;  // as a JSON pointer writes "~" and "/"
        for (const char c : name) escaped += c == '~' ? "~0" : c == '/' ? "~1" : std::string(1, c);
        CollectLeaves(member, pointer + "/" + escaped, leaves, depth + 1);
    }
}

}  // namespace

const std::vector<SettingChoice>& ChoicesOf(SettingKind kind) {
    static const std::vector<SettingChoice> kLevels = {{"high", L"High", 0}, {"medium", L"Mid", 1}, {"low", L"Low", 2}};
    static const std::vector<SettingChoice> kActions = {
        {"deliver", L"Pass", 0}, {"cancel", L"Cancel", 1}, {"replace", L"Replace", 2}, {"addNote", L"AddNote", 3}};
    static const std::vector<SettingChoice> kNone;
    if (kind == SettingKind::kLevel) return kLevels;
    if (kind == SettingKind::kAction) return kActions;
    return kNone;
}

nlohmann::ordered_json SettingsOf(const host::PropertyBag& policy) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    for (const PolicySetting& setting : kPolicySettings) {
        settings[nlohmann::ordered_json::json_pointer(setting.pointer)] =
            JsonOf(StoredValue(policy, setting.property), setting.kind);
    }
    return settings;
}

void AddSettingsFields(const nlohmann::json& settings, CCGIRequestData& form) {
    if (!settings.is_object()) throw SettingsError("", "the settings must be a JSON object");
    std::set<std::string> leaves;
    CollectLeaves(settings, "", leaves);
    for (const char* member : kDescriptiveMembers) leaves.erase(member);
    for (const PolicySetting& setting : kPolicySettings) {
        const nlohmann::json::json_pointer pointer(setting.pointer);
        if (!settings.contains(pointer)) throw SettingsError(setting.pointer, "this setting is missing");
        leaves.erase(setting.pointer);
        const nlohmann::json& value = settings.at(pointer);
        // A level or an action the page would show unchosen stays as stored.
        if (value.is_null() && (setting.kind == SettingKind::kLevel || setting.kind == SettingKind::kAction)) continue;
        const std::string wrong = "must be " + KindWords(setting.kind);
        switch (setting.kind) {
        case SettingKind::kSwitch:
            if (!value.is_boolean()) throw SettingsError(setting.pointer, wrong);
            if (value.get<bool>()) {
                form.AddField(setting.field, setting.on_value);
            } else if (setting.off_value != nullptr) {
                form.AddField(setting.field, setting.off_value);
            }
            break;
        case SettingKind::kLevel:
        case SettingKind::kAction: {
            const SettingChoice* chosen = nullptr;
            for (const SettingChoice& choice : ChoicesOf(setting.kind)) {
                if (value.is_string() && value.get<std::string>() == choice.word) chosen = &choice;
            }
            if (chosen == nullptr) throw SettingsError(setting.pointer, wrong);
            form.AddField(setting.field, chosen->radio_value);
            break;
        }
        case SettingKind::kText: {
            if (!value.is_string()) throw SettingsError(setting.pointer, wrong);
            const std::string& text = value.get_ref<const std::string&>();
            if (text.find('\0') != std::string::npos) throw SettingsError(setting.pointer, "cannot hold a NUL");
            form.AddField(setting.field, OS::FromUtf8(text));
            break;
        }
        }
    }
    // A misspelt name would otherwise leave its setting as stored without a word.
    if (!leaves.empty()) throw SettingsError(*leaves.begin(), "there is no such setting");
}

namespace {

const SAFEARRAY* ApprovedArray(const host::PropertyBag& list) {
    const _variant_t* value = list.Find(kApprovedListProperty);
    return value == nullptr || value->vt != host::kBstrArray ? nullptr : value->parray;
}

}  // namespace

std::size_t ApprovedEntryCount(const host::PropertyBag& list) {
    const SAFEARRAY* array = ApprovedArray(list);
    return array == nullptr ? 0 : ::SafeArrayGetCount(array);
}

void ForEachApprovedEntry(const host::PropertyBag& list, const std::function<void(std::wstring_view)>& visit) {
    const SAFEARRAY* array = ApprovedArray(list);
    const std::size_t count = array == nullptr ? 0 : ::SafeArrayGetCount(array);
    for (std::size_t index = 0; index < count; ++index) {
        visit({::SafeArrayGetBSTR(array, index), ::SafeArrayGetBSTRLength(array, index)});
    }
}

std::vector<std::wstring> ApprovedEntries(const host::PropertyBag& list) {
    std::vector<std::wstring> entries;
    entries.reserve(ApprovedEntryCount(list));
    ForEachApprovedEntry(list, [&entries](std::wstring_view entry) { entries.emplace_back(entry); });
    return entries;
}

}  // namespace tessera::console

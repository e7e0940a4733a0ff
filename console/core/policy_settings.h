// The settings of one policy as the console names them: for each, the stored
// property that keeps it, the settings page's label, the name and type the
// automation API gives it, and the settings form's field that sends it. The
// API reads the stored values and changes them only through the plug-in's
// form; History puts their changes in words.
#pragma once

#include "cgi_request.h"
#include "mgmt_store.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::console {

enum class SettingKind { kSwitch, kLevel, kAction, kText };

struct PolicySetting {
    std::string_view property;  // a property of the policy, or "UFNotificationSettings/" and one of its own
    std::string_view label;     // as the settings page shows it
    SettingKind kind;
    const char* pointer;       // in the API's JSON, a JSON pointer
    const wchar_t* field;      // of the settings form
    const wchar_t* on_value;   // a switch's value when on: a check box's "on", or a radio's
    const wchar_t* off_value;  // its value when off; null for a check box, which is then not sent
};

// The 24 settings, in the settings page's order.
extern const PolicySetting kPolicySettings[24];

// A choice of a level or an action: the API's word, the form's radio value and the stored number.
struct SettingChoice {
    const char* word;
    const wchar_t* radio_value;
    int code;
};
const std::vector<SettingChoice>& ChoicesOf(SettingKind kind);

// A value the API cannot take: where it is (a JSON pointer) and why.
class SettingsError : public std::runtime_error {
public:
    SettingsError(std::string pointer, const std::string& detail)
        : std::runtime_error(detail), pointer_(std::move(pointer)) {}
    const std::string& Pointer() const { return pointer_; }

private:
    std::string pointer_;
};

// The settings of a stored policy object, each at its pointer, as the
// settings page shows them: a level or an action it shows unchosen (a number
// outside the choices, a value of another type) is null.
nlohmann::ordered_json SettingsOf(const host::PropertyBag& policy);

// Adds to `form` the fields that post `settings` (the whole object, as
// SettingsOf gives it) through the settings form. A null level or action
// leaves its stored value as it is. Throws SettingsError for a missing
// member, one the object does not have, or a value of a wrong type or choice.
void AddSettingsFields(const nlohmann::json& settings, CCGIRequestData& form);

// The entries of a stored approved list object, as stored, and how many there are.
std::vector<std::wstring> ApprovedEntries(const host::PropertyBag& list);
std::size_t ApprovedEntryCount(const host::PropertyBag& list);
// Each entry in turn, without a copy: the view lasts as long as `list`'s value.
void ForEachApprovedEntry(const host::PropertyBag& list, const std::function<void(std::wstring_view)>& visit);

}  // namespace tessera::console

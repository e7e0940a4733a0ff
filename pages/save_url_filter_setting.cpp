// The settings form's save: the policy's settings, its notification settings
// and the whole approved list, then one audit record whatever failed.
#include "approved_url_rule.h"
#include "audit_record.h"
#include "core_string.h"
#include "mgmt_object.h"
#include "page_cb_url_filter.h"
#include "page_ids.h"
#include "page_log.h"
#include "url_filter_schema.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using namespace tessera::pages;

constexpr unsigned int kSaveAuditTextId = 859;

// The code of a submitted radio value (letter case ignored); nothing when the
// value is none of the listed ones.
template <std::size_t N>
std::optional<std::int32_t> RadioCode(const OS::x_wstring& submitted, const schema::RadioValue (&values)[N]) {
    for (const schema::RadioValue& value : values) {
        if (submitted.CompareNoCase(value.value) == 0) {
            return value.code;
        }
    }
    return std::nullopt;
}

// A text field the form does not carry leaves the property as stored; an
// empty one stores the empty text.
void WriteSubmittedText(const CCGIRequestDataHelper& form, const wchar_t* field, CMgmtObjectBase& object,
                        const wchar_t* property) {
    OS::x_wstring text;
    if (form.GetEnvVariable(field, text) == 0) {
        object.SetPropertyValue(property, text.c_str());
    }
}

void WritePolicySettings(const CCGIRequestDataHelper& form, CMgmtObjectBase& policy) {
    using namespace schema;
    OS::x_wstring radio;

    policy.SetPropertyValue(kEnableURLFilter, form.IsChecked(L"chkEnable"));
    if (form.GetEnvVariable(L"rdoSecurityLevel", radio) == 0) {
        policy.SetPropertyValue(kSecurityLevelType,
                                static_cast<int>(RadioCode(radio, kSecurityLevelRadio).value_or(kSecurityLevelLow)));
    }
    policy.SetPropertyValue(kEnableApprovedList, form.IsChecked(L"chkEnableAppURL"));
    if (form.GetEnvVariable(L"rdoDeliverAct", radio) == 0) {
        policy.SetPropertyValue(kURLFilterActionType,
                                static_cast<int>(RadioCode(radio, kFilterActionRadio).value_or(kActionPass)));
    }
    WriteSubmittedText(form, L"txtDeliverAct_Replace", policy, kActionReplaceAll);
    WriteSubmittedText(form, L"txtDeliverAct_AddNote", policy, kActionTagFrontNote);
    if (form.GetEnvVariable(L"rdoArchive", radio) == 0) {
        // Written through the integer setter; the store keeps it as the declared boolean.
        if (const std::optional<std::int32_t> archive = RadioCode(radio, kArchiveRadio)) {
            policy.SetPropertyValue(kEnableArchive, static_cast<int>(*archive));
        }
    }
    policy.SetPropertyValue(kEnableActionToNoRatingURL, form.IsChecked(L"chkEnableTakeActionToNoRating"));
}

void WriteNotificationSettings(const CCGIRequestDataHelper& form, CMgmtObjectBase& notification) {
    for (const schema::NotificationSetting& setting : schema::kNotificationSettings) {
        if (setting.is_flag) {
            notification.SetPropertyValue(setting.property, form.IsChecked(setting.form_field));
        } else {
            WriteSubmittedText(form, setting.form_field, notification, setting.property);
        }
    }
}

// The submitted values sorted by UTF-16 code unit (so "*." sorts before
// capitals, and capitals before small letters, which decides which spelling of
// an entry wins), then cut at every ";" and passed through the entry rule.
void BuildApprovedList(const CCGIRequestDataHelper& form, CMgmtBSTRArrayAccessHelper& builder) {
    std::vector<OS::x_wstring> values;
    if (form.GetEnvVariable(L"stApprovedURL", values) != 0) {
        return;
    }
    // Each value with the key of its first code units, so that most
    // comparisons read no text: a million texts do not fit the cache.
    struct Keyed {
        OS::UTF16SortKey key;
        const OS::x_wstring* value;
    };
    std::vector<Keyed> sorted;
    sorted.reserve(values.size());
    for (const OS::x_wstring& value : values) {
        sorted.push_back(Keyed{OS::UTF16SortKeyOf(value), &value});
    }
    const auto by_code_unit = [](const Keyed& left, const Keyed& right) {
        return left.key != right.key ? left.key < right.key : OS::UTF16Compare(*left.value, *right.value) < 0;
    };
    // The settings page posts the stored list, which is sorted, then what was
    // added since: only what follows the sorted start is sorted, and merged in.
    const auto sorted_end = std::is_sorted_until(sorted.begin(), sorted.end(), by_code_unit);
    // A merge sort: it reads its runs in order, where the library's introsort
    // fell back to a heap sort's scattered reads on lists in reverse. Equal
    // values are equal texts, so stability changes nothing here.
    std::stable_sort(sorted_end, sorted.end(), by_code_unit);
    std::inplace_merge(sorted.begin(), sorted_end, sorted.end(), by_code_unit);

    // Joining the sorted values with ";" and cutting the joined text at every
    // ";" gives each value's own pieces in turn: only a value that holds ";" is
    // cut, and the pieces of the others are the values themselves, not copies.
    std::vector<Core::Collection::StringArray> cut_values;
    std::vector<std::wstring_view> pieces;
    pieces.reserve(sorted.size());
    for (const Keyed& keyed : sorted) {
        if (keyed.value->find(L';') == std::wstring::npos) {
            pieces.emplace_back(*keyed.value);
            continue;
        }
        const Core::Collection::StringArray& cut =
            cut_values.emplace_back(Core::String(keyed.value->c_str()).SplitByChar(L";"));
        for (std::size_t index = 0; index < cut.GetSize(); ++index) {
            pieces.emplace_back(cut[index].c_str(), cut[index].GetLength());
        }
    }
    sorted.clear();

    ApprovedEntryPass(pieces.size())
        .Run(
            pieces.size(), [&pieces](std::size_t index) { return pieces[index]; },
            [&builder](const std::wstring& canonical) { builder.Add(canonical.c_str()); });
}

}  // namespace

void CPageCB_URLFilter::SaveURLFilterSetting(const CCGIRequestData* request, CHtmlDoc*) {
    PageLog(kLogEnter, 152, L"CPageCB_URLFilter::SaveURLFilterSetting()");
    const CCGIRequestDataHelper form(request);

    OS::x_wstring policy_instance_id;
    request->GetEnvVariable(kPolicyInstanceField, policy_instance_id, false);
    if (policy_instance_id.IsEmpty()) {
        policy_instance_id = schema::kUrlFilterInstance;
    }
    const OS::x_wstring description = PolicyDescription(policy_instance_id);

    {
        CMgmtObject policy(schema::kUrlFilterClass, policy_instance_id, nullptr);
        if (policy.Get()) {
            WritePolicySettings(form, policy);
            CMgmtObjectBase notification(policy.GetPropertyValue(schema::kUFNotificationSettings), true);
            WriteNotificationSettings(form, notification);
            // The embedded edits belong to the policy: its Put stores them while the view still exists.
            if (!policy.Put(false)) {
                PageLog(kLogFailure, 358, L"Failed to call CMgmtObject::Put() (%s:%s)", schema::kUrlFilterClass,
                        policy_instance_id.c_str());
            }
        } else {
            PageLog(kLogFailure, 366, L"Failed to get URL Filter CMgmtObject object (%s:%s)", schema::kUrlFilterClass,
                    policy_instance_id.c_str());
        }
    }

    {
        CMgmtObject approved_list(schema::kApprovedListsClass, schema::kApprovedListInstance, nullptr);
        if (approved_list.Get()) {
            // The whole list is replaced: an entry the form no longer carries is gone.
            CMgmtBSTRArrayAccessHelper builder;
            BuildApprovedList(form, builder);
            _variant_t entries;
            VariantInit(&entries);
            if (builder.PutElementsIntoArray(entries)) {
                approved_list.SetPropertyValue(schema::kApprovedLists, entries);
            }
            VariantClear(&entries);
            if (!approved_list.Put(false)) {
                PageLog(kLogFailure, 480, L"Failed to call CMgmtObject::Put() (%s:%s)", schema::kApprovedListsClass,
                        schema::kApprovedListInstance);
            }
        } else {
            PageLog(kLogFailure, 488, L"Failed to get URL Filter CMgmtObject object (%s:%s)",
                    schema::kApprovedListsClass, schema::kApprovedListInstance);
        }
    }

    WriteAuditRecord(form, kSaveAuditTextId, &description);
    PageLog(kLogLeave, 505, L"CPageCB_URLFilter::SaveURLFilterSetting()");
}

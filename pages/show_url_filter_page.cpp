// The settings page: links, the policy being edited, every stored setting of
// that policy and the approved list, as the store holds them now.
#include "approved_url_rule.h"
#include "mgmt_object.h"
#include "page_cb_url_filter.h"
#include "page_ids.h"
#include "page_log.h"
#include "stored_value.h"
#include "url_filter_schema.h"

#include <optional>
#include <string_view>
#include <vector>

namespace {

using namespace tessera::pages;

struct NumberOption {
    std::int32_t code;
    const wchar_t* placeholder;
};

// Every option of the group is written; a number outside the group ticks none.
template <std::size_t N>
void WriteNumberOptions(CHtmlDocHelper& document, const CMgmtObjectBase& object, const wchar_t* property,
                        const NumberOption (&options)[N]) {
    const std::int32_t number = ReadNumber(object.GetPropertyValue(property));
    for (const NumberOption& option : options) {
        document.Checked(option.placeholder, number == option.code);
    }
}

// A flag that does not count (absent, or not a boolean) leaves its placeholder as it is.
std::optional<bool> WriteFlag(CHtmlDocHelper& document, const CMgmtObjectBase& object, const wchar_t* property,
                              const wchar_t* placeholder) {
    const std::optional<bool> flag = ReadFlag(object.GetPropertyValue(property));
    if (flag) {
        document.SetChecked(placeholder, *flag);
    }
    return flag;
}

void WriteText(CHtmlDocHelper& document, const CMgmtObjectBase& object, const wchar_t* property,
               const wchar_t* placeholder) {
    OS::x_wstring text = ReadText(object.GetPropertyValue(property));
    document.SetField(placeholder, CHtmlDocHelper::EscapeSpecialChar(text));
}

void WritePolicySettings(CHtmlDocHelper& document, const CMgmtObjectBase& policy) {
    using namespace schema;
    document.SetChecked(L"$$ENABLE_URL_FILTER$$", ReadFlag(policy.GetPropertyValue(kEnableURLFilter)).value_or(false));

    WriteNumberOptions(document, policy, kSecurityLevelType,
                       {{kSecurityLevelHigh, L"$$OPT_SECURITY_LEVEL_HIGH$$"},
                        {kSecurityLevelMid, L"$$OPT_SECURITY_LEVEL_MEDIUM$$"},
                        {kSecurityLevelLow, L"$$OPT_SECURITY_LEVEL_LOW$$"}});

    const std::optional<bool> uses_approved_list = ReadFlag(policy.GetPropertyValue(kEnableApprovedList));
    if (uses_approved_list) {
        PageLog(kLogValue, 785, "wmi enable approved list: %d", *uses_approved_list ? 1 : 0);
        document.SetChecked(L"$$ENABLE_APPROVED_LIST$$", *uses_approved_list);
    }

    WriteNumberOptions(document, policy, kURLFilterActionType,
                       {{kActionCancel, L"$$OPT_ACTION_CANCEL$$"},
                        {kActionReplace, L"$$OPT_ACTION_REPLACE_ALL$$"},
                        {kActionAddNote, L"$$OPT_ACTION_TAG_AND_DELIVER$$"},
                        {kActionPass, L"$$OPT_ACTION_DELIVER$$"}});

    WriteText(document, policy, kActionReplaceAll, L"$$OPT_REPLACE_ALL_STRING$$");
    WriteText(document, policy, kActionTagFrontNote, L"$$OPT_TAG_FRONT_STRING$$");

    const std::optional<bool> archives = WriteFlag(document, policy, kEnableArchive, L"$$FILTER_ARCHIVE_CHECKED$$");
    if (archives) {
        document.SetChecked(L"$$FILTER_NOT_ARCHIVE_CHECKED$$", !*archives);
    }

    WriteFlag(document, policy, kEnableActionToNoRatingURL, L"$$ENABLE_ACTION_TO_NO_RATING$$");
}

void WriteNotificationSettings(CHtmlDocHelper& document, const CMgmtObjectBase& notification) {
    for (const schema::NotificationSetting& setting : schema::kNotificationSettings) {
        if (setting.is_flag) {
            WriteFlag(document, notification, setting.property, setting.placeholder);
        } else {
            WriteText(document, notification, setting.property, setting.placeholder);
        }
    }
}

// The stored entries pass the entry rule again, so a list that did not come
// through the save (the defaults, a loaded store) shows in canonical form. The
// shown order is the stored order. Every accepted entry is one or more options:
// an entry that holds ";" is cut there, as the tokeniser cuts the list joined
// by ";", and each piece is escaped for both the value and the label.
void WriteApprovedList(CHtmlDocHelper& document, const CMgmtObjectBase& approved_list) {
    const CMgmtBSTRArrayAccessHelper entries(approved_list.GetPropertyValue(schema::kApprovedLists));
    const std::size_t count = entries.GetElementsCount();

    // A large list makes a page of many megabytes: size it once up front
    // (escaping may still grow it a little).
    // The entries are measured once, for the size and for the rule.
    constexpr std::size_t kOptionMarkupLength = 26;  // <option value=""></option>
    std::vector<std::wstring_view> stored(count);
    std::size_t options_length = 1;
    for (std::size_t index = 0; index < count; ++index) {
        stored[index] = entries.GetElement(index);
        options_length += 2 * (stored[index].size() + 2) + kOptionMarkupLength;
    }
    OS::x_wstring options = L"\n";
    options.reserve(options_length);

    std::vector<OS::x_wstring> pieces;
    const auto append_option = [&options](OS::x_wstring& piece) {
        constexpr std::wstring_view kOpen = L"<option value=\"";
        constexpr std::wstring_view kLabel = L"\">";
        constexpr std::wstring_view kClose = L"</option>";
        CHtmlDocHelper::EscapeSpecialChar(piece);
        options.append(kOpen).append(piece).append(kLabel).append(piece).append(kClose);
    };
    ApprovedEntryPass(count).Run(
        count, [&stored](std::size_t index) { return stored[index]; },
        [&](OS::x_wstring& canonical) {
            if (canonical.find(L';') == std::wstring::npos) {
                append_option(canonical);  // the one piece the tokeniser would give
                return;
            }
            pieces.clear();
            SplitStringToTokensW(pieces, canonical, L";");
            for (OS::x_wstring& piece : pieces) {
                append_option(piece);
            }
        });
    document.SetField(L"$$APPROVED_LIST_ENTRIES$$", std::move(options));
}

}  // namespace

void CPageCB_URLFilter::ShowURLFilterPage(const CCGIRequestData* request, CHtmlDoc* document) {
    PageLog(kLogEnter, 725, L"CPageCB_URLFilter::ShowURLFilterPage()");
    CHtmlDocHelper document_helper(document);
    const CCGIRequestDataHelper request_helper(request);

    document_helper.SetField(kFormActionPlaceholder, request_helper.CreatePageUrl(kSettingsPageId, nullptr));
    document_helper.SetField(L"$$IMPORT_APPROVED_LIST_PAGE$$", request_helper.CreatePageUrl(kImportPageId, nullptr));
    document_helper.SetField(L"$$EXPORT_APPROVED_LIST_PAGE$$", request_helper.CreatePageUrl(kExportPageId, nullptr));

    OS::x_wstring policy_instance_id;
    request->GetEnvVariable(kPolicyInstanceField, policy_instance_id, false);
    if (policy_instance_id.IsEmpty()) {
        policy_instance_id = schema::kUrlFilterInstance;
    }
    // The escaped id is also the instance opened: a name that escaping changes
    // names no stored policy.
    CHtmlDocHelper::EscapeSpecialChar(policy_instance_id);
    document_helper.SetField(L"$$WTP_INSTANCE_ID$$", policy_instance_id);

    {
        CMgmtObject policy(schema::kUrlFilterClass, policy_instance_id, nullptr);
        if (policy.Get()) {
            WritePolicySettings(document_helper, policy);
            const CMgmtObjectBase notification(policy.GetPropertyValue(schema::kUFNotificationSettings), true);
            WriteNotificationSettings(document_helper, notification);
        } else {
            PageLog(kLogFailure, 935, L"Failed to get CMgmtObject (%s:%s)", schema::kUrlFilterClass,
                    policy_instance_id.c_str());
        }
    }

    CMgmtObject approved_list(schema::kApprovedListsClass, schema::kApprovedListInstance, nullptr);
    if (approved_list.Get()) {
        WriteApprovedList(document_helper, approved_list);
    } else {
        PageLog(kLogFailure, 1026, L"Failed to get CMgmtObject (%s:%s)", schema::kApprovedListsClass,
                schema::kApprovedListInstance);
    }
    PageLog(kLogLeave, 1033, L"CPageCB_URLFilter::ShowURLFilterPage()");
}

// Names and value codes of the stored URL filter settings: classes, instances,
// properties, the form's radio values, and the table of notification settings
// that the page, the save and the reset all walk in the same order.
#pragma once

#include <cstdint>

namespace tessera::pages::schema {

// Classes
inline constexpr wchar_t kUrlFilterClass[] = L"QZ_UrlFilter";
inline constexpr wchar_t kApprovedListsClass[] = L"QZ_UFApprovedLists";

// Instances of QZ_UrlFilter
inline constexpr wchar_t kUrlFilterInstance[] = L"URL_FILTER";
inline constexpr wchar_t kUrlFilterFileInstance[] = L"URL_FILTER_FILE";
inline constexpr wchar_t kUrlFilterDefaultInstance[] = L"URL_FILTER_DEFAULT";
inline constexpr wchar_t kUrlFilterFileDefaultInstance[] = L"URL_FILTER_FILE_DEFAULT";

// Instances of QZ_UFApprovedLists: one list serves both policies.
inline constexpr wchar_t kApprovedListInstance[] = L"UF_APPROVED_LIST";
inline constexpr wchar_t kApprovedListDefaultInstance[] = L"UF_APPROVED_LIST_DEFAULT";

// Localised descriptions of the policies, used in audit texts.
inline constexpr unsigned int kUrlFilterDescriptionId = 1012;
inline constexpr unsigned int kUrlFilterFileDescriptionId = 1011;

// Properties of QZ_UrlFilter, in the order every page handles them.
inline constexpr wchar_t kEnableURLFilter[] = L"EnableURLFilter";
inline constexpr wchar_t kSecurityLevelType[] = L"SecurityLevelType";
inline constexpr wchar_t kEnableApprovedList[] = L"EnableApprovedList";
inline constexpr wchar_t kURLFilterActionType[] = L"URLFilterActionType";
inline constexpr wchar_t kActionReplaceAll[] = L"ActionReplaceAll";
inline constexpr wchar_t kActionTagFrontNote[] = L"ActionTagFrontNote";
inline constexpr wchar_t kEnableArchive[] = L"EnableArchive";
inline constexpr wchar_t kEnableActionToNoRatingURL[] = L"EnableActionToNoRatingURL";
inline constexpr wchar_t kUFNotificationSettings[] = L"UFNotificationSettings";

inline constexpr const wchar_t* kPolicyProperties[] = {
    kEnableURLFilter,  kSecurityLevelType,  kEnableApprovedList, kURLFilterActionType,
    kActionReplaceAll, kActionTagFrontNote, kEnableArchive,      kEnableActionToNoRatingURL,
};

// Property of QZ_UFApprovedLists
inline constexpr wchar_t kApprovedLists[] = L"ApprovedLists";

// SecurityLevelType values
enum SecurityLevel : std::int32_t {
    kSecurityLevelHigh = 0,
    kSecurityLevelMid = 1,
    kSecurityLevelLow = 2,
};

// URLFilterActionType values
enum FilterAction : std::int32_t {
    kActionPass = 0,
    kActionCancel = 1,
    kActionReplace = 2,
    kActionAddNote = 3,
};

// A radio button's submitted value and the stored number it stands for.
struct RadioValue {
    const wchar_t* value;
    std::int32_t code;
};

inline constexpr RadioValue kSecurityLevelRadio[] = {
    {L"High", kSecurityLevelHigh},
    {L"Mid", kSecurityLevelMid},
    {L"Low", kSecurityLevelLow},
};
inline constexpr RadioValue kFilterActionRadio[] = {
    {L"Cancel", kActionCancel},
    {L"Replace", kActionReplace},
    {L"AddNote", kActionAddNote},
    {L"Pass", kActionPass},
};
inline constexpr RadioValue kArchiveRadio[] = {
    {L"ArchiveAct_yes", 1},
    {L"ArchiveAct_no", 0},
};

// One setting of the embedded UFNotificationSettings object: its property, the
// settings form's field for it and the page's placeholder.
struct NotificationSetting {
    const wchar_t* property;
    bool is_flag;  // else a text
    const wchar_t* form_field;
    const wchar_t* placeholder;
};

inline constexpr NotificationSetting kNotificationSettings[] = {
    {L"EnableAdminEmailNotify", true, L"chkAdminEmail", L"$$OPT_ENABLE_ADMIN_EMAIL_NOTIFY_CHECKED$$"},
    {L"EnableAdminIMNotify", true, L"chkAdminInstant", L"$$OPT_ENABLE_ADMIN_IM_NOTIFY_CHECKED$$"},
    {L"EnableSNMPNotify", true, L"chkAdminSNMP", L"$$OPT_ENABLE_SNMP_NOTIFY_CHECKED$$"},
    {L"EnableEventLog", true, L"chkLog", L"$$OPT_ENABLE_EVENTLOG_NOTIFY_CHECKED$$"},
    {L"AdminSIPAddress", false, L"txtAdminInstant", L"$$TEXT_ADMIN_SIP_ADDRESS$$"},
    {L"AdminEmailAddress", false, L"txtAdminEmail", L"$$TEXT_ADMIN_MAIL_ADDRESS$$"},
    {L"AdminSubject", false, L"txtNotifyAdminSubject", L"$$TEXT_ADMIN_SUBJECT$$"},
    {L"AdminMessage", false, L"txtAdminMessage", L"$$TEXT_ADMIN_MESSAGE$$"},
    {L"EnableSenderEmailNotify", true, L"chkSenderEmail", L"$$OPT_ENABLE_SENDER_EMAIL_NOTIFY_CHECKED$$"},
    {L"EnableSenderIMNotify", true, L"chkSenderInstant", L"$$OPT_ENABLE_SENDER_IM_NOTIFY_CHECKED$$"},
    {L"SenderSubject", false, L"txtSenderSubject", L"$$TEXT_SENDER_SUBJECT$$"},
    {L"SenderMessage", false, L"txtSenderMessage", L"$$TEXT_SENDER_MESSAGE$$"},
    {L"EnableRecipientEmailNotify", true, L"chkRecieverEmail", L"$$OPT_ENABLE_RECIPIENT_EMAIL_NOTIFY_CHECKED$$"},
    {L"EnableRecipientIMNotify", true, L"chkRecieverInstant", L"$$OPT_ENABLE_RECIPIENT_IM_NOTIFY_CHECKED$$"},
    {L"RecipientSubject", false, L"txtRecieverSubject", L"$$TEXT_RECIPIENT_SUBJECT$$"},
    {L"RecipientMessage", false, L"txtRecieverMessage", L"$$TEXT_RECIPIENT_MESSAGE$$"},
};

}  // namespace tessera::pages::schema

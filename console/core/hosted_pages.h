// The plug-in's pages as the console hosts them: their IDs, the action each
// request of a page is, and the names of the form fields and the stored class
// that the console reads or sends. The plug-in's templates and handlers hold
// the other side of these names; the console's tests render each page through
// the plug-in and check that its form still carries them.
#pragma once

#include "os_string.h"

#include <string>

namespace tessera::console {

inline constexpr wchar_t kSettingsPageId[] = L"scan/WebThreat_Protection.htm";
inline constexpr wchar_t kImportPageId[] = L"scan/WebThreatProtection_Import.htm";
inline constexpr wchar_t kExportPageId[] = L"scan/WebThreatProtection_Export.htm";

// The field that names a form's action ("save", "Reset"), in any letter case.
inline constexpr wchar_t kFormActionField[] = L"FormAction";
// The field that names the policy a settings page shows or saves.
inline constexpr wchar_t kPolicyField[] = L"txtPolicyInstanceId";
// The settings form's field of the approved list, one per entry.
inline constexpr wchar_t kApprovedListField[] = L"stApprovedURL";
// The export page's field of the list to write, its entries each followed by ";".
inline constexpr wchar_t kExportListField[] = L"approved_list";
// The console's own hidden field of the settings form: the version of what
// the page shows (see page_version.h in the web console). The plug-in never sees it.
inline constexpr wchar_t kVersionField[] = L"tesseraVersion";
// The stored class of the policies.
inline constexpr wchar_t kPolicyClass[] = L"QZ_UrlFilter";
// The stored approved list, one for both policies, and its property.
inline constexpr wchar_t kApprovedListClass[] = L"QZ_UFApprovedLists";
inline constexpr wchar_t kApprovedListInstance[] = L"UF_APPROVED_LIST";
inline constexpr wchar_t kApprovedListProperty[] = L"ApprovedLists";

// The policies whose settings the pages edit, by instance name, and what the
// pages and History call them.
struct HostedPolicy {
    const char* instance;
    const char* label;
};
inline constexpr HostedPolicy kHostedPolicies[] = {
    {"URL_FILTER", "Instant messages"},
    {"URL_FILTER_FILE", "File transfers"},
};

struct HostedPage {
    const wchar_t* page_id;
    // What every request of the page is ("import", "export"), or "" for a page
    // whose requests are actions only when they carry a form action.
    const char* action_name;
    // Its form changes nothing stored (the export writes a file of what it is sent).
    bool is_form_read_only;
};

// The hosted page `page_id` names, letter case ignored; null for any other.
const HostedPage* FindHostedPage(const OS::x_wstring& page_id);

// True when `page_id` (letter case ignored) names a page whose every request
// is an action: the import and export pages.
bool IsActionPage(const OS::x_wstring& page_id);

// kFormActionField with A-Z folded, as a query's field names are compared.
const std::string& FoldedFormActionField();

// The path of a page on the web console: "/" and its ID.
std::string PagePath(const wchar_t* page_id);

// The names above that the pages' scripts use, as the text of an ES module:
// POLICY_FIELD, LIST_FIELD, VERSION_FIELD and POLICIES (the instance names).
const std::string& PageNamesModule();

}  // namespace tessera::console

// The pages this plug-in serves and the form fields shared by several handlers.
#pragma once

#include "os_string.h"

#include <vector>

namespace tessera::pages {

inline constexpr wchar_t kSettingsPageId[] = L"scan/WebThreat_Protection.htm";
inline constexpr wchar_t kImportPageId[] = L"scan/WebThreatProtection_Import.htm";
inline constexpr wchar_t kExportPageId[] = L"scan/WebThreatProtection_Export.htm";

// What a page answers with: an HTML page, or a file to save.
enum class ResponseKind { kHtml, kAttachment };

struct ServedPage {
    const wchar_t* page_id;
    ResponseKind response;
};

// The pages, in registration order, from the one table that also routes them.
std::vector<ServedPage> ServedPages();

// The response of `page_id`, letter case ignored; an HTML page for any page not served here.
ResponseKind ResponseKindOf(const OS::x_wstring& page_id);

// Form field naming the QZ_UrlFilter instance that the settings form edits.
inline constexpr wchar_t kPolicyInstanceField[] = L"txtPolicyInstanceId";

inline constexpr wchar_t kBaseUrlPlaceholder[] = L"$$BASE_URL$$";
inline constexpr wchar_t kFormActionPlaceholder[] = L"$$FORM_ACTION$$";

}  // namespace tessera::pages

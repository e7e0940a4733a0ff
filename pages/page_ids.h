// The pages this plug-in serves and the form fields shared by several handlers.
#pragma once

namespace tessera::pages {

inline constexpr wchar_t kSettingsPageId[] = L"scan/WebThreat_Protection.htm";
inline constexpr wchar_t kImportPageId[] = L"scan/WebThreatProtection_Import.htm";
inline constexpr wchar_t kExportPageId[] = L"scan/WebThreatProtection_Export.htm";

// In registration order.
inline constexpr const wchar_t* kRegisteredPageIds[] = {kSettingsPageId, kImportPageId, kExportPageId};

// Form field naming the QZ_UrlFilter instance that the settings form edits.
inline constexpr wchar_t kPolicyInstanceField[] = L"txtPolicyInstanceId";

inline constexpr wchar_t kBaseUrlPlaceholder[] = L"$$BASE_URL$$";
inline constexpr wchar_t kFormActionPlaceholder[] = L"$$FORM_ACTION$$";

}  // namespace tessera::pages

// The import page: an uploaded approved list file becomes one list value that
// the page's script reads back, for review before it goes into the settings
// form. Nothing is stored and the entry rule is not applied here.
#include "audit_record.h"
#include "page_cb_url_filter.h"
#include "page_ids.h"
#include "page_log.h"

#include <vector>

namespace {
constexpr unsigned int kImportAuditTextId = 861;
}

void CPageCB_URLFilter::HandleImportAppURLListPage(const CCGIRequestDataHelper& request, CHtmlDocHelper& document) {
    using namespace tessera::pages;
    PageLog(kLogEnter, 84, L"CPageCB_URLFilter::HandleImportAppURLListPage()");

    OS::x_wstring text;
    request.GetEnvVariable(L"txtFile", text);
    PageLog(kLogValue, 87, L"TXT STR ID %s", text.c_str());

    if (text.length() == 0) {
        document.SetField(L"$$APPROVED_LIST$$", L"");
    } else {
        // Every CR counts as a line break of its own. The splitter keeps no
        // empty pieces, so a CR LF line end or a blank line adds no empty
        // entry, and TrimRight drops trailing TABs and blanks.
        text.FindAndReplaceAll(L"\r", L"\n");
        std::vector<OS::x_wstring> lines;
        SplitStringToTokensW(lines, text, L"\n");
        text = L"";
        CombineTokensToStringW(lines, text, L"\t");
        text.TrimRight();

        // The value stands between double quotes inside a script data block:
        // markup escaping first, then the escapes of a script string.
        CHtmlDocHelper::EscapeSpecialChar(text);
        text.FindAndReplaceAll(L"\\", L"\\\\");
        text.FindAndReplaceAll(L"\"", L"\\\"");
        document.SetField(L"$$APPROVED_LIST$$", text);

        WriteAuditRecord(request, kImportAuditTextId, nullptr);
    }

    document.SetField(kFormActionPlaceholder, request.CreatePageUrl(kImportPageId, nullptr));
    document.SetField(kBaseUrlPlaceholder, request.GetBaseURL());
    PageLog(kLogLeave, 126, L"CPageCB_URLFilter::HandleImportAppURLListPage()");
}

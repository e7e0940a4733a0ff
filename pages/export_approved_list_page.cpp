// The export: the approved list that the settings page posts becomes the
// downloadable list file, one entry per line, exactly as received.
#include "audit_record.h"
#include "page_cb_url_filter.h"
#include "page_log.h"

namespace {
constexpr unsigned int kExportAuditTextId = 860;
}

void CPageCB_URLFilter::HandleExportAppURLListPage(const CCGIRequestDataHelper& request, CHtmlDocHelper& document) {
    using namespace tessera::pages;
    PageLog(kLogEnter, 132, L"CPageCB_URLFilter::HandleExportAppURLListPage()");

    OS::x_wstring list;
    request.GetEnvVariable(L"approved_list", list);
    // Line feeds only, and none added after the last entry: a list that ends
    // with ";" ends with a line feed, one that does not ends without.
    list.FindAndReplaceAll(L";", L"\n");
    document.SetField(L"$$APPROVED_LIST$$", list);

    WriteAuditRecord(request, kExportAuditTextId, nullptr);
    PageLog(kLogLeave, 147, L"CPageCB_URLFilter::HandleExportAppURLListPage()");
}

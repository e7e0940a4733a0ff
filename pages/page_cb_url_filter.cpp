// Routing of the URL filter pages: one table of pages and one of form actions.
#include "page_cb_url_filter.h"

#include "page_ids.h"
#include "page_log.h"

namespace {

using namespace tessera::pages;

struct PageRoute {
    const wchar_t* page_id;
    ResponseKind response;
    void (*handle)(CPageCB_URLFilter& pages, const CCGIRequestData* request, CHtmlDoc* document,
                   const CCGIRequestDataHelper& request_helper, CHtmlDocHelper& document_helper);
};

struct FormAction {
    const wchar_t* value;
    void (CPageCB_URLFilter::*run)(const CCGIRequestData* request, CHtmlDoc* document);
};

const FormAction kFormActions[] = {
    {L"save", &CPageCB_URLFilter::SaveURLFilterSetting},
    {L"Reset", &CPageCB_URLFilter::ResetURLFilterSetting},
};

void HandleSettingsPage(CPageCB_URLFilter& pages, const CCGIRequestData* request, CHtmlDoc* document,
                        const CCGIRequestDataHelper&, CHtmlDocHelper&) {
    // The base URL goes in before the action runs, whatever the action does.
    document->SetField(kBaseUrlPlaceholder, request->GetBaseURL());

    OS::x_wstring form_action;
    request->GetEnvVariable(L"FormAction", form_action, false);
    for (const FormAction& action : kFormActions) {
        if (form_action.CompareNoCase(action.value) == 0) {
            (pages.*action.run)(request, document);
            break;
        }
    }
    pages.ShowURLFilterPage(request, document);
}

// The one table of pages: registration, routing and framing all follow it.
const PageRoute kPageRoutes[] = {
    {kSettingsPageId, ResponseKind::kHtml, &HandleSettingsPage},
    {kImportPageId, ResponseKind::kHtml,
     [](CPageCB_URLFilter& pages, const CCGIRequestData*, CHtmlDoc*, const CCGIRequestDataHelper& request_helper,
        CHtmlDocHelper& document_helper) { pages.HandleImportAppURLListPage(request_helper, document_helper); }},
    {kExportPageId, ResponseKind::kAttachment,
     [](CPageCB_URLFilter& pages, const CCGIRequestData*, CHtmlDoc*, const CCGIRequestDataHelper& request_helper,
        CHtmlDocHelper& document_helper) { pages.HandleExportAppURLListPage(request_helper, document_helper); }},
};

}  // namespace

namespace tessera::pages {

std::vector<ServedPage> ServedPages() {
    std::vector<ServedPage> pages;
    for (const PageRoute& route : kPageRoutes) {
        pages.push_back({route.page_id, route.response});
    }
    return pages;
}

ResponseKind ResponseKindOf(const OS::x_wstring& page_id) {
    for (const PageRoute& route : kPageRoutes) {
        if (page_id.CompareNoCase(route.page_id) == 0) {
            return route.response;
        }
    }
    return ResponseKind::kHtml;
}

}  // namespace tessera::pages

void CPageCB_URLFilter::operator()(const CCGIRequestData* request, CHtmlDoc* document) {
    PageLog(kLogEnter, 50, L"CPageCB_URLFilter::operator()");
    CCGIRequestDataHelper request_helper(request);
    CHtmlDocHelper document_helper(document);
    const OS::x_wstring page_id = request->GetPageID();

    for (const PageRoute& route : kPageRoutes) {
        if (page_id.CompareNoCase(route.page_id) == 0) {
            route.handle(*this, request, document, request_helper, document_helper);
            break;
        }
    }
    PageLog(kLogLeave, 78, L"CPageCB_URLFilter::operator()");
}

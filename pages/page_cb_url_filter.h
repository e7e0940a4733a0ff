// The plug-in's one page callback: routes each request for the URL filter pages
// to its handler. It has no state, so one instance serves every request and
// concurrent requests need no lock.
#pragma once

#include "cgi_request.h"
#include "html_doc.h"

class CPageCB_URLFilter : public CHtmlDocmentManager::CPageCallback {
public:
    CPageCB_URLFilter() = default;

    // Settings page: fills "$$BASE_URL$$", runs the form's "FormAction" ("save"
    // or "Reset", any letter case), then always shows the stored settings.
    // Import and export pages: their handlers. Any other page: nothing.
    void operator()(const CCGIRequestData* request, CHtmlDoc* document) override;
    ~CPageCB_URLFilter() override = default;

    // Fills the settings form from the store.
    void ShowURLFilterPage(const CCGIRequestData* request, CHtmlDoc* document);
    // Stores the submitted settings form and approved list; one audit record.
    void SaveURLFilterSetting(const CCGIRequestData* request, CHtmlDoc* document);
    // Copies a policy's defaults and the default approved list over the live ones; one audit record.
    void ResetURLFilterSetting(const CCGIRequestData* request, CHtmlDoc* document);
    // Turns an uploaded approved list file into the import page's list value.
    void HandleImportAppURLListPage(const CCGIRequestDataHelper& request, CHtmlDocHelper& document);
    // Turns the posted approved list into the downloadable list file.
    void HandleExportAppURLListPage(const CCGIRequestDataHelper& request, CHtmlDocHelper& document);
};

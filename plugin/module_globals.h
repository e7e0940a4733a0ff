// The plug-in's two owning globals. They hold their objects from
// WebUI_Initialize to WebUI_Deinitialize, or to module unload, which destroys
// whatever is still held. Only those two entry points write them.
#pragma once

#include "html_doc.h"
#include "page_cb_url_filter.h"

#include <memory>

extern std::unique_ptr<CHtmlDocmentManager> g_pHtmlDocManager;
extern std::unique_ptr<CPageCB_URLFilter> g_pPageCallback;

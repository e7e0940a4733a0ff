// The plug-in's five exports, thin: each unwraps its arguments and calls the
// code below it. Nothing else of the module is visible to the console.
#include <memory>
#include "module_globals.h"
#include "page_ids.h"
#include "response_framing.h"
#include "webui_exports.h"

#if defined(_WIN32)
// exports.def names the five exports, undecorated, and nothing else.
#  define TESSERA_EXPORT extern "C"
#else
#  define TESSERA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

std::unique_ptr<CHtmlDocmentManager> g_pHtmlDocManager;
std::unique_ptr<CPageCB_URLFilter> g_pPageCallback;

// Called again, it replaces both objects: the old ones are destroyed before the new ones are made.
TESSERA_EXPORT int WebUI_Initialize() {
    g_pHtmlDocManager.reset();
    g_pHtmlDocManager = std::make_unique<CHtmlDocmentManager>();
    g_pPageCallback.reset();
    g_pPageCallback = std::make_unique<CPageCB_URLFilter>();
    for (const tessera::pages::ServedPage& page : tessera::pages::ServedPages()) {
        g_pHtmlDocManager->RegisterPage(page.page_id, g_pPageCallback.get());
    }
    return 0;
}

TESSERA_EXPORT int WebUI_UIRequest(const CCGIRequestData* pCgiRequestData, char** ppszUTF8HTMLOutput) {
    return tessera::plugin::RenderResponse(g_pHtmlDocManager.get(), pCgiRequestData, ppszUTF8HTMLOutput);
}

TESSERA_EXPORT void WebUI_Free(char* pszUTF8HTMLOutput) { delete[] pszUTF8HTMLOutput; }

TESSERA_EXPORT int WebUI_HandleSystemMessage(std::int32_t, std::intptr_t, std::int32_t, std::intptr_t) { return 0; }

// The callback goes first: the manager never touches the callbacks it was given.
TESSERA_EXPORT int WebUI_Deinitialize() {
    g_pPageCallback.reset();
    g_pHtmlDocManager.reset();
    return 0;
}

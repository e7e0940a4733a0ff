// Response framing of the plug-in.
#include "response_framing.h"

#include "cgi_request.h"
#include "html_doc.h"
#include "os_string.h"
#include "page_ids.h"
#include "page_log.h"

#include <cstring>
#include <optional>

namespace tessera::plugin {
namespace {

// Narrow literals: each "\n" is one line feed, no carriage return, and each block ends with an empty line.
constexpr char kHtmlHeader[] = "Content-type: text/html; charset=utf-8\nAccept-Ranges: bytes\n\n";
constexpr char kAttachmentHeader[] =
    "Content-type: application/octet-stream\nContent-disposition: attachment; filename=ApprovedURLList.txt\n\n";

// The module's own debug lines, apart from its pages'.
constexpr char kModuleLogSource[] = ".\\Tessera";

template <typename Format, typename... Args>
void ModuleLog(pages::LogLevel level, int line, Format format, Args... args) {
    DBG::DebugLogEx(pages::ThisModule(), level, kModuleLogSource, line, format, args...);
}

// The request's page, filled and converted to UTF-8; nothing when its template
// cannot be opened or gives no page. The document ends here, before the
// response is allocated: a large page's wide text would otherwise stand beside
// both of its UTF-8 copies.
std::optional<OS::x_astring> FilledPage(CHtmlDocmentManager* manager, const CCGIRequestData* request) {
    CHtmlDoc document(nullptr);
    const OS::x_wstring template_path = NS_StringUtils::concatPath(L"web\\html", request->GetPageID());
    // A missing or unreadable template is no failure worth a line: the result says it.
    if (document.Open(template_path) != 0) {
        return std::nullopt;
    }
    manager->ModifyContent(request, &document);
    const wchar_t* const filled_page = document.GetHtmlContent();
    if (filled_page == nullptr) {
        ModuleLog(pages::kLogFailure, 168, L"pszModifiedHtml(%p) = NULL", static_cast<const void*>(filled_page));
        return std::nullopt;
    }
    // Converted straight from the document: a copy of a large page first would only cost memory.
    return OS::WCharToUTF8Char(filled_page, nullptr);
}

}  // namespace

int RenderResponse(CHtmlDocmentManager* manager, const CCGIRequestData* request, char** output) {
    ModuleLog(pages::kLogEnter, 134, L"WebUI_UIRequest()");
    int result = -1;
    if (manager == nullptr || request == nullptr || output == nullptr) {
        ModuleLog(
            pages::kLogFailure, 174, L"g_pHtmlDocManager(%p), pCgiRequestData(%p), ppszUTF8HTMLOutput(%p) is NULL",
            static_cast<const void*>(manager), static_cast<const void*>(request), static_cast<const void*>(output));
    } else if (const std::optional<OS::x_astring> body = FilledPage(manager, request)) {
        const bool is_attachment = pages::ResponseKindOf(request->GetPageID()) == pages::ResponseKind::kAttachment;
        const char* const header = is_attachment ? kAttachmentHeader : kHtmlHeader;

        const std::size_t header_length = std::strlen(header);
        char* const response = new char[header_length + body->length() + 1];
        std::memcpy(response, header, header_length);
        std::memcpy(response + header_length, body->c_str(), body->length() + 1);
        *output = response;
        result = 0;
    }
    ModuleLog(pages::kLogLeave, 177, L"WebUI_UIRequest(), %d", result);
    return result;
}

}  // namespace tessera::plugin

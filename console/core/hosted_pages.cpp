// The table of the plug-in's pages that the console hosts.
#include "hosted_pages.h"
#include "text_util.h"

namespace tessera::console {
namespace {

const HostedPage kHostedPages[] = {
    {kSettingsPageId, ""},
    {kImportPageId, "import"},
    {kExportPageId, "export"},
};

}  // namespace

const HostedPage* FindHostedPage(const OS::x_wstring& page_id) {
    for (const HostedPage& page : kHostedPages) {
        if (page_id.CompareNoCase(page.page_id) == 0) return &page;
    }
    return nullptr;
}

bool IsActionPage(const OS::x_wstring& page_id) {
    const HostedPage* page = FindHostedPage(page_id);
    return page != nullptr && *page->action_name != '\0';
}

const std::string& FoldedFormActionField() {
    static const std::string folded = host::FoldAsciiCase(std::string(OS::ToUtf8(kFormActionField)));
    return folded;
}

std::string PagePath(const wchar_t* page_id) { return "/" + OS::ToUtf8(page_id); }

}  // namespace tessera::console

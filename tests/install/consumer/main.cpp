// Calls the installed host library and names the plug-in interface's exports.
#include "os_string.h"
#include "webui_exports.h"

#include <cstdio>

int main() {
    const WebUI_UIRequest_fn request = nullptr;  // a console resolves it from a plug-in
    const OS::x_astring text = OS::ToUtf8(L"host library \u00e9");
    std::printf("%s%s\n", text.c_str(), request == nullptr ? " reached" : "");
    return text == "host library \xc3\xa9" ? 0 : 1;
}

// A page plug-in with the five exports whose pages misbehave on purpose, so the
// tests can reach the console's answers to a plug-in that throws, crashes,
// frames its response badly, or is slow; "echo.htm" shows the request as the
// console built it.
#include "cgi_request.h"
#include "debug_log.h"
#include "os_string.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Appends one word to the file named by TESSERA_FAKE_PLUGIN_EVENTS, if set.
void RecordEvent(const char* event) {
    const char* file = std::getenv("TESSERA_FAKE_PLUGIN_EVENTS");
    if (file != nullptr) std::ofstream(file, std::ios::app) << event << '\n';
}

char* Respond(const std::string& response) {
    char* buffer = new char[response.size() + 1];
    std::memcpy(buffer, response.c_str(), response.size() + 1);
    return buffer;
}

std::string Utf8(const std::wstring& text) { return OS::WCharToUTF8Char(text.c_str(), nullptr); }

std::string Echo(const CCGIRequestData& request) {
    std::string text = "page=" + Utf8(request.GetPageID()) + "\nuser=" + Utf8(request.GetSignedInUser()) +
                       "\naddress=" + Utf8(request.GetClientAddress()) + "\nbase=" + Utf8(request.GetBaseURL()) + "\n";
    request.ForEachField([&text](const OS::x_wstring& name, const OS::x_wstring& value) {
        text += "field " + Utf8(name) + "=" + Utf8(value) + "\n";
        return true;
    });
    return text;
}

}  // namespace

FAKE_EXPORT int WebUI_Initialize() {
    RecordEvent("initialize");
    return 0;
}

FAKE_EXPORT int WebUI_UIRequest(const CCGIRequestData* request, char** output) {
    const std::string page = Utf8(request->GetPageID());
    if (page == "echo.htm") {
        *output = Respond("Content-type: text/plain; charset=utf-8\n\n" + Echo(*request));
    } else if (page == "big.htm") {
        *output =
            Respond("Content-type: text/html; charset=utf-8\nAccept-Ranges: bytes\n\n" + std::string(200000, 'a'));
    } else if (page == "download.htm") {
        *output = Respond(
            "Content-type: application/octet-stream\n"
            "Content-disposition: attachment; filename=ApprovedURLList.txt\n\n*.a.com\n");
    } else if (page == "crash.htm") {
        DBG::DebugLogEx(nullptr, 258, ".\\fake", __LINE__, L"%s", L"the page is about to crash");
        std::abort();
    } else if (page == "throws.htm") {
        throw std::runtime_error("/srv/secret/store.db is locked");
    } else if (page == "unframed.htm") {
        *output = Respond("<html>no header block</html>");
    } else if (page == "split-header.htm") {
        *output = Respond("Content-type: text/html\nX-Note: one\rSet-Cookie: planted=1\n\n<p>page</p>");
    } else if (page == "slow.htm") {
        RecordEvent("slow request begins");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        RecordEvent("slow request ends");
        *output = Respond("Content-type: text/html; charset=utf-8\n\n<p>slow</p>");
    } else {
        return -1;
    }
    return 0;
}

FAKE_EXPORT void WebUI_Free(char* output) { delete[] output; }

FAKE_EXPORT int WebUI_HandleSystemMessage(std::int32_t, std::intptr_t, std::int32_t, std::intptr_t) { return 0; }

FAKE_EXPORT int WebUI_Deinitialize() {
    RecordEvent("deinitialize");
    return 0;
}

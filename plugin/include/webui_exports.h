// The five entry points that a console calls on a page plug-in, by these plain
// undecorated names. The console resolves them at run time; this header only
// fixes their signatures.
#pragma once

#include <cstdint>

class CCGIRequestData;

extern "C" {
// Creates the document manager and the page callback and registers the pages. Always 0.
using WebUI_Initialize_fn = int (*)();
// 0 and a NUL-terminated response (header block, then the UTF-8 page) in
// *output, which belongs to the caller until it passes it to WebUI_Free;
// -1 and *output untouched when no page could be made.
using WebUI_UIRequest_fn = int (*)(const CCGIRequestData* request, char** output);
// Releases a response buffer; null is allowed.
using WebUI_Free_fn = void (*)(char* output);
// Host notifications; the arguments are ignored. Always 0.
using WebUI_HandleSystemMessage_fn = int (*)(std::int32_t message, std::intptr_t param1, std::int32_t param2,
                                             std::intptr_t param3);
// Releases the page callback, then the document manager. Always 0.
using WebUI_Deinitialize_fn = int (*)();
}

// One request's response: the header block, then the filled page as UTF-8, in
// a single NUL-terminated buffer of exactly that size.
#pragma once

class CCGIRequestData;
class CHtmlDocmentManager;

namespace tessera::plugin {

// Renders the request's page through `manager`. Returns 0 and stores a buffer
// made with new[] in *output (the caller owns it), or -1 and leaves *output
// untouched when an argument is null, the template cannot be opened, or the
// page came out null.
int RenderResponse(CHtmlDocmentManager* manager, const CCGIRequestData* request, char** output);

}  // namespace tessera::plugin

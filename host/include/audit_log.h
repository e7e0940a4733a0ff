// The console's audit log: one record per administrative action.
#pragma once

#include "host_api.h"
#include "os_string.h"

class CCGIRequestDataHelper;

enum EventType {
    EventType_Information = 1,
    EventType_ConfigurationChange = 2,
};

enum SourceType {
    SourceType_WebConsole = 1,
};

// Fills the three context strings of a record from the request: the signed-in
// user ("local" when there is none), the client address ("local" when unknown)
// and the page ID. Returns 0.
TESSERA_HOST_API int InsertAuditLogHelperFunc(const CCGIRequestDataHelper& request, OS::x_wstring& user,
                                              OS::x_wstring& client_address, OS::x_wstring& page_id);

// Appends one record with the current time. False when it could not be written.
TESSERA_HOST_API bool InsertAuditLog(const OS::x_wstring& user, const OS::x_wstring& client_address,
                                     const OS::x_wstring& page_id, EventType event_type, SourceType source_type,
                                     const OS::x_wstring& message);

// The one audit record that each administrative action writes, and the policy
// description that names a policy in it.
#pragma once

#include "cgi_request.h"
#include "os_string.h"

namespace tessera::pages {

// Localised name of a policy: the "URL_FILTER" description for that name in
// any letter case, the other policy's for every other name.
OS::x_wstring PolicyDescription(const OS::x_wstring& policy_instance_id);

// Appends one audit record for the request: context from the request, text
// `message_id` formatted with `description` as its one argument when
// `description` is not null, used as it stands otherwise. The result of the
// write is not looked at: a failed audit write changes nothing else.
void WriteAuditRecord(const CCGIRequestDataHelper& request, unsigned int message_id, const OS::x_wstring* description);

}  // namespace tessera::pages

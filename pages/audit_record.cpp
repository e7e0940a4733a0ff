// Audit records of the URL filter pages.
#include "audit_record.h"

#include "audit_log.h"
#include "localized_text.h"
#include "url_filter_schema.h"

namespace tessera::pages {

OS::x_wstring PolicyDescription(const OS::x_wstring& policy_instance_id) {
    const bool is_url_filter = policy_instance_id.CompareNoCase(schema::kUrlFilterInstance) == 0;
    return KESTREL::LoadString_W(is_url_filter ? schema::kUrlFilterDescriptionId : schema::kUrlFilterFileDescriptionId);
}

void WriteAuditRecord(const CCGIRequestDataHelper& request, unsigned int message_id, const OS::x_wstring* description) {
    OS::x_wstring user;
    OS::x_wstring client_address;
    OS::x_wstring page_id;
    InsertAuditLogHelperFunc(request, user, client_address, page_id);

    OS::x_wstring message = KESTREL::LoadStringW(message_id);
    if (description != nullptr) {
        const OS::x_wstring format = message;
        message.Format(format.c_str(), description->c_str());
    }
    InsertAuditLog(user, client_address, page_id, EventType_ConfigurationChange, SourceType_WebConsole, message);
}

}  // namespace tessera::pages

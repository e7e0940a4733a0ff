// The audit log: the context of a record taken from the request, and the
// record appended to the current store.
#include "audit_log.h"

#include "cgi_request.h"
#include "mgmt_store.h"
#include "store_internal.h"
#include "utc_time.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace tessera::host {

void AppendUtcTime(std::string& out, bool with_milliseconds) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    // Breaking a time down takes the C library's time-zone lock, which every
    // log record's thread would queue on: each thread does it once a second.
    thread_local std::time_t formatted_second = -1;
    thread_local char formatted[32] = {};
    thread_local std::size_t formatted_length = 0;
    if (seconds != formatted_second) {
        std::tm utc{};
#if defined(_WIN32)
        gmtime_s(&utc, &seconds);
#else
        gmtime_r(&seconds, &utc);
#endif
        const int length =
            std::snprintf(formatted, sizeof formatted, "%04d-%02d-%02dT%02d:%02d:%02d", utc.tm_year + 1900,
                          utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        formatted_length = length > 0 ? std::min(static_cast<std::size_t>(length), sizeof formatted - 1) : 0;
        formatted_second = seconds;
    }
    out.append(formatted, formatted_length);
    if (with_milliseconds) {
        const auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
        const char fraction[] = {'.', static_cast<char>('0' + milliseconds / 100),
                                 static_cast<char>('0' + milliseconds / 10 % 10),
                                 static_cast<char>('0' + milliseconds % 10)};
        out.append(fraction, sizeof fraction);
    }
    out += 'Z';
}

namespace detail {

std::string CurrentUtcTime() {
    std::string text;
    AppendUtcTime(text, true);
    return text;
}

}  // namespace detail
}  // namespace tessera::host

namespace {

const wchar_t* const kNoneKnown = L"local";

}  // namespace

int InsertAuditLogHelperFunc(const CCGIRequestDataHelper& request, OS::x_wstring& user, OS::x_wstring& client_address,
                             OS::x_wstring& page_id) {
    const CCGIRequestData* data = request.GetRequest();
    user = data == nullptr || data->GetSignedInUser().IsEmpty() ? OS::x_wstring(kNoneKnown) : data->GetSignedInUser();
    client_address =
        data == nullptr || data->GetClientAddress().IsEmpty() ? OS::x_wstring(kNoneKnown) : data->GetClientAddress();
    page_id = data == nullptr ? OS::x_wstring() : data->GetPageID();
    return 0;
}

bool InsertAuditLog(const OS::x_wstring& user, const OS::x_wstring& client_address, const OS::x_wstring& page_id,
                    EventType event_type, SourceType source_type, const OS::x_wstring& message) {
    const std::shared_ptr<tessera::host::StoreBackend> store = tessera::host::detail::CurrentStoreOrNull();
    if (!store) {
        return false;
    }
    tessera::host::AuditRecord record;
    record.context[0] = user;
    record.context[1] = client_address;
    record.context[2] = page_id;
    record.event_type = event_type;
    record.source_type = source_type;
    record.message = message;
    record.time = tessera::host::detail::CurrentUtcTime();
    return store->AppendAudit(std::move(record));
}

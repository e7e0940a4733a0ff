// One request as the console hands it to a page plug-in: page ID, base URL,
// who sent it, and the posted fields in posted order with an index by name.
#include "cgi_request.h"
#include "text_util.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace {

bool IsAsciiAlphanumeric(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
}

bool IsHexDigit(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'); }

// The characters a URL path carries as they are. The apostrophe is encoded,
// though URLs allow it, so that a URL can stand between single quotes too.
bool IsPathSafe(unsigned char byte) {
    return IsAsciiAlphanumeric(byte) ||
           std::string_view("-._~!$&()*+,;=:@/").find(static_cast<char>(byte)) != std::string_view::npos;
}

// A whole URL (base URL, query) also keeps its query and fragment delimiters.
bool IsUrlSafe(unsigned char byte) {
    return IsPathSafe(byte) || std::string_view("?#[]").find(static_cast<char>(byte)) != std::string_view::npos;
}

// Percent-encodes the UTF-8 bytes of `text` that `is_safe` rejects. With
// `keeps_escapes`, a "%XX" already in the text stays as it is.
OS::x_wstring PercentEncode(const std::wstring& text, bool (*is_safe)(unsigned char), bool keeps_escapes) {
    const OS::x_astring utf8 = OS::WCharToUTF8Char(text.c_str(), text.size(), nullptr);
    std::wstring encoded;
    encoded.reserve(utf8.size());
    for (std::size_t index = 0; index < utf8.size(); ++index) {
        const auto byte = static_cast<unsigned char>(utf8[index]);
        const bool is_escape = keeps_escapes && byte == '%' && index + 2 < utf8.size() && IsHexDigit(utf8[index + 1]) &&
                               IsHexDigit(utf8[index + 2]);
        if (is_safe(byte) || is_escape) {
            encoded += static_cast<wchar_t>(byte);
        } else {
            tessera::host::AppendPercentEscape(encoded, byte);
        }
    }
    return OS::x_wstring(std::move(encoded));
}

OS::x_wstring WithoutNul(OS::x_wstring text) {
    std::replace(text.begin(), text.end(), L'\0', L'\xFFFD');
    return text;
}

}  // namespace

CCGIRequestData::CCGIRequestData() = default;

CCGIRequestData::~CCGIRequestData() = default;

void CCGIRequestData::SetPageID(const OS::x_wstring& page_id) { page_id_ = page_id; }

void CCGIRequestData::SetBaseURL(const OS::x_wstring& base_url) {
    base_url_ = PercentEncode(base_url, IsUrlSafe, true);
}

void CCGIRequestData::SetSignedInUser(const OS::x_wstring& user_name) { signed_in_user_ = user_name; }

void CCGIRequestData::SetClientAddress(const OS::x_wstring& client_address) { client_address_ = client_address; }

void CCGIRequestData::AddField(std::wstring_view name, OS::x_wstring value) {
    // A list's values come one after another under one name: it is looked up once.
    if (named_.empty() || named_[last_named_].name != name) {
        const OS::x_wstring clean_name = WithoutNul(OS::x_wstring(std::wstring(name)));
        const auto [place, is_new] = name_places_.try_emplace(clean_name, named_.size());
        if (is_new) named_.push_back(NamedValues{clean_name, {}});
        last_named_ = place->second;
    }
    std::vector<OS::x_wstring>& values = named_[last_named_].values;
    posted_.emplace_back(last_named_, values.size());
    values.push_back(WithoutNul(std::move(value)));
}

int CCGIRequestData::GetEnvVariable(const wchar_t* name, OS::x_wstring& value, bool /*raw*/) const {
    if (name == nullptr) {
        return -1;
    }
    const auto found = name_places_.find(name);
    if (found == name_places_.end()) {
        return -1;
    }
    value = named_[found->second].values.front();
    return 0;
}

int CCGIRequestData::GetEnvVariableValues(const wchar_t* name, std::vector<OS::x_wstring>& values) const {
    if (name == nullptr) {
        return -1;
    }
    const auto found = name_places_.find(name);
    if (found == name_places_.end()) {
        return -1;
    }
    const std::vector<OS::x_wstring>& posted = named_[found->second].values;
    values.insert(values.end(), posted.begin(), posted.end());
    return 0;
}

void CCGIRequestData::ForEachField(
    const std::function<bool(const OS::x_wstring& name, const OS::x_wstring& value)>& visit) const {
    for (const auto& [name_place, value_place] : posted_) {
        const NamedValues& named = named_[name_place];
        if (!visit(named.name, named.values[value_place])) return;
    }
}

CCGIRequestDataHelper::CCGIRequestDataHelper(const CCGIRequestData* request) : request_(request) {}

CCGIRequestDataHelper::~CCGIRequestDataHelper() = default;

int CCGIRequestDataHelper::GetEnvVariable(const wchar_t* name, OS::x_wstring& value) const {
    return request_ != nullptr ? request_->GetEnvVariable(name, value, false) : -1;
}

int CCGIRequestDataHelper::GetEnvVariable(const wchar_t* name, std::vector<OS::x_wstring>& values) const {
    return request_ != nullptr ? request_->GetEnvVariableValues(name, values) : -1;
}

bool CCGIRequestDataHelper::IsChecked(const OS::x_wstring& name) const {
    OS::x_wstring ignored;
    return GetEnvVariable(name.c_str(), ignored) == 0;
}

OS::x_wstring CCGIRequestDataHelper::GetBaseURL() const {
    return request_ != nullptr ? request_->GetBaseURL() : OS::x_wstring();
}

OS::x_wstring CCGIRequestDataHelper::CreatePageUrl(const wchar_t* page_id, const wchar_t* query) const {
    OS::x_wstring url = GetBaseURL();
    url += PercentEncode(OS::x_wstring(page_id), IsPathSafe, false);
    if (query != nullptr) {
        // A well-formed query comes out as given; only what is unsafe is encoded.
        url += L'?';
        url += PercentEncode(OS::x_wstring(query), IsUrlSafe, true);
    }
    return url;
}

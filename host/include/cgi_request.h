// One HTTP request as the console hands it to a page plug-in, and the helper
// that pages read it through.
#pragma once

#include "host_api.h"
#include "os_string.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class TESSERA_HOST_API CCGIRequestData {
public:
    CCGIRequestData();
    virtual ~CCGIRequestData();

    // --- filled by the console ------------------------------------------------
    void SetPageID(const OS::x_wstring& page_id);
    // The base URL is made safe to stand unescaped in markup and in a URL:
    // characters outside the URL set (quotes, <, >, spaces, controls, non-ASCII)
    // are percent-encoded.
    void SetBaseURL(const OS::x_wstring& base_url);
    void SetSignedInUser(const OS::x_wstring& user_name);
    void SetClientAddress(const OS::x_wstring& client_address);
    // Appends one posted value; a name added several times is multi-valued.
    // NUL characters in names or values become U+FFFD. The value is taken
    // over and the name kept once: a save of a million entries copies neither.
    void AddField(std::wstring_view name, OS::x_wstring value);

    // --- read by the plug-in ---------------------------------------------------
    const OS::x_wstring& GetPageID() const { return page_id_; }
    const OS::x_wstring& GetBaseURL() const { return base_url_; }
    const OS::x_wstring& GetSignedInUser() const { return signed_in_user_; }   // empty when none
    const OS::x_wstring& GetClientAddress() const { return client_address_; }  // empty when unknown

    // 0 and the first value of `name` in `value` when the request carries it;
    // otherwise -1 and `value` untouched. `raw` is reserved and ignored.
    int GetEnvVariable(const wchar_t* name, OS::x_wstring& value, bool raw) const;
    // 0 and every value of `name`, in posted order, appended to `values`; -1 when absent.
    int GetEnvVariableValues(const wchar_t* name, std::vector<OS::x_wstring>& values) const;

    // Every field in posted order, until `visit` returns false.
    void ForEachField(const std::function<bool(const OS::x_wstring& name, const OS::x_wstring& value)>& visit) const;

private:
    OS::x_wstring page_id_;
    OS::x_wstring base_url_;
    OS::x_wstring signed_in_user_;
    OS::x_wstring client_address_;
    struct NamedValues {
        OS::x_wstring name;
        std::vector<OS::x_wstring> values;  // in posted order
    };
    std::vector<NamedValues> named_;                             // each name once
    std::unordered_map<std::wstring, std::size_t> name_places_;  // in named_
    std::size_t last_named_ = 0;  // where the last field's name is, when named_ is not empty
    std::vector<std::pair<std::size_t, std::size_t>> posted_;  // each field: its place in named_ and in the values
};

class TESSERA_HOST_API CCGIRequestDataHelper {
public:
    explicit CCGIRequestDataHelper(const CCGIRequestData* request);
    virtual ~CCGIRequestDataHelper();

    const CCGIRequestData* GetRequest() const { return request_; }

    // 0 when the request carries `name` (its first value into `value`), else -1.
    int GetEnvVariable(const wchar_t* name, OS::x_wstring& value) const;
    // 0 when the request carries `name` (all values, in posted order, appended), else -1.
    int GetEnvVariable(const wchar_t* name, std::vector<OS::x_wstring>& values) const;
    // True when the check box `name` was submitted (an unticked box is absent).
    bool IsChecked(const OS::x_wstring& name) const;
    OS::x_wstring GetBaseURL() const;
    // The base URL followed by `page_id`, percent-encoded where a URL needs it;
    // `query`, when not null, is appended after "?" as given.
    OS::x_wstring CreatePageUrl(const wchar_t* page_id, const wchar_t* query) const;

private:
    const CCGIRequestData* request_;
};

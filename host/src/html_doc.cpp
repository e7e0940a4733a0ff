// The document a page fills: placeholder filling that never rescans inserted
// values, and the routing of a request to its page callback.
#include "html_doc.h"

#include "cgi_request.h"
#include "current_settings.h"
#include "host_config.h"
#include "html_template.h"
#include "text_util.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string_view>
#include <utility>

using tessera::host::detail::FindPlaces;

CHtmlDoc::CHtmlDoc(const wchar_t* template_path) {
    if (template_path != nullptr) {
        Open(template_path);
    }
}

CHtmlDoc::~CHtmlDoc() = default;

int CHtmlDoc::Open(const wchar_t* template_path) {
    template_.reset();
    fills_.clear();
    values_.clear();
    taken_over_.reset();
    content_.clear();
    is_content_current_ = false;
    if (template_path == nullptr) {
        return -1;
    }
    const auto settings = tessera::host::SharedSettings();
    template_ = tessera::host::detail::LoadTemplate(settings->web_root, template_path, settings->max_template_bytes);
    if (!template_) {
        return -1;
    }
    // Room for a value at each "$$" mark, which the templates' placeholders begin with.
    fills_.reserve(template_->marks_by_text.size());
    values_.reserve(template_->marks_by_text.size());
    return 0;
}

int CHtmlDoc::SetField(const wchar_t* placeholder, const wchar_t* text) {
    return SetField(placeholder, std::wstring(text != nullptr ? text : L""));
}

int CHtmlDoc::SetField(const wchar_t* placeholder, std::wstring&& text) {
    if (!template_ || placeholder == nullptr || *placeholder == L'\0') {
        return 0;
    }
    const std::size_t length = std::wcslen(placeholder);
    // Leftmost first, no two overlapping, and none over a place an earlier
    // call filled: text inserted before is never searched.
    // Work space of the thread, kept for its capacity.
    thread_local std::vector<std::size_t> places;
    thread_local std::vector<Fill> added;
    thread_local std::vector<Fill> merged;
    FindPlaces(*template_, std::wstring_view(placeholder, length), places);
    added.clear();
    std::size_t free_from = 0;
    for (const std::size_t place : places) {
        if (place >= free_from && !Overlaps(place, length)) {
            added.push_back(Fill{place, length, values_.size()});
            free_from = place + length;
        }
    }
    if (added.empty()) {
        return 0;
    }
    values_.push_back(std::move(text));
    merged.resize(fills_.size() + added.size());
    std::merge(fills_.begin(), fills_.end(), added.begin(), added.end(), merged.begin(),
               [](const Fill& left, const Fill& right) { return left.begin < right.begin; });
    fills_.assign(merged.begin(), merged.end());
    is_content_current_ = false;
    return static_cast<int>(added.size());
}

bool CHtmlDoc::Overlaps(std::size_t begin, std::size_t length) const {
    const auto after = std::lower_bound(fills_.begin(), fills_.end(), begin,
                                        [](const Fill& fill, std::size_t place) { return fill.begin < place; });
    if (after != fills_.end() && after->begin < begin + length) {
        return true;
    }
    return after != fills_.begin() && std::prev(after)->begin + std::prev(after)->length > begin;
}

const wchar_t* CHtmlDoc::GetHtmlContent() {
    if (!template_) {
        return nullptr;
    }
    if (is_content_current_) {
        return content_.c_str();
    }
    if (taken_over_) {
        // Filled again after the page was built in this value's buffer.
        values_[taken_over_->value] = content_.substr(taken_over_->begin, taken_over_->length);
        taken_over_.reset();
    }
    const std::wstring& text = template_->text;
    std::size_t total = text.size();
    for (const Fill& fill : fills_) {
        total += values_[fill.value].size() - fill.length;
    }
    if (!FillInLargestValue(total)) {
        std::wstring filled;
        filled.reserve(total);
        std::size_t at = 0;
        for (const Fill& fill : fills_) {
            filled.append(text, at, fill.begin - at);
            filled += values_[fill.value];
            at = fill.begin + fill.length;
        }
        filled.append(text, at);
        content_ = std::move(filled);
    }
    is_content_current_ = true;
    return content_.c_str();
}

// The page of a million entries is a value of some 70 million characters: taken
// over as the page's buffer, it is not copied into a second one of its size.
bool CHtmlDoc::FillInLargestValue(std::size_t total) {
    std::vector<std::size_t> places_of_value(values_.size());
    const Fill* largest = nullptr;
    for (const Fill& fill : fills_) {
        ++places_of_value[fill.value];
        if (largest == nullptr || values_[fill.value].size() > values_[largest->value].size()) {
            largest = &fill;
        }
    }
    if (largest == nullptr || places_of_value[largest->value] != 1 || values_[largest->value].capacity() < total) {
        return false;
    }
    std::wstring filled = std::move(values_[largest->value]);
    values_[largest->value].clear();
    const std::wstring& text = template_->text;
    const std::size_t value_length = filled.size();
    std::size_t offset = largest->begin;
    for (const Fill* fill = fills_.data(); fill != largest; ++fill) {
        offset += values_[fill->value].size() - fill->length;
    }
    filled.resize(total);  // within the capacity: no new buffer
    std::wmemmove(filled.data() + offset, filled.data(), value_length);
    std::size_t from = 0;  // in the template
    std::size_t at = 0;    // in the page
    for (const Fill& fill : fills_) {
        at += text.copy(filled.data() + at, fill.begin - from, from);
        at += &fill == largest ? value_length : values_[fill.value].copy(filled.data() + at, std::wstring::npos);
        from = fill.begin + fill.length;
    }
    text.copy(filled.data() + at, std::wstring::npos, from);
    taken_over_ = TakenOver{largest->value, offset, value_length};
    content_ = std::move(filled);
    return true;
}

CHtmlDocHelper::CHtmlDocHelper(CHtmlDoc* document) : document_(document) {}

CHtmlDocHelper::~CHtmlDocHelper() = default;

int CHtmlDocHelper::SetField(const wchar_t* placeholder, const wchar_t* text) {
    return document_ != nullptr ? document_->SetField(placeholder, text) : 0;
}

int CHtmlDocHelper::SetField(const wchar_t* placeholder, std::wstring&& text) {
    return document_ != nullptr ? document_->SetField(placeholder, std::move(text)) : 0;
}

void CHtmlDocHelper::SetChecked(const wchar_t* placeholder, bool is_checked) {
    SetField(placeholder, is_checked ? L"checked" : L"");
}

void CHtmlDocHelper::Checked(OS::x_wstring placeholder, bool is_checked) {
    SetChecked(placeholder.c_str(), is_checked);
}

OS::x_wstring& CHtmlDocHelper::EscapeSpecialChar(OS::x_wstring& text) {
    // One look at each character: most texts hold none of the five.
    const auto is_special = [](wchar_t ch) {
        return ch == L'&' || ch == L'<' || ch == L'>' || ch == L'"' || ch == L'\'';
    };
    if (std::any_of(text.begin(), text.end(), is_special)) {
        static_cast<std::wstring&>(text) = tessera::host::EscapedMarkup<wchar_t>(text);
    }
    return text;
}

CHtmlDocmentManager::CPageCallback::CPageCallback() = default;

CHtmlDocmentManager::CPageCallback::~CPageCallback() = default;

CHtmlDocmentManager::CHtmlDocmentManager() = default;

CHtmlDocmentManager::~CHtmlDocmentManager() = default;

bool CHtmlDocmentManager::RegisterPage(const wchar_t* page_id, CPageCallback* callback) {
    if (page_id == nullptr || callback == nullptr) {
        return false;
    }
    callbacks_[tessera::host::FoldAsciiCase(std::wstring(page_id))] = callback;
    return true;
}

void CHtmlDocmentManager::ModifyContent(const CCGIRequestData* request, CHtmlDoc* document) {
    if (request == nullptr) {
        return;
    }
    const auto found = callbacks_.find(tessera::host::FoldAsciiCase(std::wstring(request->GetPageID())));
    if (found != callbacks_.end()) {
        (*found->second)(request, document);
    }
}

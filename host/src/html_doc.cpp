// Templates confined to the web root, placeholder filling that never rescans
// inserted values, and the routing of a request to its page callback.
#include "html_doc.h"

#include "cgi_request.h"
#include "confined_path.h"
#include "current_settings.h"
#include "file_io.h"
#include "host_config.h"
#include "text_util.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

namespace fs = std::filesystem;

// The names of a template path in UTF-8, or nothing when it could leave the
// web root.
std::optional<std::vector<std::string>> TemplateNames(const std::wstring& path) {
    const auto names = tessera::host::ConfinedNames(path);
    if (!names) {
        return std::nullopt;
    }
    std::vector<std::string> utf8_names;
    for (const std::wstring& name : *names) {
        utf8_names.push_back(OS::ToUtf8(name));
    }
    return utf8_names;
}

// The entry of `folder` called `name`: that exact name when it exists, else the
// first in byte order whose name matches without regard to A-Z case.
std::optional<fs::path> FindEntry(const fs::path& folder, const std::string& name) {
    std::error_code error;
    fs::path exact = folder / name;
    if (fs::symlink_status(exact, error).type() != fs::file_type::not_found && !error) {
        return exact;
    }
    const std::string folded_name = tessera::host::FoldAsciiCase(name);
    std::optional<std::string> match;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string candidate = entry->path().filename().string();
        if (tessera::host::FoldAsciiCase(candidate) == folded_name && (!match || candidate < *match)) {
            match = std::move(candidate);
        }
    }
    if (!match) {
        return std::nullopt;
    }
    return folder / *match;
}

// The canonical path of the template, or nothing when it is missing or lies
// outside the canonical web root once symbolic links are followed.
std::optional<fs::path> ResolveTemplate(const fs::path& web_root, const std::wstring& template_path) {
    const auto names = TemplateNames(template_path);
    if (!names || web_root.empty()) {
        return std::nullopt;
    }
    std::error_code error;
    const fs::path root = fs::canonical(web_root, error);
    if (error) {
        return std::nullopt;
    }
    fs::path current = root;
    for (const std::string& name : *names) {
        auto entry = FindEntry(current, name);
        if (!entry) {
            return std::nullopt;
        }
        current = std::move(*entry);
    }
    fs::path resolved = fs::canonical(current, error);
    if (error || !tessera::host::IsStrictlyInside(root, resolved)) {
        return std::nullopt;
    }
    return resolved;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor() {
        if (descriptor_ >= 0) {
            tessera::host::detail::CloseFile(descriptor_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return descriptor_; }

private:
    int descriptor_;
};

// The bytes of the open regular file `descriptor` of at most `max_bytes`, or nothing.
std::optional<std::string> ReadRegularFile(int descriptor, std::size_t max_bytes) {
    // The file may grow after fstat, so the limit is checked again while reading.
    std::string bytes;
    char chunk[64 * 1024];
    for (;;) {
        const long long count = tessera::host::detail::ReadSome(descriptor, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return bytes;
        }
        bytes.append(chunk, static_cast<std::size_t>(count));
        if (bytes.size() > max_bytes) {
            return std::nullopt;
        }
    }
}

// What tells one version of a file from another without reading it.
using FileVersion = tessera::host::detail::FileStatus;

// Templates as read and indexed, by path, each kept while its file keeps the
// same version: a page request then reads and decodes no file.
class TemplateCache {
public:
    std::shared_ptr<const CHtmlDoc::Template> Find(const std::string& path, const FileVersion& version) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = entries_.find(path);
        if (found == entries_.end() || !(found->second.version == version)) {
            return nullptr;
        }
        return found->second.parsed;
    }

    void Keep(const std::string& path, const FileVersion& version, std::shared_ptr<const CHtmlDoc::Template> parsed) {
        const std::lock_guard<std::mutex> lock(mutex_);
        // A web root holds a handful of templates; the bound is for a folder
        // that is changed under a running console again and again.
        if (entries_.size() >= kMaxTemplates && entries_.count(path) == 0) {
            entries_.clear();
        }
        entries_[path] = Entry{version, std::move(parsed)};
    }

private:
    static constexpr std::size_t kMaxTemplates = 64;
    struct Entry {
        FileVersion version;
        std::shared_ptr<const CHtmlDoc::Template> parsed;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

TemplateCache& Templates() {
    static TemplateCache cache;
    return cache;
}

std::shared_ptr<const CHtmlDoc::Template> ParseTemplate(const std::string& bytes);

// The template at `file`, from the cache while its file is unchanged; nothing
// when it is not a regular file of at most `max_bytes`.
std::shared_ptr<const CHtmlDoc::Template> LoadTemplate(const fs::path& file, std::size_t max_bytes) {
    const FileDescriptor descriptor(tessera::host::detail::OpenForReading(file));
    FileVersion version;
    if (descriptor.get() < 0 || !tessera::host::detail::StatusOf(descriptor.get(), version) || !version.is_regular ||
        version.size > max_bytes) {
        return nullptr;
    }
    if (auto cached = Templates().Find(file.string(), version)) {
        return cached;
    }
    const auto bytes = ReadRegularFile(descriptor.get(), max_bytes);
    if (!bytes) {
        return nullptr;
    }
    std::shared_ptr<const CHtmlDoc::Template> parsed = ParseTemplate(*bytes);
    Templates().Keep(file.string(), version, parsed);
    return parsed;
}

// Templates by the path a page asks for, each resolved and loaded at most once
// a second: resolving walks and reads the links of every folder on the way and
// loading checks the file's version (some twenty system calls in all), while a
// page asks for the same few templates again and again. A changed template,
// folder or link in the web root shows within that second.
class RecentTemplates {
public:
    std::shared_ptr<const CHtmlDoc::Template> Load(const fs::path& web_root, const std::wstring& template_path,
                                                   std::size_t max_bytes) {
        const auto now = std::chrono::steady_clock::now();
        std::wstring key = web_root.wstring();
        key += L'\0';
        key += template_path;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            const auto found = entries_.find(key);
            if (found != entries_.end() && now - found->second.loaded_at < kReuseFor &&
                found->second.max_bytes == max_bytes) {
                return found->second.parsed;
            }
        }
        const std::optional<fs::path> file = ResolveTemplate(web_root, template_path);
        std::shared_ptr<const CHtmlDoc::Template> parsed = file ? LoadTemplate(*file, max_bytes) : nullptr;
        if (parsed) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (entries_.size() >= kMaxEntries) entries_.clear();
            entries_[std::move(key)] = Entry{parsed, max_bytes, now};
        }
        return parsed;
    }

private:
    static constexpr std::chrono::seconds kReuseFor{1};
    static constexpr std::size_t kMaxEntries = 64;
    struct Entry {
        std::shared_ptr<const CHtmlDoc::Template> parsed;
        std::size_t max_bytes = 0;
        std::chrono::steady_clock::time_point loaded_at;
    };
    std::mutex mutex_;
    std::unordered_map<std::wstring, Entry> entries_;
};

RecentTemplates& Recent() {
    static RecentTemplates recent;
    return recent;
}

bool StartsWithMark(std::wstring_view text) { return text.size() >= 2 && text[0] == L'$' && text[1] == L'$'; }

// "$$", a name without "$", "$$".
bool IsWholeToken(std::wstring_view text) {
    return text.size() >= 4 && StartsWithMark(text) && StartsWithMark(text.substr(text.size() - 2)) &&
           text.substr(2, text.size() - 4).find(L'$') == std::wstring_view::npos;
}

}  // namespace

struct CHtmlDoc::Template {
    std::wstring text;
    // Every position where "$$" starts, overlapping ones included, ordered by
    // the text that follows (its first kMarkKeyLength characters): the places
    // of a placeholder that begins with "$$" are found by binary search.
    std::vector<std::size_t> marks_by_text;
    static constexpr std::size_t kMarkKeyLength = 256;
    // The places of each token, a mark up to and with the next "$$", in
    // template order: a placeholder "$$NAME$$" whose NAME has no "$" stands
    // exactly where it is the token, so its places are looked up at once.
    std::unordered_map<std::wstring_view, std::vector<std::size_t>> places_by_token;

    std::wstring_view MarkKey(std::size_t mark, std::size_t length) const {
        return std::wstring_view(text).substr(mark, std::min(length, kMarkKeyLength));
    }
};

namespace {

std::shared_ptr<const CHtmlDoc::Template> ParseTemplate(const std::string& bytes) {
    auto parsed = std::make_shared<CHtmlDoc::Template>();
    parsed->text = OS::DecodeTextFile(bytes);
    std::vector<std::size_t>& marks = parsed->marks_by_text;
    const std::wstring_view text(parsed->text);
    for (std::size_t at = text.find(L"$$"); at != std::wstring_view::npos; at = text.find(L"$$", at + 1)) {
        marks.push_back(at);
        const std::size_t token_end = text.find(L"$$", at + 2);
        if (token_end != std::wstring_view::npos) {
            parsed->places_by_token[text.substr(at, token_end + 2 - at)].push_back(at);
        }
    }
    const CHtmlDoc::Template& indexed = *parsed;
    std::sort(marks.begin(), marks.end(), [&indexed](std::size_t left, std::size_t right) {
        const auto key = [&indexed](std::size_t mark) {
            return indexed.MarkKey(mark, CHtmlDoc::Template::kMarkKeyLength);
        };
        return key(left) < key(right);
    });
    return parsed;
}

// Every place where `name` stands in the template, overlapping ones included,
// in template order.
void FindPlaces(const CHtmlDoc::Template& parsed, std::wstring_view name, std::vector<std::size_t>& places) {
    places.clear();
    const std::wstring_view text(parsed.text);
    const std::vector<std::size_t>& marks = parsed.marks_by_text;
    if (IsWholeToken(name)) {
        const auto found = parsed.places_by_token.find(name);
        if (found != parsed.places_by_token.end()) places = found->second;
        return;
    }
    if (!StartsWithMark(name)) {
        for (std::size_t at = text.find(name); at != std::wstring_view::npos; at = text.find(name, at + 1)) {
            places.push_back(at);
        }
    } else if (name.size() <= CHtmlDoc::Template::kMarkKeyLength) {
        const auto key = [&parsed, &name](std::size_t mark) { return parsed.MarkKey(mark, name.size()); };
        const auto first =
            std::lower_bound(marks.begin(), marks.end(), name,
                             [&key](std::size_t mark, std::wstring_view wanted) { return key(mark) < wanted; });
        const auto last =
            std::upper_bound(first, marks.end(), name,
                             [&key](std::wstring_view wanted, std::size_t mark) { return wanted < key(mark); });
        places.assign(first, last);
    } else {
        for (const std::size_t mark : marks) {
            if (text.compare(mark, name.size(), name) == 0) places.push_back(mark);
        }
    }
    std::sort(places.begin(), places.end());
}

}  // namespace

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
    template_ = Recent().Load(settings->web_root, template_path, settings->max_template_bytes);
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
    if (text.find_first_of(L"&<>\"'") != std::wstring::npos) {
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

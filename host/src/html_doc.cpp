// Templates confined to the web root, placeholder filling that never rescans
// inserted values, and the routing of a request to its page callback.
#include "html_doc.h"

#include "cgi_request.h"
#include "confined_path.h"
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

// Resolutions of template paths, each reused for a second: resolving walks
// and reads the links of every folder on the way (some twenty system calls),
// while a page asks for the same few templates again and again. A changed
// folder or link in the web root shows within that second; the file itself is
// checked at every open.
class ResolvedTemplates {
public:
    std::optional<fs::path> Resolve(const fs::path& web_root, const std::wstring& template_path) {
        const auto now = std::chrono::steady_clock::now();
        std::wstring key = web_root.wstring();
        key += L'\0';
        key += template_path;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            const auto found = entries_.find(key);
            if (found != entries_.end() && now - found->second.resolved_at < kReuseFor) {
                return found->second.file;
            }
        }
        std::optional<fs::path> file = ResolveTemplate(web_root, template_path);
        if (file) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (entries_.size() >= kMaxEntries) entries_.clear();
            entries_[std::move(key)] = Entry{*file, now};
        }
        return file;
    }

private:
    static constexpr std::chrono::seconds kReuseFor{1};
    static constexpr std::size_t kMaxEntries = 64;
    struct Entry {
        fs::path file;
        std::chrono::steady_clock::time_point resolved_at;
    };
    std::mutex mutex_;
    std::unordered_map<std::wstring, Entry> entries_;
};

ResolvedTemplates& Resolutions() {
    static ResolvedTemplates resolutions;
    return resolutions;
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

bool StartsWithMark(std::wstring_view text) { return text.size() >= 2 && text[0] == L'$' && text[1] == L'$'; }

}  // namespace

struct CHtmlDoc::Template {
    std::wstring text;
    // Every position where "$$" starts, overlapping ones included: a
    // placeholder that begins with "$$" can only stand at one of them.
    std::vector<std::size_t> marks;
};

namespace {

std::shared_ptr<const CHtmlDoc::Template> ParseTemplate(const std::string& bytes) {
    auto parsed = std::make_shared<CHtmlDoc::Template>();
    parsed->text = OS::DecodeTextFile(bytes);
    for (std::size_t at = parsed->text.find(L"$$"); at != std::wstring::npos; at = parsed->text.find(L"$$", at + 1)) {
        parsed->marks.push_back(at);
    }
    return parsed;
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
    segments_.clear();
    content_.clear();
    is_content_current_ = false;
    if (template_path == nullptr) {
        return -1;
    }
    const tessera::host::HostSettings settings = tessera::host::CurrentSettings();
    const auto file = Resolutions().Resolve(settings.web_root, template_path);
    if (!file) {
        return -1;
    }
    template_ = LoadTemplate(*file, settings.max_template_bytes);
    if (!template_) {
        return -1;
    }
    segments_.push_back(Segment{true, 0, template_->text.size(), {}});
    return 0;
}

int CHtmlDoc::SetField(const wchar_t* placeholder, const wchar_t* text) {
    return SetField(placeholder, std::wstring(text != nullptr ? text : L""));
}

int CHtmlDoc::SetField(const wchar_t* placeholder, std::wstring&& text) {
    if (!template_ || placeholder == nullptr || *placeholder == L'\0') {
        return 0;
    }
    const std::wstring_view name(placeholder);
    const std::wstring_view template_text(template_->text);
    const std::vector<std::size_t>& marks = template_->marks;
    // The first occurrence of the name in [from, end) of the template text.
    const auto next_match = [&](std::size_t from, std::size_t end) -> std::size_t {
        if (!StartsWithMark(name)) {
            const std::size_t match = template_text.find(name, from);
            return match != std::wstring_view::npos && match + name.size() <= end ? match : std::wstring_view::npos;
        }
        for (auto mark = std::lower_bound(marks.begin(), marks.end(), from);
             mark != marks.end() && *mark + name.size() <= end; ++mark) {
            if (template_text.compare(*mark, name.size(), name) == 0) {
                return *mark;
            }
        }
        return std::wstring_view::npos;
    };
    std::wstring value = std::move(text);
    // One pass over the segments; only template stretches are searched, and
    // each match splits its stretch around a new value segment. The value is
    // copied only for the second and later matches: a page's largest value
    // (the list box options) usually has a single placeholder.
    std::vector<Segment>& filled = filled_;
    filled.clear();
    std::vector<std::size_t> value_slots;
    for (Segment& segment : segments_) {
        const std::size_t end = segment.begin + segment.length;
        std::size_t match = segment.is_template ? next_match(segment.begin, end) : std::wstring_view::npos;
        if (match == std::wstring_view::npos) {
            filled.push_back(std::move(segment));
            continue;
        }
        std::size_t start = segment.begin;
        while (match != std::wstring_view::npos) {
            if (match > start) {
                filled.push_back(Segment{true, start, match - start, {}});
            }
            value_slots.push_back(filled.size());
            filled.push_back(Segment{false, 0, 0, {}});
            start = match + name.size();
            match = next_match(start, end);
        }
        if (start < end) {
            filled.push_back(Segment{true, start, end - start, {}});
        }
    }
    const int replaced = static_cast<int>(value_slots.size());
    for (std::size_t slot = 1; slot < value_slots.size(); ++slot) {
        filled[value_slots[slot]].value = value;
    }
    if (!value_slots.empty()) {
        filled[value_slots.front()].value = std::move(value);
    }
    segments_.swap(filled);
    if (replaced > 0) {
        is_content_current_ = false;
    }
    return replaced;
}

const wchar_t* CHtmlDoc::GetHtmlContent() {
    if (!template_) {
        return nullptr;
    }
    if (is_content_current_) {
        return content_.c_str();
    }
    std::size_t total = 0;
    for (const Segment& segment : segments_) {
        total += segment.Size();
    }
    if (!FillInLargestValue(total)) {
        std::wstring filled;
        filled.reserve(total);
        for (Segment& segment : segments_) {
            const std::size_t at = filled.size();
            if (segment.is_template) {
                filled.append(template_->text, segment.begin, segment.length);
            } else if (segment.is_in_content) {
                filled.append(content_, segment.begin, segment.length);
                segment.begin = at;
            } else {
                filled += segment.value;
            }
        }
        content_ = std::move(filled);
    }
    is_content_current_ = true;
    return content_.c_str();
}

// The page of a million entries is a value of some 70 million characters: taken
// over as the page's buffer, it is not copied into a second one of its size.
bool CHtmlDoc::FillInLargestValue(std::size_t total) {
    std::size_t largest = segments_.size();
    for (std::size_t index = 0; index < segments_.size(); ++index) {
        const Segment& segment = segments_[index];
        if (segment.is_in_content) {
            return false;  // content_ is still a source
        }
        if (!segment.is_template &&
            (largest == segments_.size() || segment.value.size() > segments_[largest].value.size())) {
            largest = index;
        }
    }
    if (largest == segments_.size() || segments_[largest].value.capacity() < total) {
        return false;
    }
    std::wstring filled = std::move(segments_[largest].value);
    const std::size_t value_length = filled.size();
    std::size_t offset = 0;
    for (std::size_t index = 0; index < largest; ++index) {
        offset += segments_[index].Size();
    }
    filled.resize(total);  // within the capacity: no new buffer
    std::wmemmove(filled.data() + offset, filled.data(), value_length);
    std::size_t at = 0;
    for (std::size_t index = 0; index < segments_.size(); ++index) {
        Segment& segment = segments_[index];
        if (index == largest) {
            segment = Segment{false, offset, value_length, {}, true};
        } else if (segment.is_template) {
            template_->text.copy(filled.data() + at, segment.length, segment.begin);
        } else {
            segment.value.copy(filled.data() + at, segment.value.size());
        }
        at += segment.Size();
    }
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

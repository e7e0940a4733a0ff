// Template files confined to the web root, read and parsed once and kept
// while the file is unchanged.
#include "confined_path.h"
#include "file_io.h"
#include "html_template.h"
#include "text_util.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace tessera::host::detail {

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

// The template at `file`, from the cache while its file is unchanged; nothing
// when it is not a regular file of at most `max_bytes`.
std::shared_ptr<const CHtmlDoc::Template> LoadFile(const fs::path& file, std::size_t max_bytes) {
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
        std::shared_ptr<const CHtmlDoc::Template> parsed = file ? LoadFile(*file, max_bytes) : nullptr;
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

}  // namespace

std::shared_ptr<const CHtmlDoc::Template> LoadTemplate(const fs::path& web_root, const std::wstring& template_path,
                                                       std::size_t max_bytes) {
    return Recent().Load(web_root, template_path, max_bytes);
}

}  // namespace tessera::host::detail

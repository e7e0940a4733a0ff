// Localised texts by id from <resource dir>/texts.json, an object of decimal
// ids to texts: {"859": "...", ...}. Read once per Configure and shared by all
// threads.
#include "localized_text.h"

#include "current_settings.h"
#include "debug_log.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

constexpr std::size_t kMaxTextsFileBytes = 1u << 20;

using TextTable = std::unordered_map<unsigned int, OS::x_wstring>;

// A missing file gives no texts; a malformed one is logged, naming the file.
TextTable ReadTexts(const std::filesystem::path& file) {
    TextTable texts;
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return texts;
    }
    std::string bytes;
    bytes.resize(kMaxTextsFileBytes + 1);
    stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(stream.gcount()));
    if (bytes.size() > kMaxTextsFileBytes) {
        DBG::DebugLogEx(nullptr, 4099, "localized_text", __LINE__, "Texts file %s is over %zu bytes; no text loaded",
                        file.c_str(), kMaxTextsFileBytes);
        return texts;
    }
    const auto json = nlohmann::json::parse(bytes, nullptr, false);
    if (!json.is_object()) {
        DBG::DebugLogEx(nullptr, 4099, "localized_text", __LINE__, "Texts file %s is not a JSON object; no text loaded",
                        file.c_str());
        return texts;
    }
    for (const auto& [key, value] : json.items()) {
        unsigned int id = 0;
        const char* key_end = key.data() + key.size();
        const auto [parsed_end, error] = std::from_chars(key.data(), key_end, id);
        if (error != std::errc() || parsed_end != key_end || !value.is_string()) {
            DBG::DebugLogEx(nullptr, 4099, "localized_text", __LINE__, "Texts file %s: entry \"%s\" skipped",
                            file.c_str(), key.c_str());
            continue;
        }
        const auto& text = value.get_ref<const std::string&>();
        texts[id] = OS::UTF8CharToWChar(text.data(), text.size());
    }
    return texts;
}

class TextCache {
public:
    OS::x_wstring Find(unsigned int id) {
        auto settings = tessera::host::SharedSettings();
        const std::lock_guard<std::mutex> lock(mutex_);
        if (settings != loaded_for_) {
            texts_ = settings->resource_dir.empty() ? TextTable() : ReadTexts(settings->resource_dir / "texts.json");
            loaded_for_ = std::move(settings);
        }
        const auto found = texts_.find(id);
        return found != texts_.end() ? found->second : OS::x_wstring();
    }

private:
    std::mutex mutex_;
    std::shared_ptr<const tessera::host::HostSettings> loaded_for_;
    TextTable texts_;
};

OS::x_wstring FindText(unsigned int id) {
    static auto* cache = new TextCache();  // never destroyed, like the settings it follows
    return cache->Find(id);
}

}  // namespace

namespace KESTREL {

OS::x_wstring LoadStringW(unsigned int id) { return FindText(id); }

OS::x_wstring LoadString_W(unsigned int id) { return FindText(id); }

}  // namespace KESTREL

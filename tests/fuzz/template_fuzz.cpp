// Template filling against a plain reading of its rule: every place where a
// placeholder stands in the template's own text, leftmost first, none
// overlapping another or a place filled before; inserted text is never
// searched. The input is the template, then placeholders and their values,
// the pieces parted by NUL bytes; the page is compared after every fill.
#include "host_config.h"
#include "html_doc.h"
#include "os_string.h"
#include "require.h"
#include "temp_folder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using tessera::fuzz::Require;

namespace {

struct PlainFill {
    std::size_t begin = 0;
    std::size_t length = 0;
    std::wstring value;
};

class PlainDocument {
public:
    explicit PlainDocument(std::wstring text) : text_(std::move(text)) {}

    int SetField(const std::wstring& placeholder, const std::wstring& value) {
        if (placeholder.empty()) return 0;
        int count = 0;
        std::size_t free_from = 0;
        std::vector<PlainFill> added;
        for (std::size_t at = 0; at + placeholder.size() <= text_.size(); ++at) {
            if (at < free_from || text_.compare(at, placeholder.size(), placeholder) != 0) continue;
            if (Overlaps(at, placeholder.size())) continue;
            added.push_back(PlainFill{at, placeholder.size(), value});
            free_from = at + placeholder.size();
            ++count;
        }
        fills_.insert(fills_.end(), added.begin(), added.end());
        return count;
    }

    std::wstring Content() const {
        std::wstring content;
        std::size_t at = 0;
        std::vector<const PlainFill*> ordered;
        for (const PlainFill& fill : fills_) ordered.push_back(&fill);
        std::sort(ordered.begin(), ordered.end(),
                  [](const PlainFill* left, const PlainFill* right) { return left->begin < right->begin; });
        for (const PlainFill* fill : ordered) {
            content.append(text_, at, fill->begin - at);
            content += fill->value;
            at = fill->begin + fill->length;
        }
        content.append(text_, at);
        return content;
    }

private:
    bool Overlaps(std::size_t begin, std::size_t length) const {
        for (const PlainFill& fill : fills_) {
            if (begin < fill.begin + fill.length && fill.begin < begin + length) return true;
        }
        return false;
    }

    std::wstring text_;
    std::vector<PlainFill> fills_;
};

std::vector<std::string> Pieces(std::string_view input) {
    std::vector<std::string> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t end = input.find('\0', start);
        pieces.emplace_back(input.substr(start, end - start));
        if (end == std::string_view::npos) return pieces;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const tessera::test::TempFolder web_root("tessera-template-fuzz");
    static bool is_configured = false;
    if (!is_configured) {
        tessera::host::HostSettings settings;
        settings.web_root = web_root.path();
        tessera::host::Configure(settings);
        is_configured = true;
    }
    const std::vector<std::string> pieces = Pieces(std::string_view(reinterpret_cast<const char*>(data), size));

    // A new file each time: the console keeps a template it read for a second.
    static std::uint64_t serial = 0;
    const std::string name = "t" + std::to_string(++serial) + ".htm";
    web_root.Write(name, pieces[0]);
    CHtmlDoc document(nullptr);
    Require(document.Open(OS::FromUtf8(name).c_str()) == 0, "a template in the web root opens");
    std::filesystem::remove(web_root.path() / name);

    PlainDocument plain(OS::DecodeTextFile(pieces[0]));
    Require(document.GetHtmlContent() == plain.Content(), "an unfilled template is its text");
    for (std::size_t index = 1; index + 1 < pieces.size(); index += 2) {
        const std::wstring placeholder = OS::FromUtf8(pieces[index]);
        const std::wstring value = OS::FromUtf8(pieces[index + 1]);
        const bool takes_over = (index / 2) % 2 == 0;
        const int filled = takes_over ? document.SetField(placeholder.c_str(), std::wstring(value))
                                      : document.SetField(placeholder.c_str(), value.c_str());
        Require(filled == plain.SetField(placeholder, value), "a placeholder is filled in every free place");
        Require(document.GetHtmlContent() == plain.Content(), "the page is the template with its places filled");
    }
    return 0;
}

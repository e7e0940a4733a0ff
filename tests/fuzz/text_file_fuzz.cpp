// An uploaded text file, whatever its bytes, decodes to scalars and to no more
// characters than it has bytes; and any text written as UTF-8 with or without
// its byte order mark, or as UTF-16 in either order with its mark, reads back
// as that text.
#include "os_string.h"
#include "require.h"
#include "unicode_reference.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tessera::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring decoded = OS::DecodeTextFile(bytes);
    Require(IsScalarText(decoded), "a text file decodes to scalars");
    Require(decoded.size() <= size, "no byte of a file decodes to more than one character");

    const std::wstring& text = decoded;
    Require(OS::DecodeTextFile("\xEF\xBB\xBF" + Utf8Bytes(text)) == text, "UTF-8 with its mark reads back");
    Require(OS::DecodeTextFile("\xFF\xFE" + Utf16Bytes(text, false)) == text, "UTF-16 LE with its mark reads back");
    Require(OS::DecodeTextFile("\xFE\xFF" + Utf16Bytes(text, true)) == text, "UTF-16 BE with its mark reads back");
    if (text.empty() || text[0] != 0xFEFF) {
        Require(OS::DecodeTextFile(Utf8Bytes(text)) == text, "UTF-8 without a mark reads back");
    }
    return 0;
}

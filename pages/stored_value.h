// How the pages read stored values. The store may hold any type under any name
// (an older server, a hand-made change): a value of an unexpected type is
// never an error, it reads as below.
#pragma once

#include "os_string.h"
#include "variant.h"

#include <cstdint>
#include <optional>

namespace tessera::pages {

// A flag counts only when stored as VT_BOOL; it is true exactly when it holds
// VARIANT_TRUE (-1), so a boolean holding 1 reads as false. Nothing otherwise.
std::optional<bool> ReadFlag(const _variant_t* value);

// VT_I4, VT_UI4, VT_INT or VT_UINT give their 32-bit value; anything else, or
// no value, reads as 0.
std::int32_t ReadNumber(const _variant_t* value);

// VT_BSTR gives its whole text; anything else, or no value, the empty text.
OS::x_wstring ReadText(const _variant_t* value);

}  // namespace tessera::pages

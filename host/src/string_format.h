// The host's one wide printf, shared by x_wstring::Format and the wide debug log.
#pragma once

#include <cstdarg>
#include <string>

namespace tessera::host {

// Formats with the console's wide conventions (see x_wstring::Format). A null
// format gives the empty text; %n and unknown conversions are copied as text.
std::wstring FormatWide(const wchar_t* format, va_list args);
// The same text, appended to `out`.
void AppendFormatted(std::wstring& out, const wchar_t* format, va_list args);

}  // namespace tessera::host

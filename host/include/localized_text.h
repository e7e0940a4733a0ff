// Localised texts by numeric id, read from the texts resource file (host
// configuration). An id the file lacks gives the empty text.
#pragma once

#include "host_api.h"
#include "os_string.h"

namespace KESTREL {
// Audit message texts.
TESSERA_HOST_API OS::x_wstring LoadStringW(unsigned int id);
// Policy descriptions and other names.
TESSERA_HOST_API OS::x_wstring LoadString_W(unsigned int id);
}  // namespace KESTREL

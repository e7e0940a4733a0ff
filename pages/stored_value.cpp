// Read rules for stored values.
#include "stored_value.h"

namespace tessera::pages {

std::optional<bool> ReadFlag(const _variant_t* value) {
    if (value == nullptr || value->vt != VT_BOOL) {
        return std::nullopt;
    }
    return value->boolVal == VARIANT_TRUE;
}

std::int32_t ReadNumber(const _variant_t* value) {
    if (value == nullptr) {
        return 0;
    }
    switch (value->vt) {
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return value->lVal;  // the union gives the 32 bits whatever the signedness
    default:
        return 0;
    }
}

OS::x_wstring ReadText(const _variant_t* value) {
    if (value == nullptr || value->vt != VT_BSTR || value->bstrVal == nullptr) {
        return OS::x_wstring();
    }
    return OS::x_wstring(value->bstrVal, SysStringLen(value->bstrVal));
}

}  // namespace tessera::pages

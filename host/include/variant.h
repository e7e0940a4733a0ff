// OLE Automation variants as the management store uses them: booleans, 32-bit
// integers, BSTR texts, arrays of BSTR and embedded objects.
#pragma once

#include "host_api.h"

#include <cstddef>
#include <cstdint>

using VARTYPE = unsigned short;
using HRESULT = long;
using VARIANT_BOOL = short;
using BSTR = wchar_t*;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057L);
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,  // embedded object
    VT_UI4 = 19,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
};

namespace tessera::host {

// VT_ARRAY | VT_BSTR: a list of texts.
constexpr VARTYPE kBstrArray = static_cast<VARTYPE>(VT_ARRAY | VT_BSTR);

// VT_I4, VT_UI4, VT_INT and VT_UINT: the kinds that hold a 32-bit integer.
constexpr bool IsIntegerKind(VARTYPE kind) {
    return kind == VT_I4 || kind == VT_UI4 || kind == VT_INT || kind == VT_UINT;
}

}  // namespace tessera::host

// Reference-counted object interface; the store's embedded objects implement it.
struct TESSERA_HOST_API IUnknown {
    virtual unsigned long AddRef() = 0;
    virtual unsigned long Release() = 0;

protected:
    virtual ~IUnknown();
};

// One-dimensional array of BSTR (VT_ARRAY | VT_BSTR); owns its elements.
// Their texts lie in one buffer that copies share until one is changed: a
// pointer to an element's text stays valid until an element of that array is
// set or the array is destroyed.
struct SAFEARRAY;

struct tagVARIANT {
    VARTYPE vt;
    union {
        VARIANT_BOOL boolVal;
        std::int32_t lVal;
        std::uint32_t ulVal;
        std::int32_t intVal;
        std::uint32_t uintVal;
        BSTR bstrVal;
        SAFEARRAY* parray;
        IUnknown* punkVal;
    };
};
using VARIANT = tagVARIANT;

// Length-prefixed wide strings; a null BSTR is the empty text.
TESSERA_HOST_API BSTR SysAllocString(const wchar_t* text);
TESSERA_HOST_API BSTR SysAllocStringLen(const wchar_t* text, std::size_t length);
TESSERA_HOST_API void SysFreeString(BSTR text);
TESSERA_HOST_API std::size_t SysStringLen(BSTR text);

// Array of `count` BSTR elements, each the empty text until set.
TESSERA_HOST_API SAFEARRAY* SafeArrayCreateBSTR(std::size_t count);
TESSERA_HOST_API void SafeArrayDestroy(SAFEARRAY* array);
TESSERA_HOST_API std::size_t SafeArrayGetCount(const SAFEARRAY* array);
// The element's text, owned by the array; null when `index` is out of range.
TESSERA_HOST_API const wchar_t* SafeArrayGetBSTR(const SAFEARRAY* array, std::size_t index);
// Its length in characters (a text may hold NULs); 0 when out of range.
TESSERA_HOST_API std::size_t SafeArrayGetBSTRLength(const SAFEARRAY* array, std::size_t index);
// Makes room for `characters` more characters of text, so that setting the
// elements one by one does not move the buffer again and again.
TESSERA_HOST_API void SafeArrayReserveText(SAFEARRAY* array, std::size_t characters);
// Copies `text` into the element; false when `index` is out of range.
TESSERA_HOST_API bool SafeArraySetBSTR(SAFEARRAY* array, std::size_t index, const wchar_t* text, std::size_t length);

TESSERA_HOST_API void VariantInit(VARIANT* value);
// Releases what the variant holds and leaves it VT_EMPTY.
TESSERA_HOST_API HRESULT VariantClear(VARIANT* value);
// Copy: texts are duplicated, embedded objects cloned, arrays share their
// texts until either is changed; changing the copy never changes the source.
TESSERA_HOST_API HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);

class TESSERA_HOST_API _variant_t : public tagVARIANT {
public:
    _variant_t() noexcept;
    _variant_t(const _variant_t& other);
    _variant_t(_variant_t&& other) noexcept;
    explicit _variant_t(const VARIANT& other);
    explicit _variant_t(bool value);           // VT_BOOL
    explicit _variant_t(std::int32_t value);   // VT_I4
    explicit _variant_t(const wchar_t* text);  // VT_BSTR; null gives the empty text
    ~_variant_t();

    _variant_t& operator=(const _variant_t& other);
    _variant_t& operator=(_variant_t&& other) noexcept;

    void Clear();
    // Gives up ownership of the held value, leaving this variant VT_EMPTY.
    VARIANT Detach() noexcept;
};

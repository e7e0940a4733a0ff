// OLE Automation variants for the management store: length-prefixed BSTR texts,
// arrays of BSTR, and variant copies that never share what they hold.
#include "variant.h"

#include "mgmt_store.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

using tessera::host::kBstrArray;

IUnknown::~IUnknown() = default;

// ---- BSTR ---------------------------------------------------------------------
// The length sits just before the text, which is followed by a NUL.

namespace {

constexpr std::size_t kBstrHeaderBytes = sizeof(std::size_t);

std::byte* BstrBlock(BSTR text) { return reinterpret_cast<std::byte*>(text) - kBstrHeaderBytes; }

}  // namespace

BSTR SysAllocString(const wchar_t* text) {
    return text == nullptr ? nullptr : SysAllocStringLen(text, std::wcslen(text));
}

BSTR SysAllocStringLen(const wchar_t* text, std::size_t length) {
    constexpr std::size_t max_length =
        (std::numeric_limits<std::size_t>::max() - kBstrHeaderBytes) / sizeof(wchar_t) - 1;
    if (length > max_length) {
        throw std::bad_alloc();
    }
    auto* block = static_cast<std::byte*>(::operator new(kBstrHeaderBytes + (length + 1) * sizeof(wchar_t)));
    std::memcpy(block, &length, kBstrHeaderBytes);
    auto* chars = reinterpret_cast<wchar_t*>(block + kBstrHeaderBytes);
    if (text != nullptr) {
        std::wmemcpy(chars, text, length);
    } else {
        std::wmemset(chars, L'\0', length);
    }
    chars[length] = L'\0';
    return chars;
}

void SysFreeString(BSTR text) {
    if (text != nullptr) {
        ::operator delete(BstrBlock(text));
    }
}

std::size_t SysStringLen(BSTR text) {
    std::size_t length = 0;
    if (text != nullptr) {
        std::memcpy(&length, BstrBlock(text), kBstrHeaderBytes);
    }
    return length;
}

// ---- SAFEARRAY of BSTR ------------------------------------------------------------

// Every element's characters in one buffer, each followed by a NUL, so that an
// array of a million texts is two allocations, not a million. Copies share the
// buffer until one of them is changed, so a store that hands out a stored list
// copies nothing. An element set again is appended anew; its old text stays
// unused until the array goes (elements are set once, in order, in practice).
struct SAFEARRAY {
    struct Element {
        std::size_t start = 0;  // in `text`; the empty text is the NUL at 0
        std::size_t length = 0;
    };
    struct Storage {
        std::vector<Element> elements;
        std::vector<wchar_t> text;
    };
    explicit SAFEARRAY(std::size_t count)
        : storage(std::make_shared<Storage>(Storage{std::vector<Element>(count), std::vector<wchar_t>(1, L'\0')})) {}

    // Only one array changes a buffer: a shared one is copied first. Readers
    // of the other copies never see it change.
    Storage& Writable() {
        if (storage.use_count() > 1) {
            storage = std::make_shared<Storage>(*storage);
        }
        return *storage;
    }

    std::shared_ptr<Storage> storage;
};

SAFEARRAY* SafeArrayCreateBSTR(std::size_t count) { return new SAFEARRAY(count); }

void SafeArrayDestroy(SAFEARRAY* array) { delete array; }

std::size_t SafeArrayGetCount(const SAFEARRAY* array) { return array == nullptr ? 0 : array->storage->elements.size(); }

const wchar_t* SafeArrayGetBSTR(const SAFEARRAY* array, std::size_t index) {
    if (array == nullptr || index >= array->storage->elements.size()) {
        return nullptr;
    }
    return array->storage->text.data() + array->storage->elements[index].start;
}

std::size_t SafeArrayGetBSTRLength(const SAFEARRAY* array, std::size_t index) {
    return array == nullptr || index >= array->storage->elements.size() ? 0 : array->storage->elements[index].length;
}

void SafeArrayReserveText(SAFEARRAY* array, std::size_t characters) {
    if (array != nullptr) {
        SAFEARRAY::Storage& storage = array->Writable();
        storage.text.reserve(storage.text.size() + characters + storage.elements.size());
    }
}

bool SafeArraySetBSTR(SAFEARRAY* array, std::size_t index, const wchar_t* text, std::size_t length) {
    if (array == nullptr || index >= array->storage->elements.size()) {
        return false;
    }
    SAFEARRAY::Storage& storage = array->Writable();
    if (length == 0) {
        storage.elements[index] = {};
        return true;
    }
    const std::size_t start = storage.text.size();
    storage.text.insert(storage.text.end(), text, text + length);
    storage.text.push_back(L'\0');
    storage.elements[index] = {start, length};
    return true;
}

// ---- VARIANT ------------------------------------------------------------------------

namespace {

using ArrayPtr = std::unique_ptr<SAFEARRAY, decltype(&SafeArrayDestroy)>;

ArrayPtr CopyArray(const SAFEARRAY& source) {
    ArrayPtr copy(SafeArrayCreateBSTR(0), &SafeArrayDestroy);
    copy->storage = source.storage;
    return copy;
}

// Fills `destination`, which holds nothing, with a copy of `source`; false for
// a type the store does not use or an object that is not an embedded object.
bool CopyInto(VARIANT& destination, const VARIANT& source) {
    switch (source.vt) {
    case VT_EMPTY:
    case VT_BOOL:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        destination = source;
        return true;
    case VT_BSTR:
        destination.bstrVal =
            source.bstrVal == nullptr ? nullptr : SysAllocStringLen(source.bstrVal, SysStringLen(source.bstrVal));
        destination.vt = VT_BSTR;
        return true;
    case kBstrArray:
        destination.parray = source.parray == nullptr ? nullptr : CopyArray(*source.parray).release();
        destination.vt = kBstrArray;
        return true;
    case VT_UNKNOWN: {
        if (source.punkVal == nullptr) {
            destination = source;
            return true;
        }
        const tessera::host::PropertyBag* properties = tessera::host::EmbeddedProperties(source);
        if (properties == nullptr) {
            return false;
        }
        destination = tessera::host::MakeEmbeddedValue(*properties).Detach();
        return true;
    }
    default:
        return false;
    }
}

}  // namespace

void VariantInit(VARIANT* value) {
    value->vt = VT_EMPTY;
    value->punkVal = nullptr;
}

HRESULT VariantClear(VARIANT* value) {
    if (value == nullptr) {
        return E_INVALIDARG;
    }
    switch (value->vt) {
    case VT_BSTR:
        SysFreeString(value->bstrVal);
        break;
    case kBstrArray:
        SafeArrayDestroy(value->parray);
        break;
    case VT_UNKNOWN:
        if (value->punkVal != nullptr) {
            value->punkVal->Release();
        }
        break;
    default:
        break;
    }
    VariantInit(value);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
    if (destination == nullptr || source == nullptr) {
        return E_INVALIDARG;
    }
    if (destination == source) {
        return S_OK;
    }
    // Copied aside first: the source may live inside what the destination holds.
    VARIANT copy;
    VariantInit(&copy);
    if (!CopyInto(copy, *source)) {
        return E_INVALIDARG;
    }
    VariantClear(destination);
    *destination = copy;
    return S_OK;
}

// ---- _variant_t ---------------------------------------------------------------------

namespace {

void CopyOrThrow(VARIANT* destination, const VARIANT* source) {
    if (VariantCopy(destination, source) != S_OK) {
        throw std::invalid_argument("variant of type " + std::to_string(source->vt) + " cannot be copied");
    }
}

}  // namespace

_variant_t::_variant_t() noexcept { VariantInit(this); }

_variant_t::_variant_t(const _variant_t& other) : _variant_t(static_cast<const VARIANT&>(other)) {}

_variant_t::_variant_t(_variant_t&& other) noexcept : tagVARIANT(other) { VariantInit(&other); }

_variant_t::_variant_t(const VARIANT& other) {
    VariantInit(this);
    CopyOrThrow(this, &other);
}

_variant_t::_variant_t(bool value) {
    VariantInit(this);
    vt = VT_BOOL;
    boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

_variant_t::_variant_t(std::int32_t value) {
    VariantInit(this);
    vt = VT_I4;
    lVal = value;
}

_variant_t::_variant_t(const wchar_t* text) {
    VariantInit(this);
    bstrVal = SysAllocString(text == nullptr ? L"" : text);
    vt = VT_BSTR;
}

_variant_t::~_variant_t() { VariantClear(this); }

_variant_t& _variant_t::operator=(const _variant_t& other) {
    CopyOrThrow(this, &other);
    return *this;
}

_variant_t& _variant_t::operator=(_variant_t&& other) noexcept {
    if (this != &other) {
        // Taken first: `other` may live inside what this variant holds.
        const VARIANT taken = other;
        VariantInit(&other);
        VariantClear(this);
        static_cast<VARIANT&>(*this) = taken;
    }
    return *this;
}

void _variant_t::Clear() { VariantClear(this); }

VARIANT _variant_t::Detach() noexcept {
    const VARIANT held = *this;
    VariantInit(this);
    return held;
}

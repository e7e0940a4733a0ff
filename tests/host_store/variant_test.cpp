// Variants: copies never share what they hold, clears release it (the
// sanitizer build reports any leak or double free).
#include "mgmt_store.h"
#include "variant.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <string>

namespace {

using tessera::host::EmbeddedProperties;
using tessera::host::MakeEmbeddedValue;
using tessera::host::PropertyBag;
using tessera::host::ValueToJson;

constexpr VARTYPE kBstrArray = static_cast<VARTYPE>(VT_ARRAY | VT_BSTR);

_variant_t TextArray(std::initializer_list<const wchar_t*> texts) {
    _variant_t value;
    value.parray = SafeArrayCreateBSTR(texts.size());
    value.vt = kBstrArray;
    std::size_t index = 0;
    for (const wchar_t* text : texts) {
        SafeArraySetBSTR(value.parray, index++, text, std::wcslen(text));
    }
    return value;
}

_variant_t Embedded() {
    PropertyBag inner;
    inner.Set(L"Note", _variant_t(L"inner text"));
    PropertyBag outer;
    outer.Set(L"Flag", _variant_t(true));
    outer.Set(L"Inner", MakeEmbeddedValue(inner));
    return MakeEmbeddedValue(outer);
}

struct CopyCase {
    const char* name;
    std::function<_variant_t()> make;
};

TEST(Variant, CopyIsDeepAndEqualForEveryKind) {
    const CopyCase cases[] = {
        {"bool", [] { return _variant_t(true); }},
        {"int", [] { return _variant_t(std::int32_t{-7}); }},
        {"text", [] { return _variant_t(L"Grüße 😀"); }},
        {"empty text", [] { return _variant_t(static_cast<const wchar_t*>(nullptr)); }},
        {"array", [] { return TextArray({L"*.example.com", L"", L"www.example.org"}); }},
        {"empty array", [] { return TextArray({}); }},
        {"embedded", Embedded},
    };
    for (const CopyCase& test : cases) {
        SCOPED_TRACE(test.name);
        const _variant_t original = test.make();
        _variant_t copy(original);  // a shallow copy would be freed twice
        EXPECT_EQ(ValueToJson(copy), ValueToJson(original));
        _variant_t assigned;
        assigned = original;
        EXPECT_EQ(ValueToJson(assigned), ValueToJson(original));
        copy.Clear();
        EXPECT_EQ(copy.vt, VT_EMPTY);
    }
}

TEST(Variant, EditingACopiedEmbeddedObjectLeavesTheOriginal) {
    const _variant_t original = Embedded();
    const _variant_t copy(original);
    PropertyBag* inner = EmbeddedProperties(*EmbeddedProperties(copy)->Find(L"Inner"));
    inner->Set(L"Note", _variant_t(L"changed"));
    const PropertyBag* original_inner = EmbeddedProperties(*EmbeddedProperties(original)->Find(L"Inner"));
    EXPECT_STREQ(original_inner->Find(L"Note")->bstrVal, L"inner text");
}

TEST(Variant, AssigningAValueHeldInsideTheTargetKeepsIt) {
    _variant_t value = Embedded();
    value = *EmbeddedProperties(value)->Find(L"Inner");
    ASSERT_NE(EmbeddedProperties(value), nullptr);
    EXPECT_STREQ(EmbeddedProperties(value)->Find(L"Note")->bstrVal, L"inner text");

    value = std::move(*EmbeddedProperties(value)->Find(L"Note"));
    ASSERT_EQ(value.vt, VT_BSTR);
    EXPECT_STREQ(value.bstrVal, L"inner text");
}

TEST(Variant, BstrKeepsItsLengthAndEmbeddedCharacters) {
    const wchar_t text[] = {L'a', L'\0', L'b'};
    const BSTR copy = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(copy), 3u);
    EXPECT_EQ(std::wstring(copy, 3), std::wstring(text, 3));
    EXPECT_EQ(copy[3], L'\0');
    SysFreeString(copy);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(Variant, UnsupportedTypeIsRefusedAndLeavesTheTarget) {
    VARIANT foreign;
    VariantInit(&foreign);
    foreign.vt = 5;  // VT_R8: never stored
    _variant_t target(std::int32_t{4});
    EXPECT_EQ(VariantCopy(&target, &foreign), E_INVALIDARG);
    EXPECT_EQ(target.vt, VT_I4);
    EXPECT_THROW(_variant_t{foreign}, std::invalid_argument);
}

}  // namespace

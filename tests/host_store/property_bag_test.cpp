// Setters keep each property in its declared kind where the conversion is
// defined; the exact setter stores what it is given.
#include "mgmt_store.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using tessera::host::ClassDeclaration;
using tessera::host::EmbeddedProperties;
using tessera::host::MakeEmbeddedValue;
using tessera::host::PropertyBag;

std::shared_ptr<const ClassDeclaration> DeclarationOfKind(VARTYPE kind) {
    auto declaration = std::make_shared<ClassDeclaration>();
    declaration->properties.push_back({L"Declared", {kind, nullptr}});
    return declaration;
}

struct CoercionCase {
    const char* name;
    VARTYPE declared;  // VT_EMPTY: not declared
    std::function<void(PropertyBag&, const std::wstring&)> set;
    VARTYPE stored;
    std::int32_t raw;  // boolVal or lVal; ignored for texts
};

TEST(PropertyBag, SettersCoerceToTheDeclaredKind) {
    const CoercionCase cases[] = {
        {"int 1 on bool", VT_BOOL, [](auto& bag, auto& name) { bag.SetInt(name, 1); }, VT_BOOL, VARIANT_TRUE},
        {"int 0 on bool", VT_BOOL, [](auto& bag, auto& name) { bag.SetInt(name, 0); }, VT_BOOL, VARIANT_FALSE},
        {"int 7 on bool", VT_BOOL, [](auto& bag, auto& name) { bag.SetInt(name, 7); }, VT_BOOL, VARIANT_TRUE},
        {"bool on bool", VT_BOOL, [](auto& bag, auto& name) { bag.SetBool(name, true); }, VT_BOOL, VARIANT_TRUE},
        {"bool on I4", VT_I4, [](auto& bag, auto& name) { bag.SetBool(name, true); }, VT_I4, 1},
        {"int on UI4", VT_UI4, [](auto& bag, auto& name) { bag.SetInt(name, 5); }, VT_UI4, 5},
        {"bool on UINT", VT_UINT, [](auto& bag, auto& name) { bag.SetBool(name, false); }, VT_UINT, 0},
        {"int on INT", VT_INT, [](auto& bag, auto& name) { bag.SetInt(name, -3); }, VT_INT, -3},
        {"text on bool", VT_BOOL, [](auto& bag, auto& name) { bag.SetText(name, L"yes"); }, VT_BSTR, 0},
        {"bool on text", VT_BSTR, [](auto& bag, auto& name) { bag.SetBool(name, true); }, VT_BOOL, VARIANT_TRUE},
        {"int undeclared", VT_EMPTY, [](auto& bag, auto& name) { bag.SetInt(name, 1); }, VT_I4, 1},
        {"bool undeclared", VT_EMPTY, [](auto& bag, auto& name) { bag.SetBool(name, false); }, VT_BOOL, 0},
        {"exact int on bool", VT_BOOL,
         [](auto& bag, auto& name) { bag.Set(name, _variant_t(std::int32_t{1})); }, VT_I4, 1},
    };
    for (const CoercionCase& test : cases) {
        SCOPED_TRACE(test.name);
        PropertyBag bag(DeclarationOfKind(test.declared));
        const std::wstring name = test.declared == VT_EMPTY ? L"Undeclared" : L"Declared";
        test.set(bag, name);
        const _variant_t* value = bag.Find(name);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->vt, test.stored);
        if (test.stored == VT_BOOL) {
            EXPECT_EQ(value->boolVal, test.raw);
        } else if (test.stored != VT_BSTR) {
            EXPECT_EQ(value->lVal, test.raw);
        }
    }
}

TEST(PropertyBag, DeclareReachesEmbeddedObjects) {
    auto members = DeclarationOfKind(VT_BOOL);
    auto declaration = std::make_shared<ClassDeclaration>();
    declaration->properties.push_back({L"Settings", {VT_UNKNOWN, members}});

    PropertyBag bag;
    bag.Set(L"Settings", MakeEmbeddedValue(PropertyBag()));
    bag.Declare(declaration);
    PropertyBag* embedded = EmbeddedProperties(*bag.Find(L"Settings"));
    ASSERT_NE(embedded, nullptr);
    embedded->SetInt(L"Declared", 1);
    EXPECT_EQ(embedded->Find(L"Declared")->vt, VT_BOOL);
    EXPECT_EQ(embedded->Find(L"Declared")->boolVal, VARIANT_TRUE);
}

}  // namespace

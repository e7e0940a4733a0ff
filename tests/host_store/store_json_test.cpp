// The JSON form: every kind survives a round trip, and malformed input is
// refused with a message that names the place.
#include "mgmt_store.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using nlohmann::json;
using tessera::host::DeclarationsFromJson;
using tessera::host::EmbeddedProperties;
using tessera::host::InstancesFromJson;
using tessera::host::InstancesToJson;
using tessera::host::StoreFormatError;

constexpr VARTYPE kBstrArray = static_cast<VARTYPE>(VT_ARRAY | VT_BSTR);

const char* const kEveryKind = R"({"C": {"I": {
    "Bool": {"vt": 11, "value": -1},
    "OddBool": {"vt": 11, "value": 5},
    "I4": {"vt": 3, "value": -2147483648},
    "UI4": {"vt": 19, "value": 4294967295},
    "Int": {"vt": 22, "value": 7},
    "UInt": {"vt": 23, "value": 0},
    "Text": {"vt": 8, "value": "Grüße 😀 <&>"},
    "List": {"vt": 8200, "value": ["*.example.com", ""]},
    "NoList": {"vt": 8200, "value": []},
    "Object": {"vt": 13, "value": {"Inner": {"vt": 8, "value": "x"}}}
}}})";

TEST(StoreJson, EveryKindSurvivesARoundTrip) {
    const json original = json::parse(kEveryKind);
    const auto instances = InstancesFromJson(original);
    ASSERT_EQ(instances.size(), 1u);
    const auto& bag = instances[0].properties;
    EXPECT_EQ(bag.Find(L"OddBool")->boolVal, 5);
    EXPECT_EQ(bag.Find(L"UI4")->ulVal, 4294967295u);
    EXPECT_STREQ(bag.Find(L"Text")->bstrVal, L"Grüße 😀 <&>");
    EXPECT_EQ(bag.Find(L"List")->vt, kBstrArray);
    EXPECT_STREQ(SafeArrayGetBSTR(bag.Find(L"List")->parray, 0), L"*.example.com");
    EXPECT_STREQ(EmbeddedProperties(*bag.Find(L"Object"))->Find(L"Inner")->bstrVal, L"x");

    EXPECT_EQ(json(InstancesToJson(instances)), original);
}

struct MalformedCase {
    const char* document;
    const char* message;  // what() must contain it
};

template <class Parse>
void ExpectRefused(Parse parse, std::initializer_list<MalformedCase> cases) {
    for (const MalformedCase& test : cases) {
        SCOPED_TRACE(test.document);
        try {
            parse(json::parse(test.document));
            ADD_FAILURE() << "accepted";
        } catch (const StoreFormatError& error) {
            EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
        }
    }
}

TEST(StoreJson, MalformedInstancesNameThePlace) {
    ExpectRefused(InstancesFromJson, {
        {R"({"C": 5})", "C: expected an object of instances"},
        {R"({"C": {"I": []}})", "C/I: expected an object of properties"},
        {R"({"C": {"I": {"P": {"vt": 11}}}})", "C/I/P: expected both"},
        {R"({"C": {"I": {"P": {"vt": 11, "value": 0, "x": 1}}}})", "C/I/P: unexpected key \"x\""},
        {R"({"C": {"I": {"P": {"vt": 11, "value": 40000}}}})", "C/I/P: \"value\" 40000 is outside -32768 to 32767"},
        {R"({"C": {"I": {"P": {"vt": 3, "value": 2147483648}}}})", "C/I/P: \"value\" 2147483648 is outside"},
        {R"({"C": {"I": {"P": {"vt": 19, "value": -1}}}})", "C/I/P: \"value\" -1 is outside"},
        {R"({"C": {"I": {"P": {"vt": 3, "value": 1.5}}}})", "C/I/P: \"value\" is not a whole number"},
        {R"({"C": {"I": {"P": {"vt": 8, "value": "a\u0000b"}}}})", "C/I/P: the text holds a NUL"},
        {R"({"C": {"I": {"P": {"vt": 8200, "value": ["a", 3]}}}})", "C/I/P[1]: expected a text"},
        {R"({"C": {"I": {"P": {"vt": 99, "value": 0}}}})", "C/I/P: \"vt\" 99 is not one of"},
        {R"({"C": {"I": {"P": {"vt": 13, "value": {"M": {"vt": 11, "value": "x"}}}}}})", "C/I/P/M: \"value\" is not"},
        {R"({"C": {"I": {"": {"vt": 11, "value": 0}}}})", "C/I: a name is empty"},
    });
}

TEST(StoreJson, DeclarationsOfUnknownKindsNameThePlace) {
    ExpectRefused(DeclarationsFromJson, {
        {R"({"C": {"P": 13}})", "C/P: kind 13 is not one of"},
        {R"({"C": {"P": "x"}})", "C/P: the kind is not a whole number"},
        {R"({"C": {"E": {"M": 2}}})", "C/E/M: kind 2"},
    });
}

}  // namespace

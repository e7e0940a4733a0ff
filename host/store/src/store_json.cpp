// The JSON form of stored objects and class declarations: the provisioning
// files, the SQLite store's property column, and the console's dump and load.
// Input is validated in full; every error names the class/instance/property path.
#include "store_json.h"
#include "mgmt_store.h"
#include "os_string.h"
#include "text_util.h"

#include <charconv>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace tessera::host {

namespace {

using OS::FromUtf8;
using OS::ToUtf8;

// Embedded objects inside embedded objects are legal but never this deep.
constexpr int kMaxEmbeddingDepth = 8;
constexpr std::size_t kMaxNameLength = 256;

[[noreturn]] void Fail(const std::string& place, const std::string& problem) {
    throw StoreFormatError(place.empty() ? problem : place + ": " + problem);
}

std::string Join(const std::string& place, const std::string& name) {
    return place.empty() ? name : place + "/" + name;
}

// A class, instance or property name.
std::wstring NameFromKey(const std::string& key, const std::string& place) {
    if (key.empty()) {
        Fail(place, "a name is empty");
    }
    std::wstring name = FromUtf8(key);
    if (name.size() > kMaxNameLength) {
        Fail(place, "a name is longer than " + std::to_string(kMaxNameLength) + " characters");
    }
    if (name.find(L'\0') != std::wstring::npos) {
        Fail(place, "a name holds a NUL character");
    }
    return name;
}

// `place()` names the value in a failure; it is only called then.
template <class Json, class PlaceName>
std::wstring TextFromJson(const Json& json, const PlaceName& place) {
    if (!json.is_string()) {
        Fail(place(), "expected a text");
    }
    std::wstring text = FromUtf8(json.template get_ref<const std::string&>());
    if (text.find(L'\0') != std::wstring::npos) {
        Fail(place(), "the text holds a NUL character");
    }
    return text;
}

// The number as an `Integer`; `what` names it in the message, such as "\"value\"".
template <class Integer, class Json>
Integer IntegerFromJson(const Json& json, const std::string& place, const std::string& what) {
    constexpr auto min = static_cast<std::int64_t>(std::numeric_limits<Integer>::min());
    constexpr auto max = static_cast<std::int64_t>(std::numeric_limits<Integer>::max());
    if (!json.is_number_integer()) {
        Fail(place, what + " is not a whole number");
    }
    const bool in_range = json.is_number_unsigned()
                              ? json.template get<std::uint64_t>() <= static_cast<std::uint64_t>(max)
                              : json.template get<std::int64_t>() >= min && json.template get<std::int64_t>() <= max;
    if (!in_range) {
        Fail(place, what + " " + json.dump() + " is outside " + std::to_string(min) + " to " + std::to_string(max));
    }
    return static_cast<Integer>(json.template get<std::int64_t>());
}

template <class Json>
PropertyBag PropertiesFromJsonAt(const Json& json, const std::string& place, int depth);

template <class Json>
_variant_t ValueFromJsonAt(const Json& json, const std::string& place, int depth) {
    if (!json.is_object()) {
        Fail(place, "expected {\"vt\": <type>, \"value\": <value>}");
    }
    for (const auto& item : json.items()) {
        if (item.key() != "vt" && item.key() != "value") {
            Fail(place, "unexpected key \"" + item.key() + "\"");
        }
    }
    const auto vt = json.find("vt");
    const auto value = json.find("value");
    if (vt == json.end() || value == json.end()) {
        Fail(place, "expected both \"vt\" and \"value\"");
    }

    const auto type = IntegerFromJson<VARTYPE>(*vt, place, "\"vt\"");
    const std::string value_name = "\"value\"";
    _variant_t result;
    switch (type) {
    case VT_BOOL:
        result.boolVal = IntegerFromJson<VARIANT_BOOL>(*value, place, value_name);
        break;
    case VT_I4:
    case VT_INT:
        result.lVal = IntegerFromJson<std::int32_t>(*value, place, value_name);
        break;
    case VT_UI4:
    case VT_UINT:
        result.ulVal = IntegerFromJson<std::uint32_t>(*value, place, value_name);
        break;
    case VT_BSTR:
        result = _variant_t(TextFromJson(*value, [&] { return place; }).c_str());
        break;
    case kBstrArray: {
        if (!value->is_array()) {
            Fail(place, "\"value\" is not an array of texts");
        }
        std::unique_ptr<SAFEARRAY, decltype(&SafeArrayDestroy)> array(SafeArrayCreateBSTR(value->size()),
                                                                      &SafeArrayDestroy);
        std::size_t utf8_bytes = 0;
        for (const auto& element : *value) {
            utf8_bytes += element.is_string() ? element.template get_ref<const std::string&>().size() : 0;
        }
        SafeArrayReserveText(array.get(), utf8_bytes);  // at most one character per byte
        for (std::size_t index = 0; index < value->size(); ++index) {
            const std::wstring text =
                TextFromJson((*value)[index], [&] { return place + "[" + std::to_string(index) + "]"; });
            SafeArraySetBSTR(array.get(), index, text.c_str(), text.size());
        }
        result.parray = array.release();
        break;
    }
    case VT_UNKNOWN:
        return MakeEmbeddedValue(PropertiesFromJsonAt(*value, place, depth + 1));
    default:
        Fail(place, "\"vt\" " + std::to_string(type) + " is not one of 3, 8, 11, 13, 19, 22, 23, 8200");
    }
    result.vt = type;
    return result;
}

template <class Json>
PropertyBag PropertiesFromJsonAt(const Json& json, const std::string& place, int depth) {
    if (depth > kMaxEmbeddingDepth) {
        Fail(place, "embedded objects are nested too deeply");
    }
    if (!json.is_object()) {
        Fail(place, "expected an object of properties");
    }
    PropertyBag properties;
    for (const auto& item : json.items()) {
        const std::wstring name = NameFromKey(item.key(), place);
        properties.Set(name, ValueFromJsonAt(item.value(), Join(place, item.key()), depth));
    }
    return properties;
}

bool IsDeclarableKind(VARTYPE kind) {
    return kind == VT_BOOL || kind == VT_BSTR || kind == kBstrArray || IsIntegerKind(kind);
}

template <class Json>
std::shared_ptr<const ClassDeclaration> DeclarationFromJson(const Json& json, const std::string& place, int depth) {
    if (depth > kMaxEmbeddingDepth) {
        Fail(place, "embedded objects are nested too deeply");
    }
    if (!json.is_object()) {
        Fail(place, "expected an object of property kinds");
    }
    auto declaration = std::make_shared<ClassDeclaration>();
    for (const auto& item : json.items()) {
        const std::string property_place = Join(place, item.key());
        ClassDeclaration::Property property;
        if (item.value().is_object()) {
            property.kind = VT_UNKNOWN;
            property.members = DeclarationFromJson(item.value(), property_place, depth + 1);
        } else {
            const auto kind = IntegerFromJson<VARTYPE>(item.value(), property_place, "the kind");
            if (!IsDeclarableKind(kind)) {
                Fail(property_place, "kind " + std::to_string(kind) +
                                         " is not one of 3, 8, 11, 19, 22, 23, 8200 or an object of members");
            }
            property.kind = kind;
        }
        declaration->properties.emplace_back(NameFromKey(item.key(), place), std::move(property));
    }
    return declaration;
}

template <class Json>
Declarations DeclarationsFromJsonT(const Json& json) {
    if (!json.is_object()) {
        Fail("", "expected an object of classes");
    }
    Declarations declarations;
    for (const auto& item : json.items()) {
        declarations[NameFromKey(item.key(), "")] = DeclarationFromJson(item.value(), item.key(), 0);
    }
    return declarations;
}

template <class Json>
std::vector<StoredInstance> InstancesFromJsonT(const Json& json) {
    if (!json.is_object()) {
        Fail("", "expected an object of classes");
    }
    std::vector<StoredInstance> instances;
    for (const auto& class_item : json.items()) {
        const std::wstring class_name = NameFromKey(class_item.key(), "");
        if (!class_item.value().is_object()) {
            Fail(class_item.key(), "expected an object of instances");
        }
        for (const auto& instance_item : class_item.value().items()) {
            const std::string place = Join(class_item.key(), instance_item.key());
            instances.push_back({class_name, NameFromKey(instance_item.key(), class_item.key()),
                                 PropertiesFromJsonAt(instance_item.value(), place, 0)});
        }
    }
    return instances;
}

// The one writer of the stored form: the text nlohmann's dump() makes of the
// same document (no spaces, non-ASCII characters as UTF-8, control characters
// escaped as dump escapes them), written straight from the values, for a list
// of a million entries would otherwise be a million JSON nodes first.
class StoredTextWriter {
public:
    explicit StoredTextWriter(std::string& out) : out_(out) {}

    // False once a text was written that is no Unicode text: its UTF-8 reads
    // back as another text.
    bool IsExact() const { return is_exact_; }

    void Properties(const PropertyBag& properties, const std::string& place) {
        out_ += '{';
        for (const auto& [name, value] : properties.Items()) {
            if (out_.back() != '{') out_ += ',';
            Text(name, place);
            out_ += ':';
            Value(value, Join(place, ToUtf8(name)));
        }
        out_ += '}';
    }

    void Value(const VARIANT& value, const std::string& place) {
        out_ += "{\"vt\":";
        Number(value.vt);
        out_ += ",\"value\":";
        switch (value.vt) {
        case VT_BOOL:
            Number(value.boolVal);
            break;
        case VT_I4:
        case VT_INT:
            Number(value.lVal);
            break;
        case VT_UI4:
        case VT_UINT:
            Number(value.ulVal);
            break;
        case VT_BSTR:
            Text({value.bstrVal == nullptr ? L"" : value.bstrVal, SysStringLen(value.bstrVal)}, place);
            break;
        case kBstrArray: {
            out_ += '[';
            for (std::size_t index = 0; index < SafeArrayGetCount(value.parray); ++index) {
                if (index != 0) out_ += ',';
                Text({SafeArrayGetBSTR(value.parray, index), SafeArrayGetBSTRLength(value.parray, index)}, place);
            }
            out_ += ']';
            break;
        }
        case VT_UNKNOWN: {
            const PropertyBag* embedded = EmbeddedProperties(value);
            if (embedded == nullptr) {
                Fail(place, "the object is not an embedded object of the store");
            }
            Properties(*embedded, place);
            break;
        }
        default:
            Fail(place, "a value of vt " + std::to_string(value.vt) + " cannot be stored");
        }
        out_ += '}';
    }

private:
    template <typename Integer>
    void Number(Integer number) {
        char digits[24];
        out_.append(digits, std::to_chars(std::begin(digits), std::end(digits), number).ptr);
    }

    // A JSON string. Names and texts alike refuse NUL, which no reader takes back.
    void Text(std::wstring_view text, const std::string& place) {
        out_ += '"';
        std::size_t index = 0;
        for (; index < text.size(); ++index) {
            const auto unit = static_cast<std::uint32_t>(text[index]);
            if (unit >= 0x80) break;
            Byte(static_cast<char>(unit), place);
        }
        if (index < text.size()) {
            const std::wstring_view rest = text.substr(index);
            is_exact_ = is_exact_ && OS::IsUnicodeText(rest.data(), rest.size());
            scratch_.clear();
            OS::AppendUtf8(scratch_, rest.data(), rest.size());
            for (const char byte : scratch_) Byte(byte, place);
        }
        out_ += '"';
    }

    void Byte(char byte, const std::string& place) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && byte != '"' && byte != '\\') {
            out_ += byte;
            return;
        }
        switch (byte) {
        case '"':
            out_ += "\\\"";
            return;
        case '\\':
            out_ += "\\\\";
            return;
        case '\b':
            out_ += "\\b";
            return;
        case '\f':
            out_ += "\\f";
            return;
        case '\n':
            out_ += "\\n";
            return;
        case '\r':
            out_ += "\\r";
            return;
        case '\t':
            out_ += "\\t";
            return;
        case '\0':
            Fail(place, "the text holds a NUL character");
        default:
            out_ += "\\u00";
            AppendHexDigits(out_, value, HexDigitCase::kLower);
        }
    }

    std::string& out_;
    std::string scratch_;
    bool is_exact_ = true;
};

nlohmann::ordered_json PropertiesToJsonAt(const PropertyBag& properties, const std::string& place) {
    std::string text;
    StoredTextWriter(text).Properties(properties, place);
    return nlohmann::ordered_json::parse(text);
}

}  // namespace

namespace detail {

Declarations DeclarationsFromJson(const nlohmann::ordered_json& json) { return DeclarationsFromJsonT(json); }

PropertyBag PropertiesFromJson(const nlohmann::ordered_json& json, const std::string& place) {
    return PropertiesFromJsonAt(json, place, 0);
}

std::vector<StoredInstance> InstancesFromJson(const nlohmann::ordered_json& json) { return InstancesFromJsonT(json); }

}  // namespace detail

nlohmann::ordered_json ValueToJson(const VARIANT& value) {
    std::string text;
    StoredTextWriter(text).Value(value, "");
    return nlohmann::ordered_json::parse(text);
}

_variant_t ValueFromJson(const nlohmann::json& json, const std::string& place) {
    return ValueFromJsonAt(json, place, 0);
}

nlohmann::ordered_json PropertiesToJson(const PropertyBag& properties) { return PropertiesToJsonAt(properties, ""); }

StoredText StoredTextOf(const PropertyBag& properties) {
    StoredText stored;
    StoredTextWriter writer(stored.text);
    writer.Properties(properties, "");
    stored.is_exact = writer.IsExact();
    return stored;
}

PropertyBag PropertiesFromJson(const nlohmann::json& json, const std::string& place) {
    return PropertiesFromJsonAt(json, place, 0);
}

Declarations DeclarationsFromJson(const nlohmann::json& json) { return DeclarationsFromJsonT(json); }

std::vector<StoredInstance> InstancesFromJson(const nlohmann::json& json) { return InstancesFromJsonT(json); }

nlohmann::ordered_json InstancesToJson(const std::vector<StoredInstance>& instances) {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    for (const StoredInstance& instance : instances) {
        const std::string class_key = ToUtf8(instance.class_name);
        const std::string instance_key = ToUtf8(instance.instance_name);
        json[class_key][instance_key] = PropertiesToJsonAt(instance.properties, Join(class_key, instance_key));
    }
    return json;
}

}  // namespace tessera::host

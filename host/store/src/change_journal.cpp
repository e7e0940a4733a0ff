// The changes of stored objects: described, summarised and undone.
#include "change_journal.h"

#include "large_objects.h"
#include "os_string.h"
#include "store_json.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <future>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace tessera::host {
namespace {

using Texts = std::vector<std::wstring_view>;

constexpr char kPathSeparator = '/';

class Fnv1a {
public:
    void Add(std::uint64_t unit) {
        hash_ ^= unit;
        hash_ *= 1099511628211ull;
    }
    void Add(std::wstring_view text) {
        Add(text.size());
        for (const wchar_t unit : text) Add(static_cast<std::uint64_t>(unit));
    }
    std::uint64_t Value() const { return hash_; }

private:
    std::uint64_t hash_ = 14695981039346656037ull;
};

Texts TextsOf(const VARIANT& list) {
    Texts texts(SafeArrayGetCount(list.parray));
    for (std::size_t index = 0; index < texts.size(); ++index) {
        texts[index] = {SafeArrayGetBSTR(list.parray, index), SafeArrayGetBSTRLength(list.parray, index)};
    }
    return texts;
}

void AddValues(Fnv1a& hash, const PropertyBag& properties) {
    std::vector<const std::pair<std::wstring, _variant_t>*> items;
    for (const auto& item : properties.Items()) items.push_back(&item);
    std::sort(items.begin(), items.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    hash.Add(items.size());
    for (const auto* item : items) {
        const _variant_t& value = item->second;
        hash.Add(item->first);
        hash.Add(value.vt);
        if (const PropertyBag* embedded = EmbeddedProperties(value)) {
            AddValues(hash, *embedded);
        } else if (value.vt == kBstrArray) {
            const Texts texts = TextsOf(value);
            hash.Add(texts.size());
            for (const std::wstring_view text : texts) hash.Add(text);
        } else if (value.vt == VT_BSTR) {
            hash.Add(std::wstring_view(value.bstrVal == nullptr ? L"" : value.bstrVal, SysStringLen(value.bstrVal)));
        } else {
            hash.Add(value.ulVal);
        }
    }
}

nlohmann::json TextJson(std::wstring_view text) { return OS::ToUtf8(std::wstring(text)); }

// The entries removed and added, with their places, found by one merge walk
// of the part between the common start and end. The pages keep the list
// sorted, so the walk finds the fewest changes; on a list in any other order
// it still finds a correct pair of removals and additions, only more of them.
nlohmann::json ListChange(const std::string& name, const Texts& before, const Texts& after) {
    std::size_t start = 0;
    while (start < before.size() && start < after.size() && before[start] == after[start]) ++start;
    std::size_t end_before = before.size();
    std::size_t end_after = after.size();
    while (end_before > start && end_after > start && before[end_before - 1] == after[end_after - 1]) {
        --end_before;
        --end_after;
    }
    if (start == end_before && start == end_after) return nullptr;

    nlohmann::json removed = nlohmann::json::array();
    nlohmann::json added = nlohmann::json::array();
    std::size_t old_index = start;
    std::size_t new_index = start;
    while (old_index < end_before || new_index < end_after) {
        const bool has_old = old_index < end_before;
        const bool has_new = new_index < end_after;
        if (has_old && has_new && before[old_index] == after[new_index]) {
            ++old_index;
            ++new_index;
        } else if (has_old && (!has_new || before[old_index] < after[new_index])) {
            removed.push_back({old_index, TextJson(before[old_index])});
            ++old_index;
        } else {
            added.push_back({new_index, TextJson(after[new_index])});
            ++new_index;
        }
    }
    return {{"name", name}, {"removed", std::move(removed)}, {"added", std::move(added)}};
}

void Compare(const PropertyBag& before, const PropertyBag& after, const std::string& prefix, nlohmann::json& values,
             nlohmann::json& lists) {
    std::vector<std::wstring> names;
    for (const auto& [name, value] : before.Items()) names.push_back(name);
    for (const auto& [name, value] : after.Items()) {
        if (before.Find(name) == nullptr) names.push_back(name);
    }
    for (const std::wstring& name : names) {
        const _variant_t* old_value = before.Find(name);
        const _variant_t* new_value = after.Find(name);
        const std::string path = prefix + OS::ToUtf8(name);
        const PropertyBag* old_embedded = old_value ? EmbeddedProperties(*old_value) : nullptr;
        const PropertyBag* new_embedded = new_value ? EmbeddedProperties(*new_value) : nullptr;
        if (old_embedded != nullptr && new_embedded != nullptr) {
            Compare(*old_embedded, *new_embedded, path + kPathSeparator, values, lists);
        } else if (old_value && new_value && old_value->vt == kBstrArray && new_value->vt == kBstrArray) {
            nlohmann::json list = ListChange(path, TextsOf(*old_value), TextsOf(*new_value));
            if (!list.is_null()) lists.push_back(std::move(list));
        } else {
            const nlohmann::json old_json = old_value ? nlohmann::json(ValueToJson(*old_value)) : nlohmann::json();
            const nlohmann::json new_json = new_value ? nlohmann::json(ValueToJson(*new_value)) : nlohmann::json();
            if (old_json != new_json) values.push_back({{"name", path}, {"before", old_json}, {"after", new_json}});
        }
    }
}

[[noreturn]] void Mismatch(const nlohmann::json& change, const std::string& name) {
    throw std::runtime_error(change.at("class").get<std::string>() + "/" + change.at("instance").get<std::string>() +
                             "/" + name + " does not hold what the change left");
}

// The object that holds `path`'s last name, and that name.
std::pair<PropertyBag*, std::wstring> Holder(const nlohmann::json& change, PropertyBag& properties,
                                             const std::string& path) {
    PropertyBag* holder = &properties;
    std::size_t start = 0;
    for (std::size_t separator = path.find(kPathSeparator); separator != std::string::npos;
         separator = path.find(kPathSeparator, start)) {
        _variant_t* embedded = holder->Find(OS::FromUtf8(path.substr(start, separator - start)));
        holder = embedded ? EmbeddedProperties(*embedded) : nullptr;
        if (holder == nullptr) Mismatch(change, path);
        start = separator + 1;
    }
    return {holder, OS::FromUtf8(path.substr(start))};
}

_variant_t ListValue(const std::vector<std::wstring>& texts) {
    _variant_t value;
    value.parray = SafeArrayCreateBSTR(texts.size());
    value.vt = kBstrArray;
    std::size_t characters = 0;
    for (const std::wstring& text : texts) characters += text.size();
    SafeArrayReserveText(value.parray, characters);
    for (std::size_t index = 0; index < texts.size(); ++index) {
        SafeArraySetBSTR(value.parray, index, texts[index].data(), texts[index].size());
    }
    return value;
}

std::vector<std::wstring> ListBefore(const nlohmann::json& change, const nlohmann::json& list, const VARIANT& now) {
    std::vector<std::wstring> before;
    const Texts after = TextsOf(now);
    const nlohmann::json& added = list.at("added");
    const nlohmann::json& removed = list.at("removed");
    before.reserve(after.size() + removed.size());
    std::size_t next_added = 0;
    std::size_t next_removed = 0;
    for (std::size_t index = 0; index < after.size(); ++index) {
        if (next_added < added.size() && added[next_added].at(0).get<std::size_t>() == index) {
            ++next_added;
            continue;
        }
        while (next_removed < removed.size() && removed[next_removed].at(0).get<std::size_t>() == before.size()) {
            before.push_back(OS::FromUtf8(removed[next_removed++].at(1).get<std::string>()));
        }
        before.emplace_back(after[index]);
    }
    while (next_removed < removed.size() && removed[next_removed].at(0).get<std::size_t>() == before.size()) {
        before.push_back(OS::FromUtf8(removed[next_removed++].at(1).get<std::string>()));
    }
    if (next_added != added.size() || next_removed != removed.size()) Mismatch(change, list.at("name"));
    return before;
}

nlohmann::json Sample(const nlohmann::json& entries, std::size_t sample) {
    nlohmann::json texts = nlohmann::json::array();
    for (std::size_t index = 0; index < std::min(sample, entries.size()); ++index)
        texts.push_back(entries[index].at(1));
    return texts;
}

}  // namespace

std::string ValuesFingerprint(const PropertyBag& properties) {
    Fnv1a hash;
    AddValues(hash, properties);
    char digits[16] = {};
    const auto written = std::to_chars(std::begin(digits), std::end(digits), hash.Value(), 16).ptr - digits;
    std::string text(16 - static_cast<std::size_t>(written), '0');  // 16 digits, leading zeros included
    return text.append(digits, static_cast<std::size_t>(written));
}

nlohmann::json DescribeChange(const std::wstring& class_name, const std::wstring& instance_name,
                              const PropertyBag& before, const PropertyBag& after) {
    // Each fingerprint is a pass over every text: the earlier one is taken beside the comparison.
    auto before_fingerprint = std::async(LaunchFor(before), [&before] { return ValuesFingerprint(before); });
    nlohmann::json values = nlohmann::json::array();
    nlohmann::json lists = nlohmann::json::array();
    Compare(before, after, "", values, lists);
    if (values.empty() && lists.empty()) return nullptr;
    return {{"class", OS::ToUtf8(class_name)},    {"instance", OS::ToUtf8(instance_name)},
            {"before", before_fingerprint.get()}, {"after", ValuesFingerprint(after)},
            {"values", std::move(values)},        {"lists", std::move(lists)}};
}

void UndoChange(const nlohmann::json& change, PropertyBag& properties) {
    for (const nlohmann::json& value : change.at("values")) {
        const std::string path = value.at("name");
        const auto [holder, name] = Holder(change, properties, path);
        if (value.at("before").is_null()) {
            holder->Erase(name);
        } else {
            holder->Set(name, ValueFromJson(value.at("before"), path));
        }
    }
    for (const nlohmann::json& list : change.at("lists")) {
        const std::string path = list.at("name");
        const auto [holder, name] = Holder(change, properties, path);
        const _variant_t* now = holder->Find(name);
        if (now == nullptr || now->vt != kBstrArray) Mismatch(change, path);
        holder->Set(name, ListValue(ListBefore(change, list, *now)));
    }
}

nlohmann::json SummarizeChange(const nlohmann::json& change, std::size_t sample) {
    nlohmann::json lists = nlohmann::json::array();
    for (const nlohmann::json& list : change.at("lists")) {
        const nlohmann::json& removed = list.at("removed");
        const nlohmann::json& added = list.at("added");
        lists.push_back({{"name", list.at("name")},
                         {"removed_count", removed.size()},
                         {"added_count", added.size()},
                         {"removed", Sample(removed, sample)},
                         {"added", Sample(added, sample)}});
    }
    return {{"class", change.at("class")},
            {"instance", change.at("instance")},
            {"values", change.at("values")},
            {"lists", std::move(lists)}};
}

}  // namespace tessera::host

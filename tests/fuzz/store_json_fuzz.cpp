// The JSON form of stored objects (the provisioning file, store dump and
// load) over any text: a document is read or refused with StoreFormatError
// and nothing else, and what was read writes out as a document that reads
// back to the same objects.
#include "mgmt_store.h"
#include "require.h"
#include "store_json.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

using tessera::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const nlohmann::json document = nlohmann::json::parse(data, data + size, nullptr, false);
    if (document.is_discarded()) return 0;
    std::vector<tessera::host::StoredInstance> instances;
    try {
        instances = tessera::host::InstancesFromJson(document);
    } catch (const tessera::host::StoreFormatError&) {
        return 0;
    }
    const nlohmann::ordered_json written = tessera::host::InstancesToJson(instances);
    const nlohmann::json reread = nlohmann::json::parse(written.dump());
    const nlohmann::ordered_json rewritten = tessera::host::InstancesToJson(tessera::host::InstancesFromJson(reread));
    Require(rewritten == written, "objects written out read back as the same objects");
    return 0;
}

// Time per approved-list entry of the settings page and of the save, through
// the plug-in's exports against the in-memory store; or, with
// TESSERA_BENCH_STORE naming a store (sqlite:PATH, or an empty postgresql://
// database), as the console sends them, in that store's transactions.
#include "cgi_request.h"
#include "console_store.h"
#include "host_config.h"
#include "memory_reuse.h"
#include "memory_store.h"
#include "mgmt_object.h"
#include "mgmt_store.h"
#include "page_request.h"
#include "plugin_module.h"
#include "store_json.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace {
namespace fs = std::filesystem;

const fs::path kSourceDir = TESSERA_BENCH_SOURCE_DIR;

nlohmann::json ReadJson(const fs::path& file) {
    std::ifstream in(file);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    return nlohmann::json::parse(in);
}

std::wstring Entry(std::int64_t index) {
    return L"host" + std::to_wstring(index) + L".example" + std::to_wstring(index % 97) + L".com";
}

// One plug-in and store for the whole run; each benchmark sets the list it needs.
struct BenchContext {
    BenchContext() {
        std::string pattern = (fs::temp_directory_path() / "tessera-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        data_dir = pattern;
        // No debug lines are written: the benchmark measures the page, not the log's disk.
        tessera::host::Configure({fs::path(), kSourceDir, kSourceDir / "data"});
        if (const char* url = std::getenv("TESSERA_BENCH_STORE")) {
            console_store =
                tessera::host::ConsoleStore::Open(tessera::host::ParseStoreAddress(url, data_dir), kSourceDir / "data");
            store = console_store;
        } else {
            store = std::make_shared<tessera::host::MemoryStore>(
                tessera::host::DeclarationsFromJson(ReadJson(kSourceDir / "data" / "classes.json")));
            store->Replace(tessera::host::InstancesFromJson(ReadJson(kSourceDir / "data" / "provision.json")));
        }
        tessera::host::SetCurrentStore(store);
        plugin = std::make_unique<tessera::console::PluginModule>(TESSERA_BENCH_PLUGIN_PATH);
        plugin->Initialize();
    }
    ~BenchContext() {
        plugin->Deinitialize();
        fs::remove_all(data_dir);
    }

    void StoreList(std::int64_t entries) {
        CMgmtBSTRArrayAccessHelper builder;
        for (std::int64_t index = 0; index < entries; ++index) {
            builder.Add(Entry(index).c_str());
        }
        _variant_t list;
        builder.PutElementsIntoArray(list);
        tessera::host::PropertyBag properties;
        properties.Set(L"ApprovedLists", list);
        store->Replace({{L"QZ_UFApprovedLists", L"UF_APPROVED_LIST", std::move(properties)}});
    }

    std::size_t Render(const CCGIRequestData& request) {
        if (console_store) {
            const tessera::console::PageAnswer answer =
                tessera::console::AnswerThroughPlugin(*plugin, *console_store, request, {"benchmark", {}});
            if (!answer.response || !answer.outcome.is_stored) {
                throw std::runtime_error("the settings page did not render: " + answer.outcome.refusal);
            }
            return std::char_traits<char>::length(answer.response.get());
        }
        char* output = nullptr;
        if (plugin->UIRequest(&request, &output) != 0) {
            throw std::runtime_error("the settings page did not render");
        }
        const std::size_t bytes = std::char_traits<char>::length(output);
        plugin->Free(output);
        return bytes;
    }

    fs::path data_dir;
    std::shared_ptr<tessera::host::StoreBackend> store;
    std::shared_ptr<tessera::host::ConsoleStore> console_store;  // when the benchmark runs on one
    std::unique_ptr<tessera::console::PluginModule> plugin;
};

BenchContext& Context() {
    static BenchContext context;
    return context;
}

void SetPerEntry(benchmark::State& state) {
    state.counters["per_entry"] =
        benchmark::Counter(static_cast<double>(state.range(0)),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SettingsPage(benchmark::State& state) {
    BenchContext& context = Context();
    context.StoreList(state.range(0));
    CCGIRequestData request;
    request.SetPageID(L"scan/WebThreat_Protection.htm");
    request.SetBaseURL(L"/");
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = context.Render(request);
    }
    benchmark::DoNotOptimize(bytes);
    state.counters["page_MiB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    SetPerEntry(state);
}

void BM_SaveThenPage(benchmark::State& state) {
    BenchContext& context = Context();
    CCGIRequestData request;
    request.SetPageID(L"scan/WebThreat_Protection.htm");
    request.SetBaseURL(L"/");
    request.AddField(L"FormAction", L"save");
    request.AddField(L"chkEnable", L"on");
    // Submitted in reverse, so the save's sort has work to do.
    for (std::int64_t index = state.range(0); index-- > 0;) {
        request.AddField(L"stApprovedURL", Entry(index));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(context.Render(request));
    }
    SetPerEntry(state);
}

// A warm-up first: the console keeps freed memory for the next request, so
// only the first large page after a start pays for faulting its memory in;
// without it the one timed run of a million entries would be that first page.
// This library's version warms up only a benchmark that also sets its own minimum time.
void ListSizes(benchmark::internal::Benchmark* family) {
    family->Arg(1000)
        ->Arg(100000)
        ->Arg(1000000)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.5)
        ->MinWarmUpTime(3.0);
}

BENCHMARK(BM_SettingsPage)->Apply(ListSizes);
BENCHMARK(BM_SaveThenPage)->Apply(ListSizes);

}  // namespace

// The console's allocator settings, so the figures are the console's.
int main(int argc, char** argv) {
    tessera::console::KeepFreedMemoryForReuse();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// FMU states of the sine source in Co-Simulation: fmi2GetFMUstate,
// fmi2SetFMUstate, fmi2SerializeFMUstate and fmi2DeSerializeFMUstate, each
// against a plain memcpy of as many bytes as the state's image holds,
// measured in the same run. The counter "ratio" is operation / memcpy.
#include <benchmark/benchmark.h>
#include <string.h>

#include <chrono>
#include <vector>

#include "test_host.h"

namespace {

const char* const kGuid = "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}";

enum class Operation { get, set, serialize, deserialize };

// A stepping instance with one saved state and its image.
struct Fixture {
    TestHost host{PELLORY_SO};
    fmi2Component c = nullptr;
    fmi2FMUstate state = nullptr;
    std::vector<char> image;

    bool ready() {
        if (!host.loaded()) return false;
        c = host.instantiate("bench", fmi2CoSimulation, kGuid, false);
        if (!c || host->SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0) != fmi2OK ||
            host->EnterInitializationMode(c) != fmi2OK || host->ExitInitializationMode(c) != fmi2OK ||
            host->DoStep(c, 0, 0.1, fmi2True) != fmi2OK || host->GetFMUstate(c, &state) != fmi2OK)
            return false;
        size_t size = 0;
        if (host->SerializedFMUstateSize(c, state, &size) != fmi2OK) return false;
        image.resize(size);
        return host->SerializeFMUstate(c, state, image.data(), size) == fmi2OK;
    }
    ~Fixture() {
        if (state) host->FreeFMUstate(c, &state);
        if (c) host->FreeInstance(c);
    }
    fmi2Status run(Operation op) {
        switch (op) {
        case Operation::get: return host->GetFMUstate(c, &state);
        case Operation::set: return host->SetFMUstate(c, state);
        case Operation::serialize: return host->SerializeFMUstate(c, state, image.data(), image.size());
        case Operation::deserialize: return host->DeSerializeFMUstate(c, image.data(), image.size(), &state);
        }
        return fmi2Error;
    }
};

// Seconds for n copies of `bytes` bytes.
double copySeconds(size_t bytes, int64_t n) {
    std::vector<char> from(bytes, 1), to(bytes);
    const auto start = std::chrono::steady_clock::now();
    for (int64_t k = 0; k < n; ++k) {
        from[static_cast<size_t>(k) % bytes] = static_cast<char>(k);
        memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_PelloryState(benchmark::State& state, Operation op) {
    Fixture fixture;
    if (!fixture.ready()) {
        state.SkipWithError("Pellory could not be brought to a saved state");
        return;
    }
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const fmi2Status status = fixture.run(op);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != fmi2OK) {
            state.SkipWithError("the operation failed");
            return;
        }
    }
    const int64_t n = static_cast<int64_t>(state.iterations());
    const double baseline = copySeconds(fixture.image.size(), n);
    state.counters["bytes"] = static_cast<double>(fixture.image.size());
    state.counters["operation_us"] = 1e6 * seconds / static_cast<double>(n);
    state.counters["memcpy_us"] = 1e6 * baseline / static_cast<double>(n);
    state.counters["ratio"] = baseline > 0 ? seconds / baseline : 0;
}

BENCHMARK_CAPTURE(BM_PelloryState, GetFMUstate, Operation::get);
BENCHMARK_CAPTURE(BM_PelloryState, SetFMUstate, Operation::set);
BENCHMARK_CAPTURE(BM_PelloryState, SerializeFMUstate, Operation::serialize);
BENCHMARK_CAPTURE(BM_PelloryState, DeSerializeFMUstate, Operation::deserialize);

} // namespace

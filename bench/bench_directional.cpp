// Directional derivatives of the room library against the host's own central
// difference through fmi2SetReal and fmi2GetReal, measured in the same run:
// d der(x) / d wall state and the 3 x 3 state Jacobian (three queries with
// unit seeds) in Model Exchange continuous-time mode, and d der(x) / d heat
// input and the state Jacobian in Co-Simulation between steps. The host's
// difference perturbs the known variable by the same step in both directions
// and sets it back, as the library does, but leaves its instance changed
// (nothing computed, the change pending), which the library's query does not;
// so each way works on an instance of its own. The counter "ratio" is
// query / host difference.
#include <benchmark/benchmark.h>

#include <chrono>

#include "test_host.h"
#include "vastorel.h"

namespace {

const fmi2ValueReference kDerivatives[3] = {ref(3, 0, 2), ref(3, 1, 2), ref(3, 2, 2)};
const fmi2ValueReference kStates[3] = {kState(0), kState(1), kState(2)};

enum class Query { wallColumn, stateJacobian, heatColumn };

// A room instance in continuous-time mode (Model Exchange) or after a few
// steps (Co-Simulation).
struct Instance {
    TestHost& host;
    fmi2Component c = nullptr;

    explicit Instance(TestHost& h) : host(h) {}
    bool start(fmi2Type type) {
        if (!host.loaded()) return false;
        c = host.instantiate("bench", type, kRoomGuid, false);
        const double heat = 1000;
        if (!c || host->SetReal(c, &kHeatInput, 1, &heat) != fmi2OK ||
            host->SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0) != fmi2OK ||
            host->EnterInitializationMode(c) != fmi2OK || host->ExitInitializationMode(c) != fmi2OK)
            return false;
        if (type == fmi2ModelExchange) {
            fmi2EventInfo info{};
            return host->NewDiscreteStates(c, &info) == fmi2OK && host->EnterContinuousTimeMode(c) == fmi2OK;
        }
        for (int k = 0; k < 4; ++k)
            if (host->DoStep(c, 600.0 * k, 600, fmi2True) != fmi2OK) return false;
        return true;
    }
    ~Instance() {
        if (c) host->FreeInstance(c);
    }

    // One column d der(x) / d known by the library.
    fmi2Status libraryColumn(fmi2ValueReference known, double* column) {
        const double seed = 1;
        return host->GetDirectionalDerivative(c, kDerivatives, 3, &known, 1, &seed, column);
    }

    // The same column by the host: the library's step, both directions, the value set back.
    fmi2Status hostColumn(fmi2ValueReference known, double* column) {
        double v = 0, plus[3], minus[3];
        if (host->GetReal(c, &known, 1, &v) != fmi2OK) return fmi2Error;
        const double h = (fabs(v) + 1) * 1e-5;
        const double vPlus = v + h, vMinus = v - h;
        if (host->SetReal(c, &known, 1, &vPlus) != fmi2OK || host->GetReal(c, kDerivatives, 3, plus) != fmi2OK ||
            host->SetReal(c, &known, 1, &vMinus) != fmi2OK || host->GetReal(c, kDerivatives, 3, minus) != fmi2OK ||
            host->SetReal(c, &known, 1, &v) != fmi2OK)
            return fmi2Error;
        for (int i = 0; i < 3; ++i) column[i] = (plus[i] - minus[i]) / (2 * h);
        return fmi2OK;
    }

    fmi2Status run(Query query, bool byLibrary, double* columns) {
        const auto column = [&](fmi2ValueReference known, double* out) {
            return byLibrary ? libraryColumn(known, out) : hostColumn(known, out);
        };
        switch (query) {
        case Query::wallColumn: return column(kStates[2], columns);
        case Query::heatColumn: return column(kHeatInput, columns);
        case Query::stateJacobian:
            for (int j = 0; j < 3; ++j)
                if (column(kStates[j], columns + 3 * j) != fmi2OK) return fmi2Error;
            return fmi2OK;
        }
        return fmi2Error;
    }
};

// Arguments: Co-Simulation (1) or Model Exchange (0), the query. The two
// ways alternate in rounds of 64, so that both see the same machine.
void BM_VastorelDirectionalDerivative(benchmark::State& state) {
    const fmi2Type type = state.range(0) ? fmi2CoSimulation : fmi2ModelExchange;
    const Query query = static_cast<Query>(state.range(1));
    TestHost host(VASTOREL_SO);
    Instance queried(host), differenced(host);
    if (!queried.start(type) || !differenced.start(type)) {
        state.SkipWithError("Vastorel could not be initialized");
        return;
    }
    double library[9] = {}, byHost[9] = {};
    double librarySeconds = 0, hostSeconds = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < 64; ++k) {
            if (queried.run(query, true, library) != fmi2OK) state.SkipWithError("query failed");
            benchmark::DoNotOptimize(library);
        }
        auto middle = std::chrono::steady_clock::now();
        for (int k = 0; k < 64; ++k) {
            if (differenced.run(query, false, byHost) != fmi2OK) state.SkipWithError("host difference failed");
            benchmark::DoNotOptimize(byHost);
        }
        librarySeconds += std::chrono::duration<double>(middle - start).count();
        hostSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - middle).count();
        ++rounds;
    }
    const double calls = 64.0 * static_cast<double>(rounds);
    state.counters["library_us"] = 1e6 * librarySeconds / calls;
    state.counters["host_us"] = 1e6 * hostSeconds / calls;
    state.counters["ratio"] = hostSeconds > 0 ? librarySeconds / hostSeconds : 0;
    // The two ways compute the same differences: a check that the query measured is the one meant.
    double largest = 0;
    for (int i = 0; i < 9; ++i) largest = fmax(largest, fabs(library[i] - byHost[i]));
    state.counters["max_difference"] = largest;
}

BENCHMARK(BM_VastorelDirectionalDerivative)
    ->ArgNames({"cosimulation", "query"})
    ->Args({0, static_cast<int>(Query::wallColumn)})
    ->Args({0, static_cast<int>(Query::stateJacobian)})
    ->Args({1, static_cast<int>(Query::heatColumn)})
    ->Args({1, static_cast<int>(Query::stateJacobian)});

} // namespace

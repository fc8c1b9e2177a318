// One Co-Simulation communication step of the sine source: fmi2SetReal of an
// input, fmi2DoStep and fmi2GetReal of both outputs, with the input held or
// changed at every step (then each step pays the event update of a changed
// input). The baseline, measured in the same run, makes the same three calls
// through function pointers into a trivial local sine model; the counter
// "ratio" is library step / baseline step.
#include <benchmark/benchmark.h>
#include <math.h>

#include <chrono>

#include "test_host.h"

namespace {

const char* const kGuid = "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}";
const fmi2ValueReference kInput1 = (5u << 24) | 1u;
const fmi2ValueReference kOutputs[2] = {(1u << 28) | (4u << 24) | 0u, (1u << 28) | (4u << 24) | 1u};
const double kStep = 1e-3;

// The trivial local model: the sine with its outputs, computed on demand.
struct LocalSine {
    double time = 0;
    double u[2] = {1, 0};
    double y[2] = {0, 0};
};

fmi2Status localSetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
    LocalSine* m = static_cast<LocalSine*>(c);
    for (size_t i = 0; i < nvr; ++i) m->u[(vr[i] & 0xFFFFFF) & 1] = value[i];
    return fmi2OK;
}

fmi2Status localDoStep(fmi2Component c, fmi2Real point, fmi2Real step, fmi2Boolean) {
    LocalSine* m = static_cast<LocalSine*>(c);
    m->time = point + step;
    const double w = sin(2 * M_PI * m->time);
    m->y[0] = m->u[1] - w;
    m->y[1] = w * m->u[0];
    return fmi2OK;
}

fmi2Status localGetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
    LocalSine* m = static_cast<LocalSine*>(c);
    for (size_t i = 0; i < nvr; ++i) value[i] = m->y[(vr[i] & 0xFFFFFF) & 1];
    return fmi2OK;
}

struct StepCalls {
    fmi2Status (*setReal)(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Real[]);
    fmi2Status (*doStep)(fmi2Component, fmi2Real, fmi2Real, fmi2Boolean);
    fmi2Status (*getReal)(fmi2Component, const fmi2ValueReference[], size_t, fmi2Real[]);
};

// n communication steps through `calls`, *step counting all steps so far;
// with `changing` the input takes a new value at every step. Returns the
// seconds taken.
double runSteps(const StepCalls& calls, fmi2Component c, double* t, int64_t n, int64_t* step, bool changing) {
    double y[2];
    const auto start = std::chrono::steady_clock::now();
    for (int64_t k = 0; k < n; ++k, ++*step) {
        const double u = changing ? 0.5 * static_cast<double>(*step & 7) : 1.5;
        calls.setReal(c, &kInput1, 1, &u);
        calls.doStep(c, *t, kStep, fmi2True);
        *t += kStep;
        calls.getReal(c, kOutputs, 2, y);
        benchmark::DoNotOptimize(y);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_PelloryCoSimulationStep(benchmark::State& state) {
    TestHost host(PELLORY_SO);
    if (!host.loaded()) {
        state.SkipWithError(host.error().c_str());
        return;
    }
    fmi2Component c = host.instantiate("bench", fmi2CoSimulation, kGuid, false);
    if (!c || host->SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0) != fmi2OK ||
        host->EnterInitializationMode(c) != fmi2OK || host->ExitInitializationMode(c) != fmi2OK) {
        state.SkipWithError("Pellory could not be initialized");
        if (c) host->FreeInstance(c);
        return;
    }
    // Function pointers into the library; the baseline's are as opaque to the compiler.
    StepCalls library{host->SetReal, host->DoStep, host->GetReal};
    StepCalls local{localSetReal, localDoStep, localGetReal};
    benchmark::DoNotOptimize(local);

    const bool changing = state.range(0) != 0;
    double t = 0;
    int64_t step = 0;
    double librarySeconds = 0;
    for (auto _ : state) librarySeconds += runSteps(library, c, &t, 1, &step, changing);
    const int64_t n = static_cast<int64_t>(state.iterations());

    LocalSine model;
    double tLocal = 0;
    int64_t localStep = 0;
    const double baselineSeconds = runSteps(local, &model, &tLocal, n, &localStep, changing);

    state.counters["library_ns"] = 1e9 * librarySeconds / static_cast<double>(n);
    state.counters["baseline_ns"] = 1e9 * baselineSeconds / static_cast<double>(n);
    state.counters["ratio"] = baselineSeconds > 0 ? librarySeconds / baselineSeconds : 0;
    host->Terminate(c);
    host->FreeInstance(c);
}

BENCHMARK(BM_PelloryCoSimulationStep)->ArgName("changing")->Arg(0)->Arg(1);

} // namespace

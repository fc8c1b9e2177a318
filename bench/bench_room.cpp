// The room library against the same equations integrated by CVODE directly,
// measured in the same run: a year at one-hour communication steps with the
// inputs held and with a new heat input at every step (the bare integration
// then re-initialises CVODE at every step, since its input jumps there too),
// a day at 60 s steps, the Model Exchange round fmi2SetTime +
// fmi2SetContinuousStates + fmi2GetDerivatives against the bare right-hand
// side, and the memory one instance holds. The counter "ratio" is library / bare.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <math.h>

#include <chrono>

#include <cvode/cvode.h>
#include <cvode/cvode_ls.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "test_host.h"
#include "vastorel.h"

namespace {

constexpr double kRtol = 1e-5;

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Heat input of communication step k when it changes at every step: a daily swing.
double heatAt(int k) { return 1000 + 600 * sin(2 * M_PI * k / 24.0); }

// ---- The bare integration: CVODE with the library's settings on the transcribed equations ----

int bareRhs(double, N_Vector y, N_Vector ydot, void* user) {
    const double* x = N_VGetArrayPointer(y);
    const RoomState d = roomDerivatives(*static_cast<Room*>(user), {x[0], x[1], x[2]});
    double* out = N_VGetArrayPointer(ydot);
    for (int i = 0; i < 3; ++i) out[i] = d[i];
    return 0;
}

// The model's indicators: pressure, T - 273.15 and T - 373.15, each twice.
int bareRoots(double, N_Vector y, double* g, void*) {
    const double* x = N_VGetArrayPointer(y);
    const double T = airTemperature({x[0], x[1], x[2]});
    const double p = x[1] / 52.5 * kR * T;
    g[0] = g[1] = p;
    g[2] = g[3] = T - 273.15;
    g[4] = g[5] = T - 373.15;
    return 0;
}

// ewt_i = 1 / (rtol |y_i| + rtol), nominal 1 as in the library.
int bareWeights(N_Vector y, N_Vector ewt, void*) {
    const double* x = N_VGetArrayPointer(y);
    double* w = N_VGetArrayPointer(ewt);
    for (int i = 0; i < 3; ++i) w[i] = 1 / (kRtol * fabs(x[i]) + kRtol);
    return 0;
}

struct Bare {
    Room room;
    SUNContext context = nullptr;
    N_Vector y = nullptr;
    SUNMatrix J = nullptr;
    SUNLinearSolver solver = nullptr;
    void* mem = nullptr;

    explicit Bare(const RoomState& x0) {
        SUNContext_Create(nullptr, &context);
        y = N_VNew_Serial(3, context);
        for (int i = 0; i < 3; ++i) NV_Ith_S(y, i) = x0[i];
        mem = CVodeCreate(CV_BDF, context);
        CVodeInit(mem, bareRhs, 0.0, y);
        CVodeSetUserData(mem, &room);
        CVodeWFtolerances(mem, bareWeights);
        CVodeSetNonlinConvCoef(mem, 0.1);
        CVodeRootInit(mem, 6, bareRoots);
        J = SUNDenseMatrix(3, 3, context);
        solver = SUNLinSol_Dense(y, J, context);
        CVodeSetLinearSolver(mem, solver, J);
        CVodeSetMaxNumSteps(mem, 100000);
        CVodeSetMaxNonlinIters(mem, 3);
        CVodeSetMaxErrTestFails(mem, 15);
    }
    ~Bare() {
        CVodeFree(&mem);
        SUNLinSolFree(solver);
        SUNMatDestroy(J);
        N_VDestroy(y);
        SUNContext_Free(&context);
    }
    Bare(const Bare&) = delete;
    Bare& operator=(const Bare&) = delete;

    // n steps of h; with `changing` a new heat input and a re-initialisation at every step.
    double run(int n, double h, bool changing) {
        double t = 0, output = 0;
        for (int k = 0; k < n; ++k) {
            if (changing) {
                room.heat = heatAt(k);
                CVodeReInit(mem, t, y);
            }
            double reached = t;
            if (CVode(mem, (k + 1) * h, y, &reached, CV_NORMAL) < 0) return -1;
            t = reached;
            output = airTemperature({NV_Ith_S(y, 0), NV_Ith_S(y, 1), NV_Ith_S(y, 2)});
            benchmark::DoNotOptimize(output);
        }
        return output;
    }
};

// ---- The library ----

// A stepping instance of the room library, initialised with `room`'s inputs.
struct Library {
    TestHost host{VASTOREL_SO};
    fmi2Component c = nullptr;

    bool start(fmi2Type type, const Room& room) {
        if (!host.loaded()) return false;
        c = host.instantiate("bench", type, kRoomGuid, false);
        return c && host->SetReal(c, &kHeatInput, 1, &room.heat) == fmi2OK &&
               host->SetReal(c, &kOutdoor, 1, &room.outdoor) == fmi2OK &&
               host->SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0) == fmi2OK &&
               host->EnterInitializationMode(c) == fmi2OK && host->ExitInitializationMode(c) == fmi2OK;
    }
    ~Library() {
        if (c) host->FreeInstance(c);
    }
    RoomState states() {
        const fmi2ValueReference vr[3] = {kState(0), kState(1), kState(2)};
        RoomState x{};
        host->GetReal(c, vr, 3, x.data());
        return x;
    }
    double run(int n, double h, bool changing) {
        double output = 0;
        for (int k = 0; k < n; ++k) {
            if (changing) {
                const double heat = heatAt(k);
                host->SetReal(c, &kHeatInput, 1, &heat);
            }
            if (host->DoStep(c, k * h, h, fmi2True) != fmi2OK) return -1;
            host->GetReal(c, &kAirTemperature, 1, &output);
            benchmark::DoNotOptimize(output);
        }
        return output;
    }
};

Room benchRoom() {
    Room room;
    room.heat = 1000;
    room.outdoor = 268.15;
    return room;
}

// Arguments: steps, step size in seconds, inputs changing (1) or held (0).
void BM_VastorelCoSimulation(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const double h = static_cast<double>(state.range(1));
    const bool changing = state.range(2) != 0;
    double librarySeconds = 0, bareSeconds = 0, difference = 0;
    for (auto _ : state) {
        Library library;
        if (!library.start(fmi2CoSimulation, benchRoom())) {
            state.SkipWithError("Vastorel could not be initialized");
            return;
        }
        Bare bare(library.states());
        bare.room = benchRoom();
        auto start = std::chrono::steady_clock::now();
        const double y = library.run(n, h, changing);
        librarySeconds += seconds(start);
        start = std::chrono::steady_clock::now();
        const double yBare = bare.run(n, h, changing);
        bareSeconds += seconds(start);
        difference = fabs(y - yBare);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["library_ms"] = 1e3 * librarySeconds / iterations;
    state.counters["bare_ms"] = 1e3 * bareSeconds / iterations;
    state.counters["ratio"] = bareSeconds > 0 ? librarySeconds / bareSeconds : 0;
    state.counters["final_dT_K"] = difference;
}

BENCHMARK(BM_VastorelCoSimulation)
    ->ArgNames({"steps", "h", "changing"})
    ->Args({8760, 3600, 0})
    ->Args({8760, 3600, 1})
    ->Args({1440, 60, 0})
    ->Unit(benchmark::kMillisecond);

// One Model Exchange round against one call of the bare right-hand side.
void BM_VastorelModelExchangeRound(benchmark::State& state) {
    Room room = benchRoom();
    Library library;
    if (!library.start(fmi2ModelExchange, room)) {
        state.SkipWithError("Vastorel could not be initialized");
        return;
    }
    fmi2EventInfo info{};
    library.host->NewDiscreteStates(library.c, &info);
    library.host->EnterContinuousTimeMode(library.c);
    RoomState x = library.states();
    double dx[3];
    double t = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        t += 1;
        x[2] += 1e-9;
        library.host->SetTime(library.c, t);
        library.host->SetContinuousStates(library.c, x.data(), 3);
        library.host->GetDerivatives(library.c, dx, 3);
        benchmark::DoNotOptimize(dx);
    }
    const double librarySeconds = seconds(start);
    RoomState (*rhs)(const Room&, const RoomState&) = roomDerivatives;
    benchmark::DoNotOptimize(rhs);
    start = std::chrono::steady_clock::now();
    for (int64_t k = 0; k < static_cast<int64_t>(state.iterations()); ++k) {
        x[2] += 1e-9;
        RoomState d = rhs(room, x);
        benchmark::DoNotOptimize(d);
    }
    const double bareSeconds = seconds(start);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["library_ns"] = 1e9 * librarySeconds / iterations;
    state.counters["bare_ns"] = 1e9 * bareSeconds / iterations;
    state.counters["ratio"] = bareSeconds > 0 ? librarySeconds / bareSeconds : 0;
}

BENCHMARK(BM_VastorelModelExchangeRound);

// Heap bytes held by one initialised instance (the host's blocks and the
// integrator's), measured for a second instance beside a first one, so that
// the calling thread's scratch buffers, which the first call creates, are not
// counted; "thread_bytes" is the heap the first instance took with them.
void BM_VastorelInstanceMemory(benchmark::State& state) {
    const fmi2Type type = state.range(0) ? fmi2CoSimulation : fmi2ModelExchange;
    TestHost host(VASTOREL_SO);
    const size_t start = mallinfo2().uordblks;
    Library first;
    if (!first.start(type, benchRoom())) {
        state.SkipWithError("Vastorel could not be initialized");
        return;
    }
    state.counters["thread_bytes"] = static_cast<double>(mallinfo2().uordblks - start);
    // Freeing an instance frees the thread's buffers too: the first pass, with them in place, counts.
    double bytes = -1;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        fmi2Component c = host.instantiate("bench", type, kRoomGuid, false);
        if (!c || host->SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0) != fmi2OK ||
            host->EnterInitializationMode(c) != fmi2OK || host->ExitInitializationMode(c) != fmi2OK) {
            state.SkipWithError("Vastorel could not be initialized");
            if (c) host->FreeInstance(c);
            return;
        }
        if (bytes < 0) bytes = static_cast<double>(mallinfo2().uordblks - before);
        host->FreeInstance(c);
    }
    state.counters["bytes"] = bytes;
}

BENCHMARK(BM_VastorelInstanceMemory)->ArgName("cosimulation")->Arg(0)->Arg(1)->Iterations(5);

} // namespace

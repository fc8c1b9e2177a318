// Instances of one library on different threads at once: every thread's run
// equals the same run alone on one thread, runtime messages reach the logger
// of their own thread's instance, and loading, using on several threads and
// unloading the library again and again leaves nothing behind.
#include <ctype.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "amat.h"
#include "event_log.h"
#include "matrix_files.h"
#include "model_interface.h"
#include "runtime.h"
#include "test_event_log_support.h"
#include "test_host.h"
#include "thread_context.h"

namespace {

constexpr int kThreads = 8;

// Host callbacks that several threads may use at once: each instance logs
// into its own record (the component environment); the block count is atomic.
std::atomic<long> liveBlocks{0};

void* allocate(size_t n, size_t size) {
    void* p = calloc(n ? n : 1, size ? size : 1);
    if (p) ++liveBlocks;
    return p;
}

void release(void* p) {
    if (!p) return;
    --liveBlocks;
    free(p);
}

void logger(fmi2ComponentEnvironment env, fmi2String name, fmi2Status status, fmi2String, fmi2String message, ...) {
    char text[8192];
    va_list args;
    va_start(args, message);
    vsnprintf(text, sizeof text, message ? message : "", args);
    va_end(args);
    static_cast<std::vector<std::string>*>(env)->push_back(std::string(statusName(status)) + "|" +
                                                           (name ? name : "<null>") + "|" + text);
}

// Starts the threads' bodies together, so that their calls overlap.
void runTogether(int n, const std::function<void(int)>& body) {
    std::atomic<int> waiting{n};
    std::vector<std::thread> threads;
    for (int k = 0; k < n; ++k)
        threads.emplace_back([&, k] {
            --waiting;
            while (waiting.load() > 0) std::this_thread::yield();
            body(k);
        });
    for (std::thread& t : threads) t.join();
}

bool loadApi(void* handle, FmiApi* api) {
    void** slots = reinterpret_cast<void**>(api);
    for (int i = 0; i < 44; ++i)
        if (!(slots[i] = dlsym(handle, kFmiFunctionNames[i]))) return false;
    return true;
}

struct Library {
    const char* name;
    const char* path;
    const char* guid;
    std::vector<fmi2ValueReference> outputs;
    size_t states;                // continuous states in Model Exchange
    fmi2ValueReference parameter; // set to base + thread index
    double base;
};

const Library kLibraries[] = {
    {"Pellory", PELLORY_SO, "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}", {ref(4, 0, 1), ref(4, 1, 1), ref(6, 0, 1)}, 0,
     ref(1, 0), 2.0},
    {"Vastorel", VASTOREL_SO, "{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}", {ref(4, 0, 1), ref(6, 0, 1)}, 3, ref(1, 1),
     295.15},
};

// Processor seconds in the integrator statistics differ from run to run:
// every number in front of " s" becomes "_".
void maskSeconds(std::string* line) {
    for (size_t at = line->find(" s"); at != std::string::npos; at = line->find(" s", at + 2)) {
        size_t begin = at;
        while (begin > 0 && (isdigit(static_cast<unsigned char>((*line)[begin - 1])) || (*line)[begin - 1] == '.'))
            --begin;
        if (begin == at) continue;
        line->replace(begin, at - begin, "_");
        at = begin + 1;
    }
}

// What one run saw: every value read, every status and every message.
struct RunRecord {
    std::vector<double> values;
    std::vector<int> statuses;
    std::vector<std::string> log;
};

// One instance's life, the same for a given thread index k whichever thread
// runs it: set-up, 40 steps with inputs set and outputs read, a state saved at
// step 10 and restored at step 25 (also through its serialized image).
RunRecord runScript(const FmiApi& api, const Library& lib, fmi2Type type, int k) {
    RunRecord r;
    const fmi2CallbackFunctions callbacks{logger, allocate, release, nullptr, &r.log};
    const std::string name = "t" + std::to_string(k);
    fmi2Component c = api.Instantiate(name.c_str(), type, lib.guid, "file:///tmp/resources", &callbacks, fmi2False,
                                      fmi2True);
    if (!c) return RunRecord{{}, {-1}, r.log};
    auto st = [&](fmi2Status s) { r.statuses.push_back(s); };
    auto eventIteration = [&](fmi2EventInfo* info) {
        info->newDiscreteStatesNeeded = fmi2True;
        for (int n = 0; n < 20 && info->newDiscreteStatesNeeded; ++n) st(api.NewDiscreteStates(c, info));
    };
    st(api.SetupExperiment(c, fmi2False, 0, 0.0, fmi2True, 2.0));
    const double p = lib.base + k;
    st(api.SetReal(c, &lib.parameter, 1, &p));
    st(api.EnterInitializationMode(c));
    st(api.ExitInitializationMode(c));
    fmi2EventInfo info{};
    if (type == fmi2ModelExchange) {
        eventIteration(&info);
        st(api.EnterContinuousTimeMode(c));
    }
    const fmi2ValueReference inputs[2] = {ref(5, 0), ref(5, 1)};
    double t = 0, savedTime = 0;
    const double h = 0.05;
    fmi2FMUstate saved = nullptr;
    for (int i = 0; i < 40; ++i) {
        const double u[2] = {1 + 0.1 * k + 0.01 * i, -2 + 0.2 * k - 0.03 * i};
        st(api.SetReal(c, inputs, 2, u));
        if (type == fmi2CoSimulation) {
            st(api.DoStep(c, t, h, fmi2True));
            t += h;
        } else {
            t += h;
            st(api.SetTime(c, t));
            double x[3] = {}, dx[3] = {};
            if (lib.states) {
                st(api.GetContinuousStates(c, x, lib.states));
                st(api.GetDerivatives(c, dx, lib.states));
                for (size_t j = 0; j < lib.states; ++j) x[j] += h * dx[j];
                st(api.SetContinuousStates(c, x, lib.states));
                r.values.insert(r.values.end(), x, x + lib.states);
            }
            fmi2Boolean enterEvent = fmi2False, terminate = fmi2False;
            st(api.CompletedIntegratorStep(c, fmi2True, &enterEvent, &terminate));
            if (enterEvent || (info.nextEventTimeDefined && info.nextEventTime <= t)) {
                st(api.EnterEventMode(c));
                eventIteration(&info);
                st(api.EnterContinuousTimeMode(c));
            }
        }
        std::vector<double> y(lib.outputs.size());
        st(api.GetReal(c, lib.outputs.data(), y.size(), y.data()));
        r.values.insert(r.values.end(), y.begin(), y.end());
        if (i == 10) {
            st(api.GetFMUstate(c, &saved));
            savedTime = t;
        }
        if (i == 25) {
            st(api.SetFMUstate(c, saved));
            size_t size = 0;
            st(api.SerializedFMUstateSize(c, saved, &size));
            std::vector<fmi2Byte> image(size);
            st(api.SerializeFMUstate(c, saved, image.data(), size));
            fmi2FMUstate copy = nullptr;
            st(api.DeSerializeFMUstate(c, image.data(), size, &copy));
            st(api.SetFMUstate(c, copy));
            st(api.FreeFMUstate(c, &copy));
            t = savedTime;
        }
    }
    st(api.Terminate(c));
    st(api.FreeFMUstate(c, &saved));
    api.FreeInstance(c);
    for (std::string& line : r.log) maskSeconds(&line);
    return r;
}

class ThreadedInstances : public ::testing::TestWithParam<std::tuple<int, fmi2Type>> {};

TEST_P(ThreadedInstances, EveryThreadMatchesItsRunAlone) {
    const Library& lib = kLibraries[std::get<0>(GetParam())];
    const fmi2Type type = std::get<1>(GetParam());
    void* handle = dlopen(lib.path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    FmiApi api{};
    ASSERT_TRUE(loadApi(handle, &api));
    liveBlocks = 0;
    std::vector<RunRecord> alone;
    for (int k = 0; k < kThreads; ++k) alone.push_back(runScript(api, lib, type, k));
    for (int k = 0; k < kThreads; ++k) {
        ASSERT_FALSE(alone[k].log.empty());
        for (const std::string& line : alone[k].log)
            ASSERT_NE(line.find("|t" + std::to_string(k) + "|"), std::string::npos) << line;
        for (int s : alone[k].statuses) ASSERT_LE(s, fmi2Warning) << "the run itself must succeed";
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<RunRecord> together(kThreads);
        runTogether(kThreads, [&](int k) { together[k] = runScript(api, lib, type, k); });
        for (int k = 0; k < kThreads; ++k) {
            EXPECT_EQ(together[k].values, alone[k].values) << "thread " << k;
            EXPECT_EQ(together[k].statuses, alone[k].statuses) << "thread " << k;
            EXPECT_EQ(together[k].log, alone[k].log) << "thread " << k;
        }
    }
    EXPECT_EQ(liveBlocks.load(), 0);
    dlclose(handle);
}

INSTANTIATE_TEST_SUITE_P(Libraries, ThreadedInstances,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values(fmi2ModelExchange, fmi2CoSimulation)),
                         [](const auto& info) {
                             return std::string(kLibraries[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) == fmi2CoSimulation ? "_CS" : "_ME");
                         });

// The test model linked into this program: its equations name their instance's
// parameter in a runtime message and fail with a runtime error when input 1 is
// negative, so both kinds of runtime output travel through the routing.
// Each evaluation also writes one line of the process's event log.
std::atomic<int> eventLogLines{0};

int routingEquations(int* level, int*, double*, double*, double*, double* inputs, double* parameters, int*, int*,
                     double*, double* outputs, double*, double*, ModelTimeData*, ModelFlags* flags, char**,
                     ModelData*, int*) {
    if (*level < 1) return 0;
    char text[64];
    snprintf(text, sizeof text, "instance %g", parameters[0]);
    flags[kFlagWord] |= kFlagsLogEvents;
    eventLogRegisterExpression(1, text, text);
    eventLogWrite(-1, 0.0, 4, text, 1, 0.0);
    flags[kFlagWord] &= ~kFlagsLogEvents;
    ++eventLogLines;
    runtimeMessage(text);
    if (inputs[1] < 0) runtimeError(text);
    outputs[0] = 100 * parameters[0] + inputs[0];
    return 0;
}

TEST(ThreadedRouting, RuntimeMessagesReachTheInstanceOfTheirThread) {
    const ModelTable savedTable = modelTable;
    modelTable.modelEquations = routingEquations;
    ScratchDirectory directory;
    resetEventLog();
    eventLogLines = 0;
    const FmiApi api = linkedFmiApi();
    liveBlocks = 0;
    std::vector<std::vector<std::string>> logs(kThreads);
    std::vector<int> wrongOutputs(kThreads, 0);
    runTogether(kThreads, [&](int k) {
        const fmi2CallbackFunctions callbacks{logger, allocate, release, nullptr, &logs[k]};
        fmi2Component c = api.Instantiate("r", fmi2ModelExchange, MODEL_GUID, nullptr, &callbacks, fmi2False,
                                          fmi2True);
        if (!c) return;
        const fmi2ValueReference p0 = ref(1, 0), u[2] = {ref(5, 0), ref(5, 1)}, y0 = ref(4, 0, 1);
        const double p = k;
        api.SetReal(c, &p0, 1, &p);
        api.SetupExperiment(c, fmi2False, 0, 0.0, fmi2False, 0);
        api.EnterInitializationMode(c);
        api.ExitInitializationMode(c);
        fmi2EventInfo info{};
        api.NewDiscreteStates(c, &info);
        api.EnterContinuousTimeMode(c);
        for (int i = 0; i < 200; ++i) {
            const double inputs[2] = {static_cast<double>(i), i % 10 == 9 ? -1.0 : 1.0};
            api.SetReal(c, u, 2, inputs);
            double y = 0;
            const fmi2Status status = api.GetReal(c, &y0, 1, &y);
            if (i % 10 != 9 && (status != fmi2OK || y != 100 * k + i)) ++wrongOutputs[k];
        }
        api.FreeInstance(c);
    });
    modelTable = savedTable;
    for (int k = 0; k < kThreads; ++k) {
        EXPECT_EQ(wrongOutputs[k], 0) << "thread " << k;
        // Every runtime message names the thread's own instance: one per
        // evaluation, and the error text of each of the 20 failing calls.
        int messages = 0, errors = 0;
        for (const std::string& line : logs[k]) {
            const size_t at = line.find("|instance ");
            if (at == std::string::npos) continue;
            EXPECT_EQ(line.substr(at), "|instance " + std::to_string(k)) << "thread " << k;
            ++(line.compare(0, 6, "Error|") == 0 ? errors : messages);
        }
        EXPECT_GE(messages, 180) << "thread " << k;
        EXPECT_EQ(errors, 20) << "thread " << k;
    }
    EXPECT_EQ(liveBlocks.load(), 0);
    // The event log holds every evaluation's line, whole.
    std::istringstream log(directory.read("eventlog.txt"));
    std::string line;
    int lines = 0;
    while (std::getline(log, line))
        if (line.size() == 19 && line.compare(0, 13, "0;4;instance ") == 0 && line.compare(14, 5, ";true") == 0)
            ++lines;
    EXPECT_EQ(lines, eventLogLines.load());
    resetEventLog();
}

// The texts of string tables are kept in one set for the whole library: a
// thread that reads a table whose texts are kept already (a lookup) while
// another reads tables of new texts (insertions that grow the set) must see
// its own rows, and ThreadSanitizer must see no race.
TEST(ThreadedTables, KeptTextsAreReadAndAddedOnTwoThreads) {
    ScratchDirectory directory;
    ASSERT_TRUE(directory.ok());
    const int kTables = 20;
    const int kRows = 200;
    auto rowText = [](int table, int row) { return "table " + std::to_string(table) + " row " + std::to_string(row); };
    AmatPutFile out;
    ASSERT_EQ(amatPutOpen("tables.mat", amatBinaryFormat, binNormal, "", "", "", &out), 0);
    for (int t = 0; t <= kTables; ++t) {
        std::vector<std::string> texts;
        for (int r = 0; r < kRows; ++r) texts.push_back(rowText(t, r));
        std::vector<char*> rows;
        for (std::string& text : texts) rows.push_back(&text[0]);
        const std::string name = "t" + std::to_string(t);
        AmatMatrix m;
        amatSetMatrix(const_cast<char*>(name.c_str()), kRows, static_cast<int32_t>(texts.back().size()), charMatrix,
                      rows.data(), &m);
        ASSERT_EQ(amatPutMatrix(&out, &m), 0);
    }
    ASSERT_EQ(amatPutClose(&out), 0);
    // Table 0 is kept before the threads start; thread 0 reads it again and
    // again, thread 1 reads tables 1 to 20 once each.
    readStringParameterArray("tables.mat", "t0", 1);
    std::atomic<int> wrongRows{0};
    runTogether(2, [&](int k) {
        for (int n = 1; n <= kTables; ++n) {
            const int table = k == 0 ? 0 : n;
            const SavedMarks marks = PushMark();
            const StringArray rows = readStringParameterArray("tables.mat", ("t" + std::to_string(table)).c_str(), 1);
            for (int r = 0; r < kRows; ++r)
                if (rows.dims[0] != kRows || std::string(rows.data[r]) != rowText(table, r)) ++wrongRows;
            PopMark(marks);
        }
    });
    EXPECT_EQ(wrongRows.load(), 0);
}

// Loads the library, uses it on several threads and unloads it, again and
// again. Half of the threads end before the unloading and free their own
// records; the others are still running when the library goes away, and the
// unloading frees theirs. Under LeakSanitizer nothing may be left behind.
TEST(ThreadedUnload, EveryThreadsRecordIsFreed) {
    const Library& lib = kLibraries[0];
    for (int cycle = 0; cycle < 4; ++cycle) {
        void* handle = dlopen(lib.path, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        FmiApi api{};
        ASSERT_TRUE(loadApi(handle, &api));
        std::mutex lock;
        std::condition_variable unloaded;
        bool gone = false;
        std::atomic<int> used{0};
        std::vector<std::thread> threads;
        for (int k = 0; k < 4; ++k)
            threads.emplace_back([&, k] {
                runScript(api, lib, fmi2CoSimulation, k);
                ++used;
                if (k % 2 == 0) return;
                std::unique_lock<std::mutex> guard(lock);
                unloaded.wait(guard, [&] { return gone; });
            });
        threads[0].join();
        threads[2].join();
        while (used.load() < 4) std::this_thread::yield();
        dlclose(handle);
        EXPECT_EQ(dlopen(lib.path, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the library stayed loaded";
        {
            std::lock_guard<std::mutex> guard(lock);
            gone = true;
        }
        unloaded.notify_all();
        threads[1].join();
        threads[3].join();
    }
}

} // namespace

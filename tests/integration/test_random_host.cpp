// A host that calls the FMI functions in random order with hostile numbers
// (NaN, infinities, the largest and the smallest doubles, -0.0, times far from
// the instance's, counts and value references past the ends), always with
// valid pointers. Each sequence of calls runs in a forked child under an alarm
// that every call re-arms: a hang, a crash, a block of the host's allocator
// left over or freed twice, or (under the sanitizers) a leak fails the test
// and prints the seed and the calls.
//
// FMU_RANDOM_SEQUENCES (per test), FMU_RANDOM_SEED (first seed) and
// FMU_RANDOM_CALLS (calls per sequence) change the run; scripts/random-host
// runs a long one.
#include <gtest/gtest.h>

#include <float.h>
#include <limits.h>
#include <math.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "test_host.h"

#if FMU_SANITIZED
#include <sanitizer/lsan_interface.h>
#endif

namespace {

struct Library {
    const char* name;
    const char* path;
    const char* guid;
};

// The libraries under test.
const Library kLibraries[] = {{"Pellory", PELLORY_SO, "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}"},
                              {"Vastorel", VASTOREL_SO, "{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}"}};
const int kShards = 8;

long fromEnvironment(const char* name, long fallback) {
    const char* text = getenv(name);
    return text && *text ? strtol(text, nullptr, 10) : fallback;
}

// Seconds one call may take (a step to 1e300 with the full step budget of the
// integrator stays far below).
const unsigned kCallSeconds = FMU_SANITIZED ? 60 : 10;

// ---- What the child shares with the parent: the calls made so far ----

const size_t kCallLogSize = 1 << 20;
struct CallLog {
    size_t used;
    char text[kCallLogSize];
};
CallLog* callLog = nullptr;

void record(const char* format, ...) {
    if (callLog->used + 512 >= kCallLogSize) return;
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(callLog->text + callLog->used, 510, format, args);
    va_end(args);
    if (n > 0) callLog->used += static_cast<size_t>(n < 509 ? n : 509);
    callLog->text[callLog->used++] = '\n';
    callLog->text[callLog->used] = '\0';
}

// ---- The host's callbacks in the child ----

std::unordered_set<void*>* liveBlocks = nullptr;
long allocatorMisuse = 0;

void* allocateBlock(size_t n, size_t size) {
    if (n > 0 && size > (size_t{1} << 26) / n) return nullptr; // a host may refuse a huge request
    void* p = calloc(n ? n : 1, size ? size : 1);
    if (p) liveBlocks->insert(p);
    return p;
}

void freeBlock(void* p) {
    if (!p) return;
    if (liveBlocks->erase(p) == 0) {
        ++allocatorMisuse; // not ours, or freed before
        return;
    }
    free(p);
}

void formatMessage(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String message, ...) {
    // Formatted as a real host does, then dropped.
    char buffer[8192];
    va_list args;
    va_start(args, message);
    vsnprintf(buffer, sizeof buffer, message ? message : "", args);
    va_end(args);
}

// ---- Hostile arguments ----

const double kHostile[] = {NAN, INFINITY, -INFINITY, 1e308, -1e308, DBL_MAX, -DBL_MAX, DBL_MIN, 4.9e-324,
                           -4.9e-324, -0.0, 0.0, 1e-300, 1e300, -1e300, 1.0, -1.0, 0.5, 2.0, 1e6, -588672.5};

class Sequence {
public:
    Sequence(const FmiApi& api, const Library& library, unsigned seed) : api_(api), library_(library), rng_(seed) {
        callbacks_.logger = formatMessage;
        callbacks_.allocateMemory = allocateBlock;
        callbacks_.freeMemory = freeBlock;
        callbacks_.stepFinished = nullptr;
        callbacks_.componentEnvironment = nullptr;
    }

    void run(long calls) {
        for (int i = 0; i < 2; ++i) {
            instantiate(i, i == 0 ? fmi2ModelExchange : fmi2CoSimulation);
            if (pick(4) != 0) bringUp(i);
        }
        for (long call = 0; call < calls; ++call) {
            alarm(kCallSeconds);
            oneCall();
        }
        alarm(kCallSeconds);
        fmi2Component owner = instances_[0] ? instances_[0] : instances_[1];
        for (fmi2FMUstate& s : states_) {
            record("FreeFMUstate(c%d, s)", owner == instances_[0] ? 0 : 1);
            api_.FreeFMUstate(owner, &s);
        }
        for (int i = 0; i < 2; ++i) {
            record("FreeInstance(c%d)", i);
            api_.FreeInstance(instances_[i]);
        }
    }

private:
    unsigned pick(unsigned n) { return static_cast<unsigned>(rng_() % n); }

    double hostile() { return kHostile[pick(sizeof kHostile / sizeof kHostile[0])]; }

    // An ordinary value most of the time, else a hostile one.
    double number() { return pick(3) == 0 ? hostile() : static_cast<double>(pick(2001)) / 100.0 - 10.0; }

    // 10^k for k in [-300, 300], either sign.
    double magnitude() { return (pick(2) ? 1.0 : -1.0) * pow(10.0, static_cast<double>(pick(601)) - 300.0); }

    int integer() {
        static const int extremes[] = {INT_MIN, INT_MAX, -1, 0, 1, 2, 1000000};
        return pick(3) == 0 ? extremes[pick(7)] : static_cast<int>(pick(11)) - 5;
    }

    // A count within the arrays of this host, often past the model's ends.
    size_t count() { return pick(4) == 0 ? pick(kArray + 1) : pick(4); }

    fmi2ValueReference reference() {
        if (pick(20) == 0) return 0xFFFFFFFFu; // the time
        static const unsigned farIndices[] = {0xFFFFFFu, 1000u, 189u, 24u};
        const unsigned index = pick(4) == 0 ? farIndices[pick(4)] : pick(10);
        return ref(pick(16), index, pick(4) == 0 ? pick(16) : pick(6));
    }

    // A communication point: mostly the instance's time, else off by a small or a huge amount.
    double point(double t) {
        switch (pick(8)) {
        case 0: return t + magnitude();
        case 1: return t + (pick(2) ? 1 : -1) * (fabs(t) + 1) * 1e-16 * pick(20);
        case 2: return hostile();
        default: return t;
        }
    }

    // A step size: mostly ordinary, else anything from 1e-300 to 1e300, or hostile.
    double stepSize() {
        switch (pick(8)) {
        case 0: return magnitude();
        case 1: return fabs(magnitude());
        case 2: return hostile();
        default: return 0.05 * pick(5);
        }
    }

    void instantiate(int i, fmi2Type type) {
        static const char* const names[] = {"a", "", "a very long instance name with blanks and !\"#$%&'()*+"};
        static const char* const resources[] = {"file:///tmp/resources", "", "file:/", "http://x/y"};
        const char* name = names[pick(3)];
        const char* resource = resources[pick(4)];
        const bool logging = pick(2) == 0;
        record("Instantiate(c%d, \"%s\", %s, \"%s\", logging %d)", i, name, type == fmi2CoSimulation ? "CS" : "ME",
               resource, logging);
        instances_[i] = api_.Instantiate(name, type, library_.guid, resource, &callbacks_, fmi2False, logging);
        types_[i] = type;
        time_[i] = 0;
        if (!instances_[i]) {
            // Whatever refused the arguments, the sequence goes on with plain ones.
            record("Instantiate(c%d, \"c\", %s, \"file:///tmp/resources\")", i, type == fmi2CoSimulation ? "CS" : "ME");
            instances_[i] = api_.Instantiate("c", type, library_.guid, "file:///tmp/resources", &callbacks_, fmi2False,
                                             fmi2False);
        }
    }

    // Set-up and initialization, so that the calls that follow find the
    // instance stepping (or in event mode) more often than chance would.
    void bringUp(int i) {
        const double start = pick(3) == 0 ? number() : 0.0;
        const int stopDefined = pick(4) == 0;
        const double stop = start + fabs(magnitude());
        record("SetupExperiment(c%d, 0, 0, %.17g, %d, %.17g); EnterInitializationMode; ExitInitializationMode", i,
               start, stopDefined, stop);
        api_.SetupExperiment(instances_[i], fmi2False, 0, start, stopDefined, stop);
        time_[i] = start;
        api_.EnterInitializationMode(instances_[i]);
        api_.ExitInitializationMode(instances_[i]);
    }

    // The instance's time as the library reports it (Co-Simulation only).
    void followTime(int i) {
        fmi2Real last = 0;
        if (api_.GetRealStatus(instances_[i], fmi2LastSuccessfulTime, &last) == fmi2OK) time_[i] = last;
    }

    void references(size_t n) {
        for (size_t k = 0; k < n; ++k) vr_[k] = reference();
    }

    // The first n elements, comma-separated, each printed with `format`.
    template <typename T>
    static std::string joined(const T* items, size_t n, const char* format) {
        std::string text;
        char item[40];
        for (size_t k = 0; k < n; ++k) {
            snprintf(item, sizeof item, format, k ? "," : "", items[k]);
            text += item;
        }
        return text;
    }
    std::string list(size_t n) const { return joined(vr_, n, "%s0x%08x"); }
    static std::string numbers(const double* values, size_t n) { return joined(values, n, "%s%.17g"); }

    void oneCall() {
        int i = static_cast<int>(pick(2));
        fmi2Component c = instances_[i];
        const size_t n = count();
        references(n);
        for (size_t k = 0; k < kArray; ++k) {
            real_[k] = number();
            int_[k] = integer();
        }
        switch (pick(40)) {
        case 0: {
            record("FreeInstance(c%d)", i);
            api_.FreeInstance(c);
            instantiate(i, pick(2) ? fmi2CoSimulation : fmi2ModelExchange);
            break;
        }
        case 1: {
            const int toleranceDefined = static_cast<int>(pick(2)), stopDefined = static_cast<int>(pick(2));
            const double tolerance = number(), start = pick(2) ? 0.0 : number(), stop = number();
            record("SetupExperiment(c%d, %d, %.17g, %.17g, %d, %.17g)", i, toleranceDefined, tolerance, start,
                   stopDefined, stop);
            api_.SetupExperiment(c, toleranceDefined, tolerance, start, stopDefined, stop);
            time_[i] = start;
            break;
        }
        case 2:
        case 3:
            record("EnterInitializationMode(c%d)", i);
            api_.EnterInitializationMode(c);
            break;
        case 4:
        case 5:
            record("ExitInitializationMode(c%d)", i);
            api_.ExitInitializationMode(c);
            break;
        case 28:
        case 29: {
            record("Reset(c%d)", i);
            api_.Reset(c);
            bringUp(i);
            break;
        }
        case 6:
            record("Terminate(c%d)", i);
            api_.Terminate(c);
            break;
        case 7:
            record("Reset(c%d)", i);
            api_.Reset(c);
            break;
        case 8:
            record("GetReal(c%d, [%s])", i, list(n).c_str());
            api_.GetReal(c, vr_, n, real_);
            break;
        case 9:
            record("SetReal(c%d, [%s], [%s])", i, list(n).c_str(), numbers(real_, n).c_str());
            api_.SetReal(c, vr_, n, real_);
            break;
        case 10:
            record("GetInteger/GetBoolean(c%d, [%s])", i, list(n).c_str());
            api_.GetInteger(c, vr_, n, int_);
            api_.GetBoolean(c, vr_, n, int_);
            break;
        case 11:
            record("SetInteger/SetBoolean(c%d, [%s], first %d)", i, list(n).c_str(), n ? int_[0] : 0);
            if (pick(2))
                api_.SetInteger(c, vr_, n, int_);
            else
                api_.SetBoolean(c, vr_, n, int_);
            break;
        case 12: {
            static const std::string longText(700, 'x');
            fmi2String texts[kArray];
            for (size_t k = 0; k < kArray; ++k) texts[k] = pick(4) == 0 ? longText.c_str() : (pick(2) ? "" : "s");
            record("SetString/GetString(c%d, [%s])", i, list(n).c_str());
            api_.SetString(c, vr_, n, texts);
            api_.GetString(c, vr_, n, texts);
            break;
        }
        case 13: {
            fmi2FMUstate s = nullptr;
            record("GetFMUstate(c%d)", i);
            if (api_.GetFMUstate(c, &s) == fmi2OK && s) states_.push_back(s);
            break;
        }
        case 14:
            if (states_.empty()) break;
            {
                const size_t k = pick(static_cast<unsigned>(states_.size()));
                record("SetFMUstate(c%d, state %zu)", i, k);
                api_.SetFMUstate(c, states_[k]);
                if (pick(2)) followTime(i);
            }
            break;
        case 15:
            if (states_.empty()) break;
            {
                const size_t k = pick(static_cast<unsigned>(states_.size()));
                record("FreeFMUstate(c%d, state %zu)", i, k);
                api_.FreeFMUstate(c, &states_[k]);
                states_.erase(states_.begin() + static_cast<long>(k));
            }
            break;
        case 16:
            if (states_.empty()) break;
            {
                const size_t k = pick(static_cast<unsigned>(states_.size()));
                size_t size = 0;
                record("SerializeFMUstate(c%d, state %zu)", i, k);
                if (api_.SerializedFMUstateSize(c, states_[k], &size) == fmi2OK && size < (1u << 24)) {
                    image_.assign(size, 0);
                    api_.SerializeFMUstate(c, states_[k], image_.data(), size);
                }
            }
            break;
        case 17:
            if (image_.empty()) break;
            {
                const bool flip = pick(3) == 0;
                const size_t at = pick(static_cast<unsigned>(image_.size()));
                const char mask = static_cast<char>(1 + pick(255));
                if (flip) image_[at] ^= mask;
                const size_t size = pick(2) ? image_.size() : pick(static_cast<unsigned>(image_.size()) + 1);
                record("DeSerializeFMUstate(c%d, %zu of %zu bytes, byte %zu ^ %d)", i, size, image_.size(),
                       flip ? at : 0, flip ? mask : 0);
                fmi2FMUstate s = nullptr;
                if (api_.DeSerializeFMUstate(c, image_.data(), size, &s) == fmi2OK && s) states_.push_back(s);
            }
            break;
        case 18: {
            fmi2EventInfo info{};
            record("EnterEventMode/NewDiscreteStates(c%d)", i);
            if (pick(2)) api_.EnterEventMode(c);
            api_.NewDiscreteStates(c, &info);
            break;
        }
        case 19:
            record("EnterContinuousTimeMode(c%d)", i);
            api_.EnterContinuousTimeMode(c);
            break;
        case 20: {
            const double t = pick(2) ? time_[i] + 0.05 * pick(5) : point(time_[i]);
            record("SetTime(c%d, %.17g)", i, t);
            if (api_.SetTime(c, t) == fmi2OK) time_[i] = t;
            break;
        }
        case 21:
            record("SetContinuousStates/GetContinuousStates/GetNominals(c%d, %zu, [%s])", i, n,
                   numbers(real_, n).c_str());
            api_.SetContinuousStates(c, real_, n);
            api_.GetContinuousStates(c, real_, n);
            api_.GetNominalsOfContinuousStates(c, real_, n);
            break;
        case 22:
            record("GetDerivatives/GetEventIndicators(c%d, %zu)", i, n);
            api_.GetDerivatives(c, real_, n);
            api_.GetEventIndicators(c, real_, n);
            break;
        case 23: {
            fmi2Boolean enterEventMode = 0, terminate = 0;
            record("CompletedIntegratorStep(c%d)", i);
            api_.CompletedIntegratorStep(c, pick(2), &enterEventMode, &terminate);
            break;
        }
        case 24:
            record("SetRealInputDerivatives/GetRealOutputDerivatives(c%d, [%s], orders from %d)", i, list(n).c_str(),
                   n ? int_[0] : 0);
            api_.SetRealInputDerivatives(c, vr_, n, int_, real_);
            api_.GetRealOutputDerivatives(c, vr_, n, int_, real_);
            break;
        case 25: {
            const size_t m = count();
            record("GetDirectionalDerivative(c%d, [%s], %zu)", i, list(n).c_str(), m);
            api_.GetDirectionalDerivative(c, vr_, n, vr_, m, real_, real_ + kArray / 2);
            break;
        }
        case 26: {
            fmi2Status status = fmi2OK;
            fmi2Real r = 0;
            fmi2Integer k = 0;
            fmi2Boolean b = 0;
            fmi2String text = nullptr;
            const fmi2StatusKind kind = static_cast<fmi2StatusKind>(pick(5));
            record("status queries(c%d, kind %d), CancelStep", i, static_cast<int>(kind));
            api_.GetStatus(c, kind, &status);
            api_.GetRealStatus(c, kind, &r);
            api_.GetIntegerStatus(c, kind, &k);
            api_.GetBooleanStatus(c, kind, &b);
            api_.GetStringStatus(c, kind, &text);
            api_.CancelStep(c);
            break;
        }
        case 27:
            record("SetDebugLogging(c%d)", i);
            api_.SetDebugLogging(c, pick(2), 0, nullptr);
            break;
        default: {
            // Mostly on a Co-Simulation instance, now and then freshly initialized.
            if (types_[i] != fmi2CoSimulation && types_[1 - i] == fmi2CoSimulation && pick(4) != 0) {
                i = 1 - i;
                c = instances_[i];
            }
            if (pick(6) == 0) {
                record("Reset(c%d)", i);
                api_.Reset(c);
                bringUp(i);
            }
            const double h = stepSize();
            const double at = point(time_[i]);
            const int noPrior = static_cast<int>(pick(2));
            record("DoStep(c%d, %.17g, %.17g, %d)", i, at, h, noPrior);
            api_.DoStep(c, at, h, noPrior);
            followTime(i);
            break;
        }
        }
    }

    static const size_t kArray = 64;
    const FmiApi& api_;
    const Library& library_;
    std::mt19937 rng_;
    fmi2CallbackFunctions callbacks_{};
    fmi2Component instances_[2] = {nullptr, nullptr};
    fmi2Type types_[2] = {fmi2ModelExchange, fmi2CoSimulation};
    double time_[2] = {0, 0};
    std::vector<fmi2FMUstate> states_;
    std::vector<char> image_;
    fmi2ValueReference vr_[kArray] = {};
    double real_[kArray] = {};
    fmi2Integer int_[kArray] = {};
};

enum ChildExit { exitClean = 0, exitBlocksLeft = 10, exitMisuse = 11, exitLeak = 12 };

// Runs one sequence in the child; never returns.
[[noreturn]] void runChild(const FmiApi& api, const Library& library, unsigned seed, long calls) {
    std::unordered_set<void*> blocks;
    liveBlocks = &blocks;
    {
        Sequence sequence(api, library, seed);
        sequence.run(calls);
    }
    alarm(0);
    int code = exitClean;
    if (allocatorMisuse != 0)
        code = exitMisuse;
    else if (!blocks.empty())
        code = exitBlocksLeft;
#if FMU_SANITIZED
    else if (__lsan_do_recoverable_leak_check() != 0)
        code = exitLeak;
#endif
    _exit(code);
}

// Why a child failed, or empty when it did not.
std::string outcome(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGALRM) return "a call did not return within " + std::to_string(kCallSeconds) + " s";
        return std::string("crashed with signal ") + strsignal(signal);
    }
    switch (WEXITSTATUS(status)) {
    case exitClean: return "";
    case exitBlocksLeft: return "blocks of the host's allocator were left allocated";
    case exitMisuse: return "the library freed a block the host's allocator did not hand out (or freed it twice)";
    case exitLeak: return "memory of the process heap leaked";
    default: return "exited with code " + std::to_string(WEXITSTATUS(status));
    }
}

class RandomHost : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(RandomHost, AnyCallOrderIsSafe) {
    const Library& library = kLibraries[std::get<0>(GetParam())];
    const int shard = std::get<1>(GetParam());
    const long sequences = fromEnvironment("FMU_RANDOM_SEQUENCES", FMU_SANITIZED ? 20 : 200);
    const long calls = fromEnvironment("FMU_RANDOM_CALLS", 150);
    const long firstSeed = fromEnvironment("FMU_RANDOM_SEED", 1) + shard * sequences;

    TestHost host(library.path);
    ASSERT_TRUE(host.loaded()) << host.error();
    void* shared = mmap(nullptr, sizeof(CallLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    callLog = static_cast<CallLog*>(shared);
    int failures = 0;
    for (long k = 0; k < sequences && failures < 3; ++k) {
        const unsigned seed = static_cast<unsigned>(firstSeed + k);
        callLog->used = 0;
        callLog->text[0] = '\0';
        fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) runChild(host.api(), library, seed, calls);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const std::string failure = outcome(status);
        if (failure.empty()) continue;
        ++failures;
        ADD_FAILURE() << library.name << ", seed " << seed << ": " << failure
                      << "\nreproduce with FMU_RANDOM_SEED=" << seed
                      << " FMU_RANDOM_SEQUENCES=1 integration_tests --gtest_filter='Libraries/RandomHost.*/"
                      << library.name << "_shard0'\ncalls:\n"
                      << callLog->text;
    }
    munmap(shared, sizeof(CallLog));
    callLog = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Libraries, RandomHost,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(sizeof kLibraries / sizeof kLibraries[0])),
                                            ::testing::Range(0, kShards)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return std::string(kLibraries[std::get<0>(info.param)].name) + "_shard" +
                                    std::to_string(std::get<1>(info.param));
                         });

} // namespace

// Loading, instantiating and freeing both FMUs through our own host.
#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>
#include <ostream>
#include <set>
#include <string>

#include "pellory.h"
#include "test_host.h"

namespace {

const char* const kPelloryGuid = "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}";
const char* const kVastorelGuid = "{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}";

struct Fmu {
    const char* path;
    const char* guid;
};
void PrintTo(const Fmu& fmu, std::ostream* os) { *os << fmu.guid; }

const Fmu kFmus[] = {{PELLORY_SO, kPelloryGuid}, {VASTOREL_SO, kVastorelGuid}};

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
    return out;
}

class Instantiate : public ::testing::TestWithParam<Fmu> {
protected:
    void SetUp() override {
        TestHost::allocator = CountingAllocator{};
        host_ = std::make_unique<TestHost>(GetParam().path);
        ASSERT_TRUE(host_->loaded()) << host_->error();
    }
    void TearDown() override { EXPECT_EQ(TestHost::allocator.live, 0) << "blocks still live"; }
    TestHost& host() { return *host_; }
    std::unique_ptr<TestHost> host_;
};

TEST_P(Instantiate, ExportsExactlyTheFmiFunctions) {
    std::string symbols = run(std::string("nm -D --defined-only ") + GetParam().path + " | awk '{print $3}'");
    std::set<std::string> exported;
    size_t start = 0;
    while (start < symbols.size()) {
        size_t end = symbols.find('\n', start);
        std::string name = symbols.substr(start, end - start);
        if (!name.empty()) exported.insert(name);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::set<std::string> expected(kFmiFunctionNames, kFmiFunctionNames + 44);
    EXPECT_EQ(exported, expected);
}

TEST_P(Instantiate, DependsOnlyOnTheCAndCxxRuntimes) {
    if (FMU_SANITIZED) GTEST_SKIP() << "sanitizer runtimes are linked in this build";
    std::string deps = run(std::string("ldd ") + GetParam().path);
    const char* allowed[] = {"linux-vdso", "libstdc++", "libgcc_s", "libc.so", "libm.so", "ld-linux"};
    size_t start = 0;
    while (start < deps.size()) {
        size_t end = deps.find('\n', start);
        std::string line = deps.substr(start, end - start);
        bool ok = line.find_first_not_of(" \t") == std::string::npos;
        for (const char* a : allowed) ok = ok || line.find(a) != std::string::npos;
        EXPECT_TRUE(ok) << "unexpected dependency: " << line;
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

TEST_P(Instantiate, VersionAndPlatform) {
    EXPECT_STREQ(host()->GetVersion(), "2.0");
    EXPECT_STREQ(host()->GetTypesPlatform(), "default");
}

TEST_P(Instantiate, ModelExchangeAndCoSimulationLogAndFreeEverything) {
    fmi2Component me = host().instantiate("me", fmi2ModelExchange, GetParam().guid);
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(host().logText(), "OK|me|fmi2Instantiate completed\n");
    host().clearLog();
    fmi2Component cs = host().instantiate("cs", fmi2CoSimulation, GetParam().guid);
    ASSERT_NE(cs, nullptr);
    EXPECT_EQ(host().logText(), "OK|cs|fmi2Instantiate completed\nOK|cs|fmi2Instantiate\n");
    host().clearLog();
    host()->FreeInstance(me);
    host()->FreeInstance(cs);
    EXPECT_EQ(host().logText(), "OK|me|fmiFreeModelInstance\nOK|cs|fmiFreeModelInstance\n");
    host()->FreeInstance(nullptr);
}

TEST_P(Instantiate, LoggingOffSendsNoOkMessages) {
    fmi2Component c = host().instantiate("quiet", fmi2CoSimulation, GetParam().guid, false);
    ASSERT_NE(c, nullptr);
    host()->FreeInstance(c);
    EXPECT_TRUE(host().log.empty()) << host().logText();
}

TEST_P(Instantiate, StepFinishedIsWarnedAbout) {
    host().callbacks()->stepFinished = [](fmi2ComponentEnvironment, fmi2Status) {};
    fmi2Component c = host().instantiate("async", fmi2CoSimulation, GetParam().guid, false);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(host().logText(),
              "Warning|async|fmi2Instantiate: Callback function stepFinished != NULL but asynchronous fmiDoStep "
              "is not supported\n");
    host()->FreeInstance(c);
}

TEST_P(Instantiate, GuidIsComparedExactly) {
    std::string upper = GetParam().guid;
    for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(host().instantiate("g", fmi2ModelExchange, upper.c_str()), nullptr);
    EXPECT_EQ(host().logText(), "Error|g|Invalid GUID: " + upper + ", expected " + GetParam().guid +
                                    "\nFatal|g|Instantiation failed\nOK|g|fmiFreeModelInstance\n");
    host().clearLog();
    EXPECT_EQ(host().instantiate("n", fmi2ModelExchange, nullptr), nullptr);
    EXPECT_TRUE(host().logContains("Instantiation failed"));
}

TEST_P(Instantiate, UnknownTypeFailsSilently) {
    EXPECT_EQ(host()->Instantiate("t", static_cast<fmi2Type>(2), GetParam().guid, "", host().callbacks(), 0, 1),
              nullptr);
    EXPECT_TRUE(host().log.empty());
}

TEST_P(Instantiate, MissingCallbacksFailCleanly) {
    EXPECT_EQ(host()->Instantiate("x", fmi2ModelExchange, GetParam().guid, "", nullptr, 0, 1), nullptr);
    fmi2CallbackFunctions noAllocator = *host().callbacks();
    noAllocator.allocateMemory = nullptr;
    EXPECT_EQ(host()->Instantiate("x", fmi2ModelExchange, GetParam().guid, "", &noAllocator, 0, 1), nullptr);
    EXPECT_EQ(host().logText(), "Fatal|x|Instantiation failed\n");
    fmi2CallbackFunctions noLogger = *host().callbacks();
    noLogger.logger = nullptr;
    EXPECT_EQ(host()->Instantiate("x", fmi2ModelExchange, GetParam().guid, "", &noLogger, 0, 1), nullptr);
}

TEST_P(Instantiate, CallbackRecordIsCopied) {
    // The host's record may go away after the call.
    auto record = std::make_unique<fmi2CallbackFunctions>(*host().callbacks());
    fmi2Component c = host()->Instantiate("copy", fmi2ModelExchange, GetParam().guid, "", record.get(), 0, 1);
    ASSERT_NE(c, nullptr);
    *record = fmi2CallbackFunctions{};
    record.reset();
    host()->FreeInstance(c);
    EXPECT_TRUE(host().logContains("fmiFreeModelInstance"));
}

TEST_P(Instantiate, EveryAllocationFailureIsClean) {
    TestHost::allocator = CountingAllocator{};
    fmi2Component c = host().instantiate("count", fmi2CoSimulation, GetParam().guid);
    ASSERT_NE(c, nullptr);
    host()->FreeInstance(c);
    const long allocations = TestHost::allocator.total;
    ASSERT_GT(allocations, 10);
    for (long n = 1; n <= allocations; ++n) {
        host().clearLog();
        TestHost::allocator = CountingAllocator{};
        TestHost::allocator.failAt = n;
        EXPECT_EQ(host().instantiate("inject", fmi2CoSimulation, GetParam().guid), nullptr) << "allocation " << n;
        EXPECT_EQ(TestHost::allocator.live, 0) << "allocation " << n;
        if (n == 1)
            EXPECT_TRUE(host().log.empty()) << "the record itself: nothing to log through";
        else
            EXPECT_TRUE(host().logContains("Instantiation failed")) << "allocation " << n;
    }
}

TEST_P(Instantiate, PercentAndLongNamesReachTheHostIntact) {
    fmi2Component c = host().instantiate("a%sb%d%%", fmi2ModelExchange, GetParam().guid);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(host().logText(), "OK|a%sb%d%%|fmi2Instantiate completed\n");
    host()->FreeInstance(c);
    host().clearLog();
    std::string longName(2000, 'n');
    c = host().instantiate(longName.c_str(), fmi2ModelExchange, GetParam().guid);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(host().log.at(0).instanceName, std::string(1024, 'n'));
    host()->FreeInstance(c);
    host().clearLog();
    c = host().instantiate(nullptr, fmi2ModelExchange, GetParam().guid);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(host().log.at(0).instanceName, "<NULL>");
    host()->FreeInstance(c);
}

TEST_P(Instantiate, ManyInstancesLiveSideBySide) {
    fmi2Component a = host().instantiate("a", fmi2ModelExchange, GetParam().guid);
    fmi2Component b = host().instantiate("b", fmi2CoSimulation, GetParam().guid);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    host()->FreeInstance(b);
    host()->FreeInstance(a);
}

INSTANTIATE_TEST_SUITE_P(BothModels, Instantiate, ::testing::ValuesIn(kFmus),
                         [](const ::testing::TestParamInfo<Fmu>& info) {
                             return std::string(info.param.guid == kPelloryGuid ? "Pellory" : "Vastorel");
                         });

TEST(TwoLibraries, LoadedTogetherShareNothing) {
    TestHost::allocator = CountingAllocator{};
    TestHost pellory(PELLORY_SO);
    TestHost vastorel(VASTOREL_SO);
    ASSERT_TRUE(pellory.loaded() && vastorel.loaded());
    fmi2Component p = pellory.instantiate("p", fmi2CoSimulation, kPelloryGuid);
    ASSERT_NE(p, nullptr);
    // Each library checks its own GUID.
    EXPECT_EQ(pellory.instantiate("x", fmi2ModelExchange, kVastorelGuid), nullptr);
    pellory.clearLog();
    const Sine s{2, 1, 0.3, 0.5, 0.5};
    const fmi2ValueReference parameters[] = {kAmplitude, kFrequency, kPhase, kOffset, kStartTime};
    const double values[] = {s.amplitude, s.frequency, s.phase, s.offset, s.start};
    ASSERT_EQ(pellory->SetupExperiment(p, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(pellory->SetReal(p, parameters, 5, values), fmi2OK);
    ASSERT_EQ(pellory->EnterInitializationMode(p), fmi2OK);
    ASSERT_EQ(pellory->ExitInitializationMode(p), fmi2OK);
    ASSERT_EQ(pellory->DoStep(p, 0, 0.25, fmi2True), fmi2OK);

    // The room model's process-wide state changes through its instance: the
    // blocks of the last instantiated instance, the instance inside a model
    // call, and both again when the instance goes away.
    fmi2Component v = vastorel.instantiate("v", fmi2CoSimulation, kVastorelGuid);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(vastorel->SetupExperiment(v, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(vastorel->EnterInitializationMode(v), fmi2OK);
    ASSERT_EQ(vastorel->ExitInitializationMode(v), fmi2OK);
    ASSERT_EQ(vastorel->DoStep(v, 0, 0.25, fmi2True), fmi2OK);
    vastorel->FreeInstance(v);

    // The sine source still runs through its start-time event on its own
    // blocks, and every message of each library reached its own host only.
    ASSERT_EQ(pellory->DoStep(p, 0.25, 0.5, fmi2True), fmi2OK);
    double w = 0;
    ASSERT_EQ(pellory->GetReal(p, &kAuxiliary, 1, &w), fmi2OK);
    EXPECT_NEAR(w, auxiliary(s, 0.75, true), 1e-12);
    pellory->FreeInstance(p);
    ASSERT_FALSE(pellory.log.empty());
    ASSERT_FALSE(vastorel.log.empty());
    for (const LogRecord& r : pellory.log) EXPECT_EQ(r.instanceName, "p") << r.message;
    for (const LogRecord& r : vastorel.log) EXPECT_EQ(r.instanceName, "v") << r.message;
    EXPECT_EQ(TestHost::allocator.live, 0);
}

} // namespace

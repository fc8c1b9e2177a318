// The sine source library in Co-Simulation through our own host: stepping with
// fixed and varying communication steps around the start-time event, input
// and output derivatives, the refused calls with their messages, the status
// queries, the statistics at terminate and a balanced allocator.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "pellory.h"
#include "test_host.h"

namespace {

class PelloryCS : public ::testing::Test {
protected:
    void SetUp() override {
        TestHost::allocator = CountingAllocator{};
        host_ = std::make_unique<TestHost>(PELLORY_SO);
        ASSERT_TRUE(host_->loaded()) << host_->error();
        c_ = host_->instantiate("cs", fmi2CoSimulation, kGuid, false);
        ASSERT_NE(c_, nullptr);
        host_->clearLog();
    }
    void TearDown() override {
        if (c_) api().FreeInstance(c_);
        EXPECT_EQ(TestHost::allocator.live, 0) << "blocks still live";
    }
    const FmiApi& api() { return host_->api(); }

    void setReal(fmi2ValueReference vr, double v) { ASSERT_EQ(api().SetReal(c_, &vr, 1, &v), fmi2OK); }
    double read(fmi2ValueReference vr) {
        double v = -12345;
        EXPECT_EQ(api().GetReal(c_, &vr, 1, &v), fmi2OK);
        return v;
    }
    // Up to stepping mode at time 0 with the given sine.
    void start(const Sine& s, double startTime = 0.0, bool stopTimeDefined = false, double stopTime = 0) {
        ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, startTime, stopTimeDefined, stopTime), fmi2OK);
        const fmi2ValueReference vr[] = {kAmplitude, kFrequency, kPhase, kOffset, kStartTime};
        const double v[] = {s.amplitude, s.frequency, s.phase, s.offset, s.start};
        ASSERT_EQ(api().SetReal(c_, vr, 5, v), fmi2OK);
        ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
        ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);
    }
    void expectOutputs(const Sine& s, double t, bool on, double u0, double u1) {
        const fmi2ValueReference vr[] = {kOutput0, kOutput1, kAuxiliary};
        double v[3] = {};
        ASSERT_EQ(api().GetReal(c_, vr, 3, v), fmi2OK);
        const double w = auxiliary(s, t, on);
        EXPECT_NEAR(v[2], w, 1e-12) << "auxiliary at " << t;
        EXPECT_NEAR(v[0], u1 - w, 1e-12) << "output 0 at " << t;
        EXPECT_NEAR(v[1], w * u0, 1e-12) << "output 1 at " << t;
        double last = -1;
        ASSERT_EQ(api().GetRealStatus(c_, fmi2LastSuccessfulTime, &last), fmi2OK);
        EXPECT_EQ(last, t);
    }
    std::string last() {
        if (host_->log.empty()) return "<none>";
        const LogRecord& r = host_->log.back();
        return std::string(statusName(r.status)) + "|" + r.message;
    }

    std::unique_ptr<TestHost> host_;
    fmi2Component c_ = nullptr;
};

TEST_F(PelloryCS, FixedStepsWithTheStartTimeEventInsideAStep) {
    const Sine s{2, 1.5, 0.3, 0.1, 0.35};
    start(s);
    double t = 0;
    const double h = 0.1;
    for (int k = 0; k < 20; ++k) {
        // The host sets the inputs, steps and reads the outputs.
        const double u0 = 1 + 0.5 * k;
        const double u1 = -2 + 0.25 * k;
        setReal(kInput0, u0);
        setReal(kInput1, u1);
        ASSERT_EQ(api().DoStep(c_, t, h, fmi2True), fmi2OK) << host_->logText();
        t += h;
        expectOutputs(s, t, t >= s.start, u0, u1);
    }
    ASSERT_EQ(api().Terminate(c_), fmi2OK);
}

TEST_F(PelloryCS, VaryingStepsWithTheStartTimeEventExactlyAtAStepEnd) {
    const Sine s{-0.7, 0.25, -1.1, 2.5, 0.5};
    start(s);
    setReal(kInput0, 3);
    setReal(kInput1, 4);
    const double steps[] = {0.2, 0.3, 1e-9, 0.05, 0.449999999, 0.75, 0.001};
    double t = 0;
    for (double h : steps) {
        ASSERT_EQ(api().DoStep(c_, t, h, fmi2False), fmi2OK) << host_->logText();
        t += h;
        // At t = 0.5 exactly the event has been handled inside the step.
        expectOutputs(s, t, t >= s.start, 3, 4);
    }
    // A step of size 0 is an event update at the current time.
    ASSERT_EQ(api().DoStep(c_, t, 0.0, fmi2False), fmi2OK);
    expectOutputs(s, t, true, 3, 4);
}

TEST_F(PelloryCS, StartsAtANonZeroStartTimeWithTheEventAtTheStart) {
    const Sine s{1, 2, 0, 0, 10};
    start(s, 10.0);
    expectOutputs(s, 10.0, true, 0, 0);
    double t = 10;
    for (int k = 0; k < 8; ++k) {
        ASSERT_EQ(api().DoStep(c_, t, 0.125, fmi2True), fmi2OK);
        t += 0.125;
        expectOutputs(s, t, true, 0, 0);
    }
}

TEST_F(PelloryCS, InputDerivativesApplyDuringOneStep) {
    const Sine s{1, 1, 0, 0.5, 0.25};
    start(s);
    setReal(kInput0, 2);
    setReal(kInput1, 1);
    const fmi2ValueReference vr[] = {kInput0, kInput1};
    const fmi2Integer order[] = {1, 1};
    const double du[] = {0.5, -3};
    ASSERT_EQ(api().SetRealInputDerivatives(c_, vr, 2, order, du), fmi2OK);
    // The step contains the start-time event; the extrapolation goes on across it.
    ASSERT_EQ(api().DoStep(c_, 0, 0.4, fmi2True), fmi2OK);
    const double u0 = 2 + 0.4 * 0.5;
    const double u1 = 1 - 0.4 * 3;
    EXPECT_NEAR(read(kInput0), u0, 1e-15);
    EXPECT_NEAR(read(kInput1), u1, 1e-15);
    expectOutputs(s, 0.4, true, u0, u1);
    // The derivatives served that step only.
    ASSERT_EQ(api().DoStep(c_, 0.4, 0.4, fmi2True), fmi2OK);
    expectOutputs(s, 0.8, true, u0, u1);

    // A value written after the derivatives is the new start of the extrapolation.
    ASSERT_EQ(api().SetRealInputDerivatives(c_, &kInput1, 1, order, &du[1]), fmi2OK);
    setReal(kInput1, 7);
    ASSERT_EQ(api().DoStep(c_, 0.8, 0.1, fmi2True), fmi2OK);
    expectOutputs(s, 0.8 + 0.1, true, u0, 7 - 0.1 * 3);
}

TEST_F(PelloryCS, OutputDerivativesAreTheDifferenceQuotientOfTheLastStep) {
    const Sine s{1.5, 0.5, 0.2, -0.3, 0};
    start(s);
    setReal(kInput0, 2);
    setReal(kInput1, 1);
    const fmi2ValueReference vr[] = {kOutput1, kOutput0};
    const fmi2Integer order[] = {1, 1};
    double v[2] = {-1, -1};

    // Before the first step: start time and start outputs, so no interval to estimate over.
    host_->clearLog();
    ASSERT_EQ(api().GetRealOutputDerivatives(c_, vr, 2, order, v), fmi2OK) << host_->logText();
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 0);
    EXPECT_EQ(last(), "Warning|fmi2GetRealOutputDerivatives: time interval for estimate is 0.000000, returning 0");

    double t = 0;
    for (double h : {0.1, 0.05, 0.3}) {
        ASSERT_EQ(api().DoStep(c_, t, h, fmi2True), fmi2OK);
        ASSERT_EQ(api().GetRealOutputDerivatives(c_, vr, 2, order, v), fmi2OK);
        const double w0 = auxiliary(s, t, true);
        const double w1 = auxiliary(s, t + h, true);
        EXPECT_NEAR(v[0], (2 * w1 - 2 * w0) / h, 1e-9) << t;
        EXPECT_NEAR(v[1], ((1 - w1) - (1 - w0)) / h, 1e-9) << t;
        t += h;
    }
    // Higher orders are answered with 0.
    const fmi2Integer second = 2;
    double d2 = -1;
    ASSERT_EQ(api().GetRealOutputDerivatives(c_, &kOutput0, 1, &second, &d2), fmi2OK);
    EXPECT_EQ(d2, 0);
}

TEST_F(PelloryCS, RefusesBadDerivativeCallsWithoutTouchingMemory) {
    const fmi2Integer one = 1;
    const double value = 1;
    double v = 0;
    EXPECT_EQ(api().SetRealInputDerivatives(c_, &kInput0, 1, &one, &value), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetRealInputDerivatives: fmi2EnterInitializationMode must be called before "
                      "calling fmi2SetRealInputDerivatives");
    EXPECT_EQ(api().GetRealOutputDerivatives(c_, &kOutput0, 1, &one, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetRealOutputDerivatives: fmi2EnterInitializationMode must be called before "
                      "calling fmi2GetRealOutputDerivatives");

    start(Sine{1, 1, 0, 0, 0});
    const fmi2ValueReference three[] = {kInput0, kInput1, kInput0};
    const fmi2Integer orders[] = {1, 1, 1};
    const double values[] = {1, 2, 3};
    EXPECT_EQ(api().SetRealInputDerivatives(c_, three, 0, orders, values), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetRealInputDerivatives: invalid nvr = 0 (number of inputs = 2), ignoring call");
    EXPECT_EQ(api().SetRealInputDerivatives(c_, three, 3, orders, values), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetRealInputDerivatives: invalid nvr = 3 (number of inputs = 2), ignoring call");
    const fmi2Integer two = 2;
    EXPECT_EQ(api().SetRealInputDerivatives(c_, &kInput0, 1, &two, &value), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetRealInputDerivatives: derivative order 2 is not supported");
    EXPECT_EQ(api().SetRealInputDerivatives(c_, &kOutput0, 1, &one, &value), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetRealInputDerivatives: variable is not input");
    const fmi2ValueReference farInput = ref(5, 0x123456);
    EXPECT_EQ(api().SetRealInputDerivatives(c_, &farInput, 1, &one, &value), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetRealInputDerivatives: invalid value reference 85079126");

    double out[3] = {};
    EXPECT_EQ(api().GetRealOutputDerivatives(c_, three, 3, orders, out), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetRealOutputDerivatives: invalid nvr = 3 (number of outputs = 2)");
    const fmi2Integer zero = 0;
    EXPECT_EQ(api().GetRealOutputDerivatives(c_, &kOutput0, 1, &zero, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetRealOutputDerivatives: derivative order 0 is not allowed");
    EXPECT_EQ(api().GetRealOutputDerivatives(c_, &kInput0, 1, &one, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetRealOutputDerivatives: variable is not output");
    const fmi2ValueReference farOutput = ref(4, 7, 1);
    EXPECT_EQ(api().GetRealOutputDerivatives(c_, &farOutput, 1, &one, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetRealOutputDerivatives: invalid value reference 335544327");

    // A failing entry keeps the entries before it; the extrapolation is not switched on.
    const fmi2ValueReference mixed[] = {kInput1, kOutput1};
    const double slopes[] = {10, 20};
    EXPECT_EQ(api().SetRealInputDerivatives(c_, mixed, 2, orders, slopes), fmi2Warning);
    ASSERT_EQ(api().DoStep(c_, 0, 0.5, fmi2True), fmi2OK);
    EXPECT_EQ(read(kInput1), 0.0);

    // After termination the integrator's arrays are gone: refused.
    ASSERT_EQ(api().Terminate(c_), fmi2OK);
    EXPECT_EQ(api().SetRealInputDerivatives(c_, &kInput0, 1, &one, &value), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetRealInputDerivatives: model is terminated");
    EXPECT_EQ(api().GetRealOutputDerivatives(c_, &kOutput0, 1, &one, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetRealOutputDerivatives: model is terminated");
}

TEST_F(PelloryCS, RefusesStepsOutOfPlace) {
    EXPECT_EQ(api().DoStep(c_, 0, 0.1, fmi2True), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DoStep: Initialization must be finished before calling fmiDoStep");
    ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0, fmi2True, 1.0), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    EXPECT_EQ(api().DoStep(c_, 0, 0.1, fmi2True), fmi2Warning);
    ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);

    EXPECT_EQ(api().DoStep(c_, 0.25, 0.1, fmi2True), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DoStep: currentCommunicationPoint = 0.2500000000000000, expected 0.0000000000000000");
    EXPECT_EQ(api().DoStep(c_, NAN, 0.1, fmi2True), fmi2Warning);
    EXPECT_EQ(api().DoStep(c_, 0, -0.1, fmi2True), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DoStep: communicationStepSize = -1.0000000000000001e-01 is negative, ignoring call");
    EXPECT_EQ(api().DoStep(c_, 0, NAN, fmi2True), fmi2Warning);
    double t = -1;
    ASSERT_EQ(api().GetRealStatus(c_, fmi2LastSuccessfulTime, &t), fmi2OK);
    EXPECT_EQ(t, 0.0) << "refused steps change nothing";

    // A step within the fuzz of the point is accepted.
    ASSERT_EQ(api().DoStep(c_, 1e-17, 0.5, fmi2True), fmi2OK);
    EXPECT_EQ(api().DoStep(c_, 0.5, 0.6, fmi2True), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DoStep: trying to compute past tStop = 1.000000, to 1.1000000000000001,  at t = "
                      "0.500000");
    // A step that ends a few ulps past the stop time is cut to it.
    ASSERT_EQ(api().DoStep(c_, 0.5, 0.5 + 2e-16, fmi2True), fmi2OK);
    ASSERT_EQ(api().GetRealStatus(c_, fmi2LastSuccessfulTime, &t), fmi2OK);
    EXPECT_EQ(t, 1.0);

    ASSERT_EQ(api().Terminate(c_), fmi2OK);
    EXPECT_EQ(api().DoStep(c_, 1.0, 0.1, fmi2True), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DoStep: model is terminated");
}

TEST_F(PelloryCS, TimesThatLeadNowhereAreRefusedOrEndAtOnce) {
    const Sine s{1, 1, 0, 0.5, 0.25};
    start(s);
    ASSERT_EQ(api().DoStep(c_, 0, 1, fmi2True), fmi2OK);
    ASSERT_EQ(api().SetDebugLogging(c_, fmi2True, 0, nullptr), fmi2OK);
    struct Case {
        double point, step;
        fmi2Status status;
        const char* message;
    };
    const Case cases[] = {
        {NAN, 0.1, fmi2Warning, "Warning|fmi2DoStep: currentCommunicationPoint = nan is not finite, ignoring call"},
        {-INFINITY, 0.1, fmi2Warning,
         "Warning|fmi2DoStep: currentCommunicationPoint = -inf is not finite, ignoring call"},
        {1, NAN, fmi2Warning, "Warning|fmi2DoStep: communicationStepSize = nan is not finite, ignoring call"},
        {1, INFINITY, fmi2Warning, "Warning|fmi2DoStep: communicationStepSize = inf is not finite, ignoring call"},
        {1, 1.7976931348623157e308, fmi2Warning,
         "Warning|fmi2DoStep: communicationStepSize = 1.7976931348623157e+308 ends beyond the largest time 1e+306, "
         "ignoring call"},
        // t + h == t: nothing to integrate.
        {1, 1e-17, fmi2OK, "OK|fmi2DoStep"},
        {1, 4.9e-324, fmi2OK, "OK|fmi2DoStep"},
    };
    for (const Case& c : cases) {
        host_->clearLog();
        EXPECT_EQ(api().DoStep(c_, c.point, c.step, fmi2True), c.status) << c.point << " " << c.step;
        EXPECT_EQ(last(), c.message);
        expectOutputs(s, 1, true, 0, 0);
    }
    // A step far beyond the model's "no time event" sentinel ends where it should.
    ASSERT_EQ(api().DoStep(c_, 1, 1e300, fmi2True), fmi2OK) << host_->logText();
    expectOutputs(s, 1e300, true, 0, 0);
}

TEST_F(PelloryCS, StatusQueriesAndAsynchronousCallsAreAnswered) {
    start(Sine{1, 1, 0, 0, 0});
    ASSERT_EQ(api().DoStep(c_, 0, 0.75, fmi2True), fmi2OK);
    double t = 0;
    EXPECT_EQ(api().GetRealStatus(c_, fmi2LastSuccessfulTime, &t), fmi2OK);
    EXPECT_EQ(t, 0.75);
    EXPECT_EQ(api().GetRealStatus(c_, fmi2DoStepStatus, &t), fmi2Discard);
    EXPECT_EQ(last(), "Discard|fmi2GetRealStatus: fmiStatusKind 0 unknown");
    fmi2Boolean b = fmi2True;
    EXPECT_EQ(api().GetBooleanStatus(c_, fmi2Terminated, &b), fmi2OK);
    EXPECT_EQ(b, fmi2False);
    EXPECT_EQ(api().GetBooleanStatus(c_, fmi2PendingStatus, &b), fmi2Discard);
    EXPECT_EQ(last(), "Discard|fmi2GetBooleanStatus: fmiStatusKind 1 unknown");
    fmi2Integer i = 0;
    EXPECT_EQ(api().GetIntegerStatus(c_, fmi2LastSuccessfulTime, &i), fmi2Discard);
    EXPECT_EQ(last(), "Discard|fmi2GetIntegerStatus: fmiStatusKind 2 unknown");
    // A known kind without a place for the answer is told as such.
    EXPECT_EQ(api().GetRealStatus(c_, fmi2LastSuccessfulTime, nullptr), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetRealStatus: value is a null pointer, ignoring call");
    EXPECT_EQ(api().GetBooleanStatus(c_, fmi2Terminated, nullptr), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetBooleanStatus: value is a null pointer, ignoring call");
    fmi2Status s = fmi2OK;
    EXPECT_EQ(api().GetStatus(c_, fmi2DoStepStatus, &s), fmi2Discard);
    EXPECT_EQ(last(), "Discard|fmi2GetStatus: not supported since asynchronous execution of fmiDoStep is not supported");
    fmi2String text = nullptr;
    EXPECT_EQ(api().GetStringStatus(c_, fmi2PendingStatus, &text), fmi2Discard);
    EXPECT_EQ(last(),
              "Discard|fmi2GetStringStatus: not supported since asynchronous execution of fmiDoStep is not supported");
    EXPECT_EQ(api().CancelStep(c_), fmi2Discard);
    EXPECT_EQ(last(), "Discard|fmi2CancelStep: asynchronous execution of fmiDoStep is not supported");

    // A host that hands over stepFinished is told at instantiation that it will never be called.
    fmi2CallbackFunctions callbacks = *host_->callbacks();
    callbacks.stepFinished = [](fmi2ComponentEnvironment, fmi2Status) {};
    fmi2Component other = api().Instantiate("async", fmi2CoSimulation, kGuid, "file:///tmp/resources", &callbacks,
                                            fmi2False, fmi2False);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(last(), "Warning|fmi2Instantiate: Callback function stepFinished != NULL but asynchronous fmiDoStep "
                      "is not supported");
    api().FreeInstance(other);
}

TEST_F(PelloryCS, IntegratesOneDummyStateAndPrintsTheStatisticsAtTerminate) {
    ASSERT_EQ(api().SetDebugLogging(c_, fmi2True, 0, nullptr), fmi2OK);
    start(Sine{1, 1, 0, 0, 0.3});
    // The model has no states; its integrator carries one, which the instance reports from now on.
    double x[2] = {-1, -1};
    EXPECT_EQ(api().GetContinuousStates(c_, x, 1), fmi2OK);
    EXPECT_EQ(x[0], 0.0);
    EXPECT_EQ(api().GetNominalsOfContinuousStates(c_, x, 1), fmi2OK);
    EXPECT_EQ(x[0], 1.0);
    double t = 0;
    for (int k = 0; k < 4; ++k, t += 0.25) ASSERT_EQ(api().DoStep(c_, t, 0.25, fmi2True), fmi2OK);
    EXPECT_EQ(last(), "OK|fmi2DoStep");
    host_->clearLog();
    ASSERT_EQ(api().Terminate(c_), fmi2OK);
    const std::string log = host_->logText();
    EXPECT_NE(log.find("OK|cs|Sundials CVode Statistics\n"
                       "    Stop time                                : 1.00 s\n"),
              std::string::npos)
        << log;
    // Four steps, one of them split at the start-time event: five integrations.
    EXPECT_NE(log.find("    Number of external steps                 : 5\n"), std::string::npos) << log;
    EXPECT_NE(log.find("    Grouping used                            : no\n"), std::string::npos) << log;
    EXPECT_NE(log.find("OK|cs|Rejected count\n"
                       "    Number of external steps                 : 0\n"
                       "    Number of internal steps                 : 0\n"
                       "    Number of f function evaluations         : 0 (0.00 s)\n"
                       "    Number of Jac function evaluations       : 0\n"),
              std::string::npos)
        << log;
}

TEST_F(PelloryCS, RunsAgainAfterResetWithTheSameResults) {
    const Sine s{0.9, 3, 0.1, 1, 0.2};
    std::vector<double> first;
    for (int run = 0; run < 2; ++run) {
        start(s);
        setReal(kInput1, 5);
        double t = 0;
        for (int k = 0; k < 10; ++k, t += 0.07) {
            ASSERT_EQ(api().DoStep(c_, t, 0.07, fmi2True), fmi2OK);
            // Both runs follow the closed form, across the start-time event.
            expectOutputs(s, t + 0.07, t + 0.07 >= s.start, 0, 5);
            const double y = read(kOutput0);
            if (run == 0)
                first.push_back(y);
            else
                EXPECT_EQ(y, first[static_cast<size_t>(k)]);
        }
        ASSERT_EQ(api().Reset(c_), fmi2OK);
    }
}

TEST_F(PelloryCS, FailedIntegratorAllocationsLeaveNothingBehind) {
    // Walk a failing allocation over every allocation of the initialization.
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 50) << "initialization never succeeded";
        const long liveBefore = TestHost::allocator.live;
        fmi2Component c = host_->instantiate("walk", fmi2CoSimulation, kGuid, false);
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(api().SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
        TestHost::allocator.failAt = n;
        const fmi2Status status = api().EnterInitializationMode(c);
        const bool failed = TestHost::allocator.failed > 0;
        TestHost::allocator.failAt = 0;
        TestHost::allocator.failed = 0;
        if (!failed) {
            ASSERT_EQ(status, fmi2OK);
            ASSERT_EQ(api().ExitInitializationMode(c), fmi2OK);
            ASSERT_EQ(api().DoStep(c, 0, 0.5, fmi2True), fmi2OK);
            api().FreeInstance(c);
            break;
        }
        EXPECT_EQ(status, fmi2Fatal) << n;
        // The instance stays instantiated and can be freed; nothing of it stays behind.
        EXPECT_EQ(api().DoStep(c, 0, 0.5, fmi2True), fmi2Warning);
        api().FreeInstance(c);
        EXPECT_EQ(TestHost::allocator.live, liveBefore) << "after failing allocation " << n;
    }
}

TEST_F(PelloryCS, DerivativeCallsAreRefusedOnModelExchangeInstances) {
    fmi2Component me = host_->instantiate("me", fmi2ModelExchange, kGuid, false);
    ASSERT_NE(me, nullptr);
    ASSERT_EQ(api().SetupExperiment(me, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(me), fmi2OK);
    const fmi2Integer one = 1;
    double v = 0;
    EXPECT_EQ(api().SetRealInputDerivatives(me, &kInput0, 1, &one, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetRealInputDerivatives: not supported for fmuType fmi2ModelExchange");
    EXPECT_EQ(api().GetRealOutputDerivatives(me, &kOutput0, 1, &one, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetRealOutputDerivatives: not supported for fmuType fmi2ModelExchange");
    EXPECT_EQ(api().DoStep(me, 0, 0.1, fmi2True), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DoStep: not supported for fmuType fmi2ModelExchange");
    api().FreeInstance(me);
}

} // namespace

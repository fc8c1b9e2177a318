// The sine source library in Model Exchange through our own host: a complete
// run with its start-time event, the mode guards with their messages, value
// reference decoding, lazy evaluation and the Integer and Boolean conversions.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "pellory.h"
#include "test_host.h"

namespace {

class PelloryME : public ::testing::Test {
protected:
    void SetUp() override {
        TestHost::allocator = CountingAllocator{};
        host_ = std::make_unique<TestHost>(PELLORY_SO);
        ASSERT_TRUE(host_->loaded()) << host_->error();
        c_ = host_->instantiate("sine", fmi2ModelExchange, kGuid);
        ASSERT_NE(c_, nullptr);
        host_->clearLog();
    }
    void TearDown() override {
        if (c_) api().FreeInstance(c_);
        EXPECT_EQ(TestHost::allocator.live, 0) << "blocks still live";
    }
    const FmiApi& api() { return host_->api(); }

    void setSine(const Sine& s) {
        const fmi2ValueReference vr[] = {kAmplitude, kFrequency, kPhase, kOffset, kStartTime, kInput0, kInput1};
        const double v[] = {s.amplitude, s.frequency, s.phase, s.offset, s.start, s.input0, s.input1};
        ASSERT_EQ(api().SetReal(c_, vr, 7, v), fmi2OK);
    }
    void expectOutputs(const Sine& s, double t, bool on) {
        const fmi2ValueReference vr[] = {kOutput0, kOutput1, kAuxiliary, kTime};
        double v[4] = {};
        ASSERT_EQ(api().GetReal(c_, vr, 4, v), fmi2OK);
        const double w = auxiliary(s, t, on);
        EXPECT_NEAR(v[2], w, 1e-12) << "auxiliary at " << t;
        EXPECT_NEAR(v[0], s.input1 - w, 1e-12) << "output 0 at " << t;
        EXPECT_NEAR(v[1], w * s.input0, 1e-12) << "output 1 at " << t;
        EXPECT_EQ(v[3], t);
    }
    double read(fmi2ValueReference vr) {
        double v = -12345;
        EXPECT_EQ(api().GetReal(c_, &vr, 1, &v), fmi2OK);
        return v;
    }
    void initialize() {
        ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    }
    // From instantiated to continuous-time mode.
    void toContinuousTime() {
        initialize();
        ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);
        fmi2EventInfo info{};
        ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
        ASSERT_EQ(api().EnterContinuousTimeMode(c_), fmi2OK);
    }
    // The last message of the log, as "<status>|<text>".
    std::string last() {
        if (host_->log.empty()) return "<none>";
        const LogRecord& r = host_->log.back();
        return std::string(statusName(r.status)) + "|" + r.message;
    }

    std::unique_ptr<TestHost> host_;
    fmi2Component c_ = nullptr;
};

TEST_F(PelloryME, RunsTwiceWithTheStartTimeEventAndMatchesTheClosedForm) {
    const Sine runs[2] = {{2, 1.5, 0.3, 0.1, 0.5, 3, 4}, {-0.7, 0.25, -1.1, 2.5, 0.5, -1.5, 0.2}};
    for (const Sine& s : runs) {
        ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        setSine(s);
        ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
        expectOutputs(s, 0.0, false);
        ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);

        fmi2EventInfo info{};
        ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
        EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2False);
        EXPECT_EQ(info.terminateSimulation, fmi2False);
        EXPECT_EQ(info.valuesOfContinuousStatesChanged, fmi2False);
        ASSERT_EQ(info.nextEventTimeDefined, fmi2True);
        EXPECT_EQ(info.nextEventTime, 0.5);
        ASSERT_EQ(api().EnterContinuousTimeMode(c_), fmi2OK);

        // Up to and at the start time, before the event is handled: no sine.
        for (int k = 1; k <= 5; ++k) {
            const double t = 0.1 * k;
            ASSERT_EQ(api().SetTime(c_, t), fmi2OK);
            expectOutputs(s, t, false);
            fmi2Boolean enterEventMode = fmi2True, terminate = fmi2True;
            ASSERT_EQ(api().CompletedIntegratorStep(c_, fmi2True, &enterEventMode, &terminate), fmi2OK);
            EXPECT_EQ(enterEventMode, fmi2False);
            EXPECT_EQ(terminate, fmi2False);
        }

        // The time event: one further iteration, then no event pending.
        ASSERT_EQ(api().EnterEventMode(c_), fmi2OK);
        info = fmi2EventInfo{};
        info.nextEventTime = -7;
        ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
        EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2True);
        EXPECT_EQ(info.nextEventTimeDefined, fmi2False);
        EXPECT_EQ(info.nextEventTime, -7) << "left as the host put it";
        ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
        EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2False);
        EXPECT_EQ(info.nextEventTimeDefined, fmi2False);
        expectOutputs(s, 0.5, true);
        ASSERT_EQ(api().EnterContinuousTimeMode(c_), fmi2OK);

        for (int k = 6; k <= 30; ++k) {
            const double t = 0.1 * k;
            ASSERT_EQ(api().SetTime(c_, t), fmi2OK);
            expectOutputs(s, t, true);
        }
        ASSERT_EQ(api().Terminate(c_), fmi2OK);
        ASSERT_EQ(api().Reset(c_), fmi2OK);
    }
}

TEST_F(PelloryME, AnnouncesTheStartTimeUntilItIsReached) {
    const Sine s{1, 1, 0, 0, 2.0, 0, 0};
    ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
    setSine(s);
    ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);
    fmi2EventInfo info{};
    ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
    EXPECT_EQ(info.nextEventTime, 2.0);
    // Without states the host may stay out of continuous-time mode and run
    // event iterations at any time; each announces the start time again.
    for (double t : {0.5, 1.0, 1.999}) {
        ASSERT_EQ(api().SetTime(c_, t), fmi2OK); // from "event iteration done" straight on
        info = fmi2EventInfo{};
        ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
        EXPECT_EQ(info.nextEventTimeDefined, fmi2True) << t;
        EXPECT_EQ(info.nextEventTime, 2.0) << t;
        expectOutputs(s, t, false);
    }
    ASSERT_EQ(api().SetTime(c_, 2.0), fmi2OK);
    ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
    EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2True);
    ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
    EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2False);
    EXPECT_EQ(info.nextEventTimeDefined, fmi2False);
    expectOutputs(s, 2.0, true);
    // Going back before the start time switches the sine off again at the next event.
    ASSERT_EQ(api().SetTime(c_, 1.0), fmi2OK);
    ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
    ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
    EXPECT_EQ(info.nextEventTime, 2.0);
    expectOutputs(s, 1.0, false);
}

TEST_F(PelloryME, LogsEachStepWithItsExactText) {
    ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
    const double start = 0.5;
    ASSERT_EQ(api().SetReal(c_, &kStartTime, 1, &start), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    EXPECT_EQ(read(kOutput0), 0.0);
    ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);
    fmi2EventInfo info{};
    ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
    ASSERT_EQ(api().EnterContinuousTimeMode(c_), fmi2OK);
    ASSERT_EQ(api().SetTime(c_, 0.25), fmi2OK);
    fmi2Boolean enter, terminate;
    ASSERT_EQ(api().CompletedIntegratorStep(c_, fmi2True, &enter, &terminate), fmi2OK);
    ASSERT_EQ(api().EnterEventMode(c_), fmi2OK);
    ASSERT_EQ(api().Terminate(c_), fmi2OK);
    ASSERT_EQ(api().Reset(c_), fmi2OK);
    api().FreeInstance(c_);
    c_ = nullptr;
    EXPECT_EQ(host_->logText(),
              "OK|sine|fmi2SetupExperiment: startTime is set to 0\n"
              "OK|sine|fmiSetReal: #r16777220# = 0.5\n"
              "OK|sine|fmi2EnterInitializationMode...\n"
              "OK|sine|fmi2EnterInitializationMode completed\n"
              "OK|sine|fmiGetReal: #r335544320# = 0\n"
              "OK|sine|fmi2ExitInitializationMode...\n"
              "OK|sine|fmi2ExitInitializationMode completed\n"
              "OK|sine|fmi2NewDiscreteStates...\n"
              "OK|sine|fmi2NewDiscreteStates completed\n"
              "OK|sine|fmi2EnterContinuousTimeMode...\n"
              "OK|sine|fmi2EnterContinuousTimeMode done\n"
              "OK|sine|fmi2SetTime to 0.25\n"
              "OK|sine|fmi2CompletedIntegratorStep\n"
              "OK|sine|fmi2EnterEventMode...\n"
              "OK|sine|fmi2EnterEventMode done\n"
              "OK|sine|fmi2Terminate\n"
              "OK|sine|fmi2Reset...\n"
              "OK|sine|fmi2Reset completed\n"
              "OK|sine|fmiFreeModelInstance\n");
}

TEST_F(PelloryME, RefusesCallsOutsideTheirModes) {
    double v = 0;
    fmi2Integer i = 0;
    fmi2Boolean b = 0;
    fmi2String text = nullptr;
    fmi2EventInfo info{};
    double array[2] = {};
    const fmi2ValueReference output = kOutput0;

    // Instantiated.
    EXPECT_EQ(api().GetReal(c_, &output, 1, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmiGetReal: Not allowed before call of fmi2EnterInitializationMode");
    EXPECT_EQ(api().GetInteger(c_, &output, 1, &i), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmiGetInteger: Not allowed before call of fmi2EnterInitializationMode");
    EXPECT_EQ(api().GetBoolean(c_, &output, 1, &b), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmiGetBoolean: Not allowed before call of fmi2EnterInitializationMode");
    EXPECT_EQ(api().GetString(c_, &output, 1, &text), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetString: Not allowed before call of fmi2EnterInitializationMode");
    EXPECT_EQ(api().GetContinuousStates(c_, array, 0), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetContinuousStates: fmiEnterInitializationMode must be called before calling "
                      "fmi2GetContinuousStates");
    EXPECT_EQ(api().GetDerivatives(c_, array, 0), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetDerivatives: fmi2EnterInitializationMode must be called before calling "
                      "fmi2GetDerivatives");
    EXPECT_EQ(api().GetEventIndicators(c_, array, 0), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetEventIndicators: fmi2ExitInitializationMode must be called before calling "
                      "fmi2GetEventIndicators");
    EXPECT_EQ(api().ExitInitializationMode(c_), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2ExitInitializationMode: may only called in initialization mode");
    EXPECT_EQ(api().EnterEventMode(c_), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2EnterEventMode: may only be called in continuous time mode");
    EXPECT_EQ(api().NewDiscreteStates(c_, &info), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2NewDiscreteStates: may only be called in event mode");
    EXPECT_EQ(api().EnterContinuousTimeMode(c_), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2EnterContinuousTimeMode: may only be called when exited event mode");
    EXPECT_EQ(api().Reset(c_), fmi2OK);
    EXPECT_EQ(last(), "OK|fmi2Reset: already reset, ignoring call");
    EXPECT_EQ(api().SetupExperiment(c_, fmi2True, 1e-6, 0.0, fmi2False, 0), fmi2OK);
    EXPECT_TRUE(host_->logContains("fmi2SetupExperiment: tolerance control not supported for fmuType "
                                   "fmi2ModelExchange, setting toleranceDefined to fmi2False"));

    // Initialization mode.
    ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    EXPECT_EQ(api().EnterInitializationMode(c_), fmi2Warning);
    EXPECT_EQ(last(), "Warning|model cannot be initialized in current state(1)");
    EXPECT_EQ(api().SetTime(c_, 1.0), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetTime: not allowed in this state");
    EXPECT_EQ(api().GetEventIndicators(c_, array, 0), fmi2Warning);
    EXPECT_EQ(api().SetReal(c_, &output, 1, &v), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmiSetReal: may not change #r335544320# at this stage, setting of variable ignored");

    // Event mode.
    ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);
    EXPECT_EQ(api().EnterEventMode(c_), fmi2Warning);
    EXPECT_EQ(api().EnterContinuousTimeMode(c_), fmi2Warning);
    EXPECT_EQ(api().SetTime(c_, 1.0), fmi2Warning);
    EXPECT_EQ(api().ExitInitializationMode(c_), fmi2Warning);
    const double aux = 1;
    EXPECT_EQ(api().SetReal(c_, &kAuxiliary, 1, &aux), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmiSetReal: may not change #r" + std::to_string(kAuxiliary) +
                          "# at this stage, setting of variable ignored");

    // Count arguments: the smaller count is transferred.
    EXPECT_EQ(api().GetEventIndicators(c_, array, 1), fmi2Warning);
    EXPECT_TRUE(host_->logContains("fmi2GetEventIndicators: argument ni = 1 is incorrect, should be 0"));
    EXPECT_EQ(api().GetDerivatives(c_, array, 2), fmi2Warning);
    EXPECT_TRUE(host_->logContains("fmi2GetDerivatives: argument nx = 2 is incorrect, should be 0"));
    EXPECT_EQ(api().GetNominalsOfContinuousStates(c_, array, 0), fmi2OK);

    // Terminated.
    ASSERT_EQ(api().Terminate(c_), fmi2OK);
    EXPECT_EQ(api().Terminate(c_), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2Terminate: already terminated, ignoring call");
    EXPECT_EQ(api().EnterInitializationMode(c_), fmi2Warning);
    EXPECT_EQ(last(), "Warning|model cannot be initialized in current state(7)");

    // Reset brings the start values back and a new initialization works.
    ASSERT_EQ(api().Reset(c_), fmi2OK);
    EXPECT_EQ(api().GetReal(c_, &output, 1, &v), fmi2Warning);
    ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    EXPECT_EQ(read(kAmplitude), 1.0);
}

TEST_F(PelloryME, WarningsReachTheHostWithLoggingOff) {
    ASSERT_EQ(api().SetDebugLogging(c_, fmi2False, 0, nullptr), fmi2OK);
    ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    EXPECT_TRUE(host_->log.empty());
    EXPECT_EQ(api().EnterInitializationMode(c_), fmi2Warning);
    ASSERT_EQ(host_->log.size(), 1u);
    EXPECT_EQ(last(), "Warning|model cannot be initialized in current state(1)");
}

TEST_F(PelloryME, DecodesEveryKindOfValueReference) {
    const Sine s{2, 1.5, 0.3, 0.1, 0.0, 3, 4};
    ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.75, fmi2False, 0), fmi2OK);
    setSine(s);
    ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    // Parameters, also through the read-only kind; inputs, also read-only.
    EXPECT_EQ(read(ref(1, 1)), 1.5);
    EXPECT_EQ(read(ref(14, 1)), 1.5);
    EXPECT_EQ(read(ref(5, 1)), 4.0);
    EXPECT_EQ(read(ref(10, 0)), 3.0);
    EXPECT_EQ(read(kTime), 0.75);
    const double w = auxiliary(s, 0.75, true);
    EXPECT_NEAR(read(ref(6, 0, 1)), w, 1e-12);
    EXPECT_NEAR(read(ref(4, 1, 1)), w * 3, 1e-12);

    // Kinds that name nothing, indices beyond the arrays, and the time bits
    // without all of them set: refused with a Warning, earlier values delivered.
    const fmi2ValueReference refused[] = {ref(0, 0), ref(7, 0), ref(9, 0), ref(15, 0), ref(1, 5), ref(4, 2),
                                          ref(5, 2), ref(6, 1), ref(2, 0), ref(3, 0), ref(11, 0), ref(12, 0),
                                          ref(8, 0), ref(13, 0), ref(14, 0x123456), 0xFFFFFFFEu};
    for (fmi2ValueReference vr : refused) {
        const fmi2ValueReference pair[2] = {kOffset, vr};
        double v[2] = {-1, -1};
        EXPECT_EQ(api().GetReal(c_, pair, 2, v), fmi2Warning) << vr;
        EXPECT_EQ(v[0], 0.1);
        EXPECT_EQ(v[1], -1) << vr;
        EXPECT_EQ(last(), "Warning|fmiGetReal: cannot get #r" + std::to_string(vr) + "#");
        const double one = 1;
        EXPECT_EQ(api().SetReal(c_, &vr, 1, &one), fmi2Warning) << vr;
        EXPECT_EQ(last(), "Warning|fmiSetReal: cannot set #r" + std::to_string(vr) + "#  ") << vr;
    }
    // Read-only kinds that exist are refused with the may-not-change text.
    for (fmi2ValueReference vr : {ref(10, 0), ref(14, 2)}) {
        const double one = 1;
        EXPECT_EQ(api().SetReal(c_, &vr, 1, &one), fmi2Warning);
        EXPECT_EQ(last(), "Warning|fmiSetReal: may not change #r" + std::to_string(vr) +
                              "# at this stage, setting of variable ignored");
    }
    EXPECT_EQ(api().SetReal(c_, &kTime, 1, &w), fmi2Warning);
    // Strings: the model has none.
    fmi2String text = nullptr;
    const fmi2ValueReference stringRef = ref(8, 0);
    EXPECT_EQ(api().GetString(c_, &stringRef, 1, &text), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2GetString: cannot get #s134217728#");
    const char* hello = "hello";
    EXPECT_EQ(api().SetString(c_, &stringRef, 1, &hello), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetString: cannot set #s134217728#  ");
}

TEST_F(PelloryME, ReadsEvaluateOnlyWhenTheirLevelIsNotComputed) {
    toContinuousTime();
    // Start values: amplitude 1, frequency 1, everything else 0. Output 0 read with level 0 and level 1: output 0 = -sin(2 pi t).
    const fmi2ValueReference outputLevel0 = ref(4, 0, 0);
    ASSERT_EQ(api().SetTime(c_, 0.1), fmi2OK);
    EXPECT_NEAR(read(kOutput0), -sin(2 * M_PI * 0.1), 1e-12);
    ASSERT_EQ(api().SetTime(c_, 0.2), fmi2OK);
    // Level 0 is always computed: no model call, the value of the last one.
    EXPECT_NEAR(read(outputLevel0), -sin(2 * M_PI * 0.1), 1e-12);
    EXPECT_NEAR(read(kOutput0), -sin(2 * M_PI * 0.2), 1e-12);
    // A changed input resets what is computed; the next read at level 1 sees it.
    const double input1 = 5;
    ASSERT_EQ(api().SetReal(c_, &kInput1, 1, &input1), fmi2OK);
    EXPECT_NEAR(read(outputLevel0), -sin(2 * M_PI * 0.2), 1e-12);
    EXPECT_NEAR(read(kOutput0), 5 - sin(2 * M_PI * 0.2), 1e-12);
    // After termination reads deliver the last values without a model call.
    ASSERT_EQ(api().SetTime(c_, 0.4), fmi2OK);
    ASSERT_EQ(api().Terminate(c_), fmi2OK);
    const double before = read(kOutput0);
    ASSERT_EQ(api().SetReal(c_, &kInput1, 1, &input1), fmi2OK);
    const double input0 = 9;
    ASSERT_EQ(api().SetReal(c_, &kInput0, 1, &input0), fmi2OK);
    EXPECT_EQ(read(kOutput1), 0.0) << "input 0 was 0 at the last model call";
    EXPECT_EQ(read(kOutput0), before);
}

TEST_F(PelloryME, TruncatesIntegerAndBooleanReads) {
    initialize();
    struct Case {
        double stored;
        fmi2Integer integer;
    } cases[] = {{2.7, 2},   {-2.7, -2},         {0.5, 0},           {-1, -1},      {0.0, 0},
                 {2147483647.9, 2147483647},     {-2147483648.9, INT32_MIN},         {1e10, INT32_MIN},
                 {-1e10, INT32_MIN},             {NAN, INT32_MIN},   {INFINITY, INT32_MIN}};
    for (const Case& k : cases) {
        ASSERT_EQ(api().SetReal(c_, &kOffset, 1, &k.stored), fmi2OK);
        fmi2Integer i = 99;
        fmi2Boolean b = 99;
        ASSERT_EQ(api().GetInteger(c_, &kOffset, 1, &i), fmi2OK);
        EXPECT_EQ(i, k.integer) << k.stored;
        ASSERT_EQ(api().GetBoolean(c_, &kOffset, 1, &b), fmi2OK);
        EXPECT_EQ(b, k.integer) << k.stored;
    }
    const double stored = 2.7;
    ASSERT_EQ(api().SetReal(c_, &kOffset, 1, &stored), fmi2OK);
    fmi2Integer i = 0;
    ASSERT_EQ(api().GetInteger(c_, &kOffset, 1, &i), fmi2OK);
    EXPECT_EQ(last(), "OK|fmiGetInteger: #i16777219# = 2");
    fmi2Boolean b = 0;
    ASSERT_EQ(api().GetBoolean(c_, &kOffset, 1, &b), fmi2OK);
    EXPECT_EQ(last(), "OK|fmiGetBoolean: #b16777219# = 2");
    // Integer and Boolean writes arrive as doubles.
    const fmi2Integer three = 3;
    ASSERT_EQ(api().SetInteger(c_, &kAmplitude, 1, &three), fmi2OK);
    EXPECT_EQ(last(), "OK|fmiSetInteger: #i16777216# = 3");
    EXPECT_EQ(read(kAmplitude), 3.0);
    const fmi2Boolean on = fmi2True;
    ASSERT_EQ(api().SetBoolean(c_, &kInput0, 1, &on), fmi2OK);
    EXPECT_EQ(last(), "OK|fmiSetBoolean: #b83886080# = 1");
    EXPECT_EQ(read(kInput0), 1.0);
    const fmi2Integer bad = 1;
    EXPECT_EQ(api().SetInteger(c_, &kOutput0, 1, &bad), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmiSetInteger: may not change #i335544320# at this stage, setting of variable ignored");
    EXPECT_EQ(api().SetBoolean(c_, &kTime, 1, &on), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmiSetBoolean: cannot set #b4294967295#  ");
}

TEST_F(PelloryME, ARefusedElementStillMarksTheEarlierChanges) {
    toContinuousTime();
    ASSERT_EQ(api().SetTime(c_, 0.25), fmi2OK);
    EXPECT_NEAR(read(kOutput0), -1.0, 1e-12); // -sin(pi/2)
    const fmi2ValueReference vr[] = {kInput1, kOutput1};
    const double v[] = {10, 0};
    EXPECT_EQ(api().SetReal(c_, vr, 2, v), fmi2Warning);
    EXPECT_EQ(read(kInput1), 10.0);
    EXPECT_NEAR(read(kOutput0), 9.0, 1e-12) << "the stored input is taken in";
}

TEST_F(PelloryME, TerminatesFreshAndRestartsFromAnyMode) {
    // The terminal section of an instance that was never initialized runs and succeeds.
    EXPECT_EQ(api().Terminate(c_), fmi2OK);
    ASSERT_EQ(api().Reset(c_), fmi2OK);
    toContinuousTime();
    ASSERT_EQ(api().SetTime(c_, 1.2), fmi2OK);
    // Setting up the experiment is accepted in any mode and moves the time back.
    ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.3, fmi2False, 0), fmi2OK);
    EXPECT_EQ(read(kTime), 0.3);
    // Reset from continuous-time mode terminates first.
    host_->clearLog();
    ASSERT_EQ(api().Reset(c_), fmi2OK);
    EXPECT_EQ(host_->logText(), "OK|sine|fmi2Reset...\nOK|sine|fmi2Terminate\nOK|sine|fmi2Reset completed\n");
}

} // namespace

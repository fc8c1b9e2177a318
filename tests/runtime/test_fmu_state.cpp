// FMU states on the test model: everything an instance holds comes back on
// restore (values, strings, mode, time, shared blocks, ModelData with its
// delay buffers, the integrator record), the pointers inside the restored
// ModelData are the instance's own, and failures clean up after themselves.
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver_fixture.h"
#include "fmu_state.h"
#include "integrator.h"

namespace {

const fmi2ValueReference kInput0 = ref(5, 0);
const fmi2ValueReference kInput1 = ref(5, 1);
const fmi2ValueReference kState0 = ref(2, 0);
const fmi2ValueReference kState1 = ref(2, 1);
const fmi2ValueReference kString0 = ref(8, 0);

// der(x0) = -p0 x0, der(x1) = u0; y0 = x0 + u1, y1 = u0^2; w0 = time.
void linearModel(FakeCall& f) {
    f.derivatives[0] = -f.parameters[0] * f.states[0];
    f.derivatives[1] = f.inputs[0];
    f.outputs[0] = f.states[0] + f.inputs[1];
    f.outputs[1] = f.inputs[0] * f.inputs[0];
    f.auxiliaries[0] = *f.time;
    for (int i = 0; i < 4; ++i) f.eventIndicators[i] = 1.0;
}

class FmuStateTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        fake().body = linearModel;
    }
    void TearDown() override {
        if (cs_) api().FreeInstance(cs_);
        cs_ = nullptr;
        DriverTest::TearDown();
    }
    fmi2Component c() { return component_; }
    ModelInstance* in(fmi2Component c) { return static_cast<ModelInstance*>(c); }

    void toEventMode(fmi2Component c) {
        ASSERT_EQ(api().SetupExperiment(c, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        ASSERT_EQ(api().EnterInitializationMode(c), fmi2OK);
        ASSERT_EQ(api().ExitInitializationMode(c), fmi2OK);
    }
    fmi2Component coSimulation() {
        cs_ = host().instantiate("cs", fmi2CoSimulation, MODEL_GUID);
        EXPECT_NE(cs_, nullptr);
        toEventMode(cs_);
        EXPECT_EQ(in(cs_)->mode, modeContinuousOrStepping);
        return cs_;
    }
    double get(fmi2Component c, fmi2ValueReference vr) {
        double v = -1;
        EXPECT_EQ(api().GetReal(c, &vr, 1, &v), fmi2OK);
        return v;
    }
    void set(fmi2Component c, fmi2ValueReference vr, double v) { ASSERT_EQ(api().SetReal(c, &vr, 1, &v), fmi2OK); }
    std::string last() {
        if (host().log.empty()) return "<none>";
        const LogRecord& r = host().log.back();
        return std::string(statusName(r.status)) + "|" + r.message;
    }

    fmi2Component cs_ = nullptr;
};

TEST_F(FmuStateTest, RestoreBringsBackValuesModeTimeBlocksAndModelData) {
    toEventMode(c());
    ModelInstance* m = instance();
    set(c(), kInput0, 1.25);
    fmi2String text = "saved text";
    ASSERT_EQ(api().SetString(c(), &kString0, 1, &text), fmi2OK);
    m->timeData[kTimeNextEvent] = 7.5;
    m->flags[kFlagWord] = 6;
    md()->eventTime = 0.125;
    md()->delays[0].times[3] = 42.0;
    md()->delays[0].values[3] = -42.0;
    md()->delays[0].position = 3;
    const int savedLevel = m->computedLevel;

    fmi2FMUstate state = nullptr;
    ASSERT_EQ(api().GetFMUstate(c(), &state), fmi2OK);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(in(state)->isStateCopy, 1);

    // Change everything, including the mode.
    set(c(), kInput0, -3);
    text = "changed";
    ASSERT_EQ(api().SetString(c(), &kString0, 1, &text), fmi2OK);
    fmi2EventInfo info{};
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    ASSERT_EQ(api().EnterContinuousTimeMode(c()), fmi2OK);
    ASSERT_EQ(api().SetTime(c(), 0.75), fmi2OK);
    m->timeData[kTimeNextEvent] = 1;
    m->flags[kFlagWord] = 0;
    md()->eventTime = 9;
    md()->delays[0].times[3] = 0;
    md()->delays[0].position = 0;

    ASSERT_EQ(api().SetFMUstate(c(), state), fmi2OK);
    EXPECT_EQ(m->mode, modeEvent) << "a state saved in event mode comes back in event mode";
    EXPECT_EQ(m->time, 0.0);
    EXPECT_EQ(m->computedLevel, savedLevel);
    EXPECT_EQ(m->u[0], 1.25);
    EXPECT_STREQ(m->strings[0], "saved text");
    EXPECT_EQ(m->timeData[kTimeNextEvent], 7.5);
    EXPECT_EQ(m->flags[kFlagWord], 6);
    EXPECT_EQ(md()->eventTime, 0.125);
    EXPECT_EQ(md()->delays[0].times[3], 42.0);
    EXPECT_EQ(md()->delays[0].values[3], -42.0);
    EXPECT_EQ(md()->delays[0].position, 3u);

    // The restored block points at the instance's own storage, never the state's.
    ModelData* copy = in(state)->modelData;
    EXPECT_EQ(md()->timeData, m->timeData);
    EXPECT_EQ(md()->flags, m->flags);
    EXPECT_NE(md()->delays[0].times, copy->delays[0].times);
    EXPECT_EQ(md()->delays[0].values, md()->delays[0].times + md()->delays[0].size);
    EXPECT_EQ(copy->timeData, in(state)->timeData);
    EXPECT_EQ(copy->flags, in(state)->flags);
    for (int i = 0; i < MODEL_NSTRING_SLOTS; ++i) {
        if (md()->stringSlotTable[i]) {
            EXPECT_EQ(md()->stringSlotTable[i], md()->stringSlots[i]);
        }
    }
    EXPECT_EQ(in(state)->functions, &in(state)->callbacks);

    // The instance goes on from the restored point.
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    ASSERT_EQ(api().EnterContinuousTimeMode(c()), fmi2OK);
    EXPECT_EQ(get(c(), ref(4, 1, 1)), 1.25 * 1.25);

    ASSERT_EQ(api().FreeFMUstate(c(), &state), fmi2OK);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(last(), "OK|fmi2FreeFMUstate");
}

TEST_F(FmuStateTest, SecondGetReusesTheStateAndAnEarlyGetAllocatesTheDelayBuffers) {
    ASSERT_EQ(md()->delays[0].size, 0) << "no model call yet";
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(api().GetFMUstate(c(), &state), fmi2OK);
    EXPECT_EQ(md()->delays[0].size, Buffersize);
    EXPECT_EQ(in(state)->modelData->delays[0].size, Buffersize);

    toEventMode(c());
    set(c(), kInput1, 8);
    const long allocations = TestHost::allocator.total;
    fmi2FMUstate same = state;
    ASSERT_EQ(api().GetFMUstate(c(), &same), fmi2OK);
    EXPECT_EQ(same, state);
    EXPECT_EQ(TestHost::allocator.total, allocations) << "overwriting a state allocates nothing";
    EXPECT_EQ(in(state)->u[1], 8);
    EXPECT_EQ(in(state)->mode, modeEvent);
    ASSERT_EQ(api().FreeFMUstate(c(), &state), fmi2OK);
}

TEST_F(FmuStateTest, RefusedCallsAndNullArguments) {
    fmi2FMUstate state = nullptr;
    EXPECT_EQ(api().FreeFMUstate(c(), &state), fmi2OK);
    EXPECT_EQ(api().FreeFMUstate(c(), nullptr), fmi2OK);
    EXPECT_TRUE(host().log.empty());
    EXPECT_EQ(api().SetFMUstate(c(), nullptr), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetFMUstate: FMUstate == NULL");

    instance()->resultGeneration = 1;
    EXPECT_EQ(api().GetFMUstate(c(), &state), fmi2Warning);
    EXPECT_EQ(last(),
              "Warning|fmi2GetFMUstate failed, FMU uses internal result generation; this is not possible to combine "
              "with fmi2GetFMUstate");
    EXPECT_EQ(state, nullptr);
    instance()->resultGeneration = 0;
}

TEST_F(FmuStateTest, EveryFailedAllocationOfAGetEndsCleanly) {
    const long baseline = TestHost::allocator.live; // the fixture's instance
    for (fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
        for (long n = 1;; ++n) {
            ASSERT_LT(n, 200) << "the get never succeeded";
            fmi2Component c = host().instantiate("walk", type, MODEL_GUID);
            ASSERT_NE(c, nullptr);
            toEventMode(c);
            host().clearLog();
            fmi2FMUstate state = nullptr;
            TestHost::allocator.failAt = n;
            const fmi2Status status = api().GetFMUstate(c, &state);
            const bool failed = TestHost::allocator.failed > 0;
            TestHost::allocator.failAt = 0;
            TestHost::allocator.failed = 0;
            if (!failed) {
                EXPECT_EQ(status, fmi2OK);
                api().FreeFMUstate(c, &state);
                api().FreeInstance(c);
                break;
            }
            EXPECT_EQ(status, fmi2Error) << n;
            EXPECT_EQ(state, nullptr) << n;
            EXPECT_TRUE(host().logContains("memory allocation failed")) << n;
            EXPECT_EQ(in(c)->mode, modeTerminated) << n;
            api().FreeInstance(c);
            EXPECT_EQ(TestHost::allocator.live, baseline) << "nothing of the walk is left, " << n;
        }
    }
}

// ---- Co-Simulation: the integrator record travels with the state ----

// The states after stepping `steps` steps of 0.1 from `t`.
std::vector<double> stepAndRead(const FmiApi& api, fmi2Component c, double t, int steps) {
    for (int k = 0; k < steps; ++k) EXPECT_EQ(api.DoStep(c, t + 0.1 * k, 0.1, fmi2True), fmi2OK);
    std::vector<double> x(2);
    const fmi2ValueReference vr[] = {kState0, kState1};
    EXPECT_EQ(api.GetReal(c, vr, 2, x.data()), fmi2OK);
    return x;
}

// Continuing without a restart and continuing after a restore (which restarts
// CVODE) agree within the integration tolerance.
void expectClose(const std::vector<double>& a, const std::vector<double>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 1e-4) << i;
}

TEST_F(FmuStateTest, CoSimulationRestoreRepeatsTheSameIntegration) {
    fmi2Component c = coSimulation();
    set(c, kInput0, 0.5);
    stepAndRead(api(), c, 0.0, 3);
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(api().GetFMUstate(c, &state), fmi2OK);
    ASSERT_NE(in(state)->integrator, nullptr);
    EXPECT_EQ(in(state)->integrator->cvodeMem, nullptr) << "a state's record holds no SUNDIALS object";
    EXPECT_EQ(in(state)->integrator->stateVector, nullptr);
    EXPECT_EQ(in(state)->integrator->externalSteps, 3);

    const std::vector<double> first = stepAndRead(api(), c, 0.3, 5);
    ASSERT_EQ(api().SetFMUstate(c, state), fmi2OK);
    EXPECT_NEAR(in(c)->time, 0.3, 1e-15);
    EXPECT_EQ(in(c)->integrator->externalSteps, 3);
    EXPECT_EQ(in(c)->integrator->rejectedExternalSteps, 5) << "the discarded steps are counted";
    const std::vector<double> again = stepAndRead(api(), c, 0.3, 5);
    expectClose(again, first);
    ASSERT_EQ(api().SetFMUstate(c, state), fmi2OK);
    EXPECT_EQ(stepAndRead(api(), c, 0.3, 5), again) << "two restores integrate identically";
    EXPECT_NEAR(again[0], 1.0 * exp(-0.5 * 0.8), 1e-4);
    EXPECT_NEAR(again[1], -2.0 + 0.5 * 0.8, 1e-6);
    ASSERT_EQ(api().FreeFMUstate(c, &state), fmi2OK);
    ASSERT_EQ(api().Terminate(c), fmi2OK);
}

TEST_F(FmuStateTest, CoSimulationRestoreAfterTerminateOrResetCreatesTheIntegrator) {
    fmi2Component c = coSimulation();
    stepAndRead(api(), c, 0.0, 2);
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(api().GetFMUstate(c, &state), fmi2OK);
    const std::vector<double> reference = stepAndRead(api(), c, 0.2, 4);

    ASSERT_EQ(api().Terminate(c), fmi2OK);
    ASSERT_EQ(in(c)->integrator, nullptr);
    ASSERT_EQ(api().SetFMUstate(c, state), fmi2OK) << host().logText();
    ASSERT_NE(in(c)->integrator, nullptr);
    EXPECT_EQ(in(c)->mode, modeContinuousOrStepping);
    expectClose(stepAndRead(api(), c, 0.2, 4), reference);

    ASSERT_EQ(api().Reset(c), fmi2OK);
    ASSERT_EQ(in(c)->integrator, nullptr);
    ASSERT_EQ(api().SetFMUstate(c, state), fmi2OK) << host().logText();
    expectClose(stepAndRead(api(), c, 0.2, 4), reference);
    ASSERT_EQ(api().FreeFMUstate(c, &state), fmi2OK);
}

TEST_F(FmuStateTest, CoSimulationStateBeforeInitializationTakesTheIntegratorAway) {
    cs_ = host().instantiate("cs", fmi2CoSimulation, MODEL_GUID);
    fmi2Component c = cs_;
    fmi2FMUstate early = nullptr;
    ASSERT_EQ(api().GetFMUstate(c, &early), fmi2OK);
    EXPECT_EQ(in(early)->integrator, nullptr);
    toEventMode(c);
    stepAndRead(api(), c, 0.0, 1);
    ASSERT_NE(in(c)->integrator, nullptr);

    ASSERT_EQ(api().SetFMUstate(c, early), fmi2OK);
    EXPECT_EQ(in(c)->mode, modeInstantiated);
    EXPECT_EQ(in(c)->integrator, nullptr);
    // From there the ordinary life cycle runs again.
    toEventMode(c);
    const std::vector<double> x = stepAndRead(api(), c, 0.0, 2);
    EXPECT_NEAR(x[0], exp(-0.5 * 0.2), 1e-4);
    ASSERT_EQ(api().FreeFMUstate(c, &early), fmi2OK);
}

TEST_F(FmuStateTest, CoSimulationFailedIntegratorCreationIsAnError) {
    fmi2Component c = coSimulation();
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(api().GetFMUstate(c, &state), fmi2OK);
    ASSERT_EQ(api().Terminate(c), fmi2OK);
    host().clearLog();
    TestHost::allocator.failAt = 1; // the integrator record
    EXPECT_EQ(api().SetFMUstate(c, state), fmi2Error);
    TestHost::allocator.failAt = 0;
    TestHost::allocator.failed = 0;
    EXPECT_TRUE(host().logContains("fmi2SetFMUstate failed"));
    EXPECT_EQ(in(c)->mode, modeTerminated);
    EXPECT_EQ(in(c)->integrator, nullptr);
    ASSERT_EQ(api().FreeFMUstate(c, &state), fmi2OK);
}

} // namespace

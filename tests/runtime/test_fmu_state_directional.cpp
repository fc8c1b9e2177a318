// Directional derivatives on the test model: the perturbation step, the
// central and one-sided differences, failed evaluations (never reported as
// success), the known variables put back on every path, and the work vectors.
#include <math.h>

#include <vector>

#include "driver_fixture.h"

namespace {

const fmi2ValueReference kInput0 = ref(5, 0);
const fmi2ValueReference kInput1 = ref(5, 1);
const fmi2ValueReference kOutput0 = ref(4, 0, 1);
const fmi2ValueReference kOutput1 = ref(4, 1, 1);
const fmi2ValueReference kParameter2 = ref(1, 2);

// The inputs of each evaluation, and how an evaluation at a perturbed point fails.
struct Seen {
    std::vector<double> u0, u1;
    double failAbove = 1e300;  // u0 above this fails
    double failBelow = -1e300; // and below this
    int failure = 0;          // QiErr of the failure; 0: a runtime error
};
Seen& seen() {
    static Seen s;
    return s;
}

// y0 = u0 u1 + p2, y1 = u0^3.
void model(FakeCall& f) {
    seen().u0.push_back(f.inputs[0]);
    seen().u1.push_back(f.inputs[1]);
    if (f.inputs[0] > seen().failAbove || f.inputs[0] < seen().failBelow) {
        if (seen().failure == 0) runtimeError("perturbed too far");
        *f.QiErr = seen().failure;
        return;
    }
    f.outputs[0] = f.inputs[0] * f.inputs[1] + f.parameters[2];
    f.outputs[1] = f.inputs[0] * f.inputs[0] * f.inputs[0];
}

class Directional : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        seen() = Seen{};
        fake().body = model;
        ASSERT_EQ(api().SetupExperiment(c(), fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        ASSERT_EQ(api().EnterInitializationMode(c()), fmi2OK);
        ASSERT_EQ(api().ExitInitializationMode(c()), fmi2OK);
    }
    fmi2Component c() { return component_; }
    void setInputs(double u0, double u1) {
        const fmi2ValueReference vr[] = {kInput0, kInput1};
        const double v[] = {u0, u1};
        ASSERT_EQ(api().SetReal(c(), vr, 2, v), fmi2OK);
        seen().u0.clear();
        seen().u1.clear();
    }
    fmi2Status derivative(const std::vector<fmi2ValueReference>& unknown, const std::vector<fmi2ValueReference>& known,
                          const std::vector<double>& seed, std::vector<double>* result) {
        result->assign(unknown.size(), -99);
        return api().GetDirectionalDerivative(c(), unknown.data(), unknown.size(), known.data(), known.size(),
                                              seed.data(), result->data());
    }
    std::vector<double> inputs() {
        const fmi2ValueReference vr[] = {kInput0, kInput1};
        std::vector<double> v(2);
        EXPECT_EQ(api().GetReal(c(), vr, 2, v.data()), fmi2OK);
        return v;
    }
};

TEST_F(Directional, CentralDifferencesAlongTheSeed) {
    setInputs(2, 3);
    std::vector<double> d;
    ASSERT_EQ(derivative({kOutput0, kOutput1}, {kInput0, kInput1}, {1, 0}, &d), fmi2OK);
    EXPECT_NEAR(d[0], 3, 1e-9);
    EXPECT_NEAR(d[1], 12, 1e-8);
    // Both inputs at once: the derivative along (1, 1), and a seed of 2 doubles it.
    ASSERT_EQ(derivative({kOutput0}, {kInput0, kInput1}, {1, 1}, &d), fmi2OK);
    EXPECT_NEAR(d[0], 5, 1e-9);
    ASSERT_EQ(derivative({kOutput0}, {kInput0, kInput1}, {2, 2}, &d), fmi2OK);
    EXPECT_NEAR(d[0], 10, 1e-9);
    // A parameter as known variable; an all-zero seed gives 0 without moving anything.
    ASSERT_EQ(derivative({kOutput0}, {kParameter2}, {1}, &d), fmi2OK);
    EXPECT_NEAR(d[0], 1, 1e-9);
    ASSERT_EQ(derivative({kOutput0, kOutput1}, {kInput0}, {0}, &d), fmi2OK);
    EXPECT_EQ(d, (std::vector<double>{0, 0}));
    EXPECT_EQ(inputs(), (std::vector<double>{2, 3})) << "the known variables are put back";
    EXPECT_EQ(instance()->flags[kFlagDirectional], 0);
}

TEST_F(Directional, StepFollowsTheSizeOfTheKnownValues) {
    setInputs(0, 1000);
    std::vector<double> d;
    ASSERT_EQ(derivative({kOutput0}, {kInput0}, {1}, &d), fmi2OK);
    // Reference read, plus point, minus point.
    ASSERT_GE(seen().u0.size(), 2u);
    const size_t n = seen().u0.size();
    EXPECT_DOUBLE_EQ(seen().u0[n - 2], 1e-5);
    EXPECT_DOUBLE_EQ(seen().u0[n - 1], -1e-5);

    setInputs(0, 1000);
    ASSERT_EQ(derivative({kOutput0}, {kInput1}, {1}, &d), fmi2OK);
    EXPECT_NEAR(seen().u1[seen().u1.size() - 2] - 1000, 1001 * 1e-5, 1e-12);

    // Both in one call: the smaller step moves both.
    setInputs(0, 1000);
    ASSERT_EQ(derivative({kOutput0}, {kInput0, kInput1}, {1, 1}, &d), fmi2OK);
    const size_t m = seen().u0.size();
    EXPECT_DOUBLE_EQ(seen().u0[m - 2], 1e-5);
    EXPECT_NEAR(seen().u1[m - 2] - 1000, 1e-5, 1e-9);
}

TEST_F(Directional, OneFailedSideGivesAOneSidedDifference) {
    setInputs(1, 0);
    seen().failAbove = 1.000001; // the plus point fails with a runtime error (a Discard)
    std::vector<double> d;
    ASSERT_EQ(derivative({kOutput1}, {kInput0}, {1}, &d), fmi2OK) << host().logText();
    EXPECT_NEAR(d[0], 3, 1e-4);
    EXPECT_EQ(inputs(), (std::vector<double>{1, 0}));
    EXPECT_EQ(instance()->mode, modeEvent);
}

TEST_F(Directional, AnEvaluationEndingInErrorIsTheResult) {
    setInputs(1, 0);
    seen().failAbove = 1.000001;
    seen().failure = 3; // not a read failure: the instance is terminated
    std::vector<double> d;
    EXPECT_EQ(derivative({kOutput1}, {kInput0}, {1}, &d), fmi2Error);
    EXPECT_EQ(instance()->mode, modeTerminated);
    EXPECT_EQ(d[0], 0) << "no value from the failed evaluation";
    EXPECT_EQ(instance()->u[0], 1) << "the known variable is put back even so";
    EXPECT_EQ(instance()->flags[kFlagDirectional], 0);
    EXPECT_EQ(instance()->directionalDerivativeActive, 0);

    // Once terminated, no derivative is computed from frozen values.
    host().clearLog();
    EXPECT_EQ(derivative({kOutput1}, {kInput0}, {1}, &d), fmi2Warning);
    EXPECT_TRUE(host().logContains("fmi2GetDirectionalDerivative: not allowed after termination"));
    EXPECT_EQ(d[0], 0) << "the host's array keeps no stale numbers";
}

TEST_F(Directional, BothSidesFailingGiveTheSecondStatusAndRestore) {
    setInputs(1, 0);
    seen().failAbove = 1.000001;
    seen().failBelow = 0.999999;
    std::vector<double> d;
    EXPECT_EQ(derivative({kOutput1}, {kInput0}, {1}, &d), fmi2Discard);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(instance()->u[0], 1) << "the known variable is put back";
    EXPECT_EQ(instance()->mode, modeEvent);
}

TEST_F(Directional, AKnownVariableThatCannotBeWrittenPutsTheOthersBack) {
    setInputs(1, 2);
    std::vector<double> d;
    // Output 0 may not change after initialization: the input before it was
    // already moved to its plus value and must be put back.
    EXPECT_EQ(derivative({kOutput1}, {kInput0, kOutput0}, {1, 1}, &d), fmi2Warning);
    EXPECT_EQ(instance()->u[0], 1);
}

TEST_F(Directional, WorkVectorsGrowOnlyAndZeroCountsNeedNone) {
    setInputs(1, 1);
    std::vector<double> d;
    long before = TestHost::allocator.total;
    ASSERT_EQ(derivative({kOutput0}, {}, {}, &d), fmi2OK);
    EXPECT_EQ(d[0], 0);
    ASSERT_EQ(derivative({}, {kInput0}, {1}, &d), fmi2OK);
    EXPECT_EQ(TestHost::allocator.total, before) << "zero counts allocate nothing";

    // The first computation also makes the instance's snapshot, which later ones reuse.
    ASSERT_EQ(derivative({kOutput0}, {kInput0}, {1}, &d), fmi2OK);
    before = TestHost::allocator.total;
    ASSERT_EQ(derivative({kOutput0, kOutput1}, {kInput0, kInput1}, {1, 1}, &d), fmi2OK);
    EXPECT_EQ(TestHost::allocator.total, before + 6);
    before = TestHost::allocator.total;
    ASSERT_EQ(derivative({kOutput0}, {kInput0}, {1}, &d), fmi2OK);
    EXPECT_EQ(TestHost::allocator.total, before) << "fewer variables reuse the vectors";
}

TEST_F(Directional, FailedWorkVectorAllocationIsAnError) {
    setInputs(1, 1);
    std::vector<double> d;
    TestHost::allocator.failAt = 2;
    EXPECT_EQ(derivative({kOutput0}, {kInput0}, {1}, &d), fmi2Error);
    TestHost::allocator.failAt = 0;
    TestHost::allocator.failed = 0;
    EXPECT_TRUE(host().logContains("fmi2GetDirectionalDerivative: memory allocation failed"));
    EXPECT_EQ(instance()->mode, modeTerminated);
    EXPECT_EQ(instance()->vCapacity, 0u);
}

} // namespace

namespace {

TEST_F(Directional, StateSavedForPerturbationsIsFreedWithTheInstance) {
    // With perturbations from a saved state the instance keeps that state;
    // freeing the instance gives it back (the fixture checks the allocator).
    instance()->perturbByState = 1;
    setInputs(2, 3);
    std::vector<double> d;
    ASSERT_EQ(derivative({kOutput0}, {kInput0}, {1}, &d), fmi2OK);
    EXPECT_NEAR(d[0], 3, 1e-9);
    EXPECT_NE(instance()->perturbationState, nullptr);
}

} // namespace

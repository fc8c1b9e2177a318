// Relations with hysteresis: truth values, event epsilons and their growth,
// change flags and the log messages of a change.
#include <math.h>

#include "relations.h"
#include "runtime_fixture.h"

namespace {

// The slots of one relation, as crossingFunction hands them over.
struct Relation {
    int result = 0;
    double epsilon = 0;
    double output = 0;
    int changed = 0;
    int changedInCall = 0;
    double a = 1e-10;
    double cap = 1e-4;

    void eval(double value, int direction, int hysteresis, int initial = 0, int flags = 0, int allowGrowth = 0,
              int asWritten = 1) {
        evaluateRelation("x >= 1", "(x)-(1)", &result, &epsilon, &output, a, value, initial, flags, &changed,
                         &changedInCall, direction, asWritten, hysteresis, cap, allowGrowth, 1);
    }
};

class Relations : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        enterModelCall(); // the instance's flags word stays 0: no event log file
    }
};

TEST_F(Relations, ZeroValueIsTrueForBothDirections) {
    Relation up;
    up.eval(0.0, 1, 0, 1);
    EXPECT_EQ(up.result, 1);
    EXPECT_EQ(up.output, -1e-10);
    Relation down;
    down.eval(0.0, 0, 0, 1);
    EXPECT_EQ(down.result, 1);
    EXPECT_EQ(down.output, 1e-10);
    // asWritten 0 gives the negation.
    Relation negated;
    negated.eval(0.0, 1, 0, 1, 0, 0, 0);
    EXPECT_EQ(negated.result, 0);
    // A NaN value compares false both ways: the relation holds, epsilons stay.
    Relation nan;
    nan.epsilon = 3e-10;
    nan.result = 1;
    nan.eval(NAN, 1, 0);
    EXPECT_EQ(nan.result, 1);
    EXPECT_EQ(nan.output, -1e-10);
    EXPECT_EQ(nan.epsilon, 3e-10);
    EXPECT_EQ(nan.changed, 0);
}

TEST_F(Relations, InitialCallRaisesNoFlagsAndLogsOnlyWithBothBits) {
    Relation r;
    r.eval(0.5, 1, 0, 1, kFlagsLogEvents);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.changed, 0);
    EXPECT_EQ(r.changedInCall, 0);
    EXPECT_TRUE(host().log.empty());

    Relation both;
    both.eval(0.5, 1, 0, 1, kFlagsLogEvents | kFlagsLogAlways);
    EXPECT_EQ(both.changed, 0);
    EXPECT_EQ(host().logText(), "OK|rt|Expression x >= 1 became true ( (x)-(1) = 0.5 )\n");
    host().clearLog();
    // With hysteresis only a changed value is logged at the initial call.
    both.eval(0.5, 1, 1, 1, kFlagsLogEvents | kFlagsLogAlways);
    EXPECT_TRUE(host().log.empty());
}

TEST_F(Relations, ChangeAtAnEventRaisesFlagsAndLogs) {
    Relation r;
    r.epsilon = 1e-10; // false so far: the epsilon lies on the far (positive) side
    r.eval(0.5, 1, 1, 0, kFlagsLogEvents);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.changed, 1);
    EXPECT_EQ(r.changedInCall, 1);
    EXPECT_EQ(r.epsilon, -1e-10);
    EXPECT_EQ(host().logText(), "OK|rt|Expression x >= 1 became true ( (x)-(1) = 0.5 )\n");
    host().clearLog();

    // The changedInCall pointer may be null.
    int result = 1, changed = 0;
    double epsilon = -1e-10, output = 0;
    evaluateRelation("x >= 1", "(x)-(1)", &result, &epsilon, &output, 1e-10, -0.5, 0, 0, &changed, nullptr, 1, 1, 1,
                     1e-4, 0, 1);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(host().log.empty()) << "nothing is logged without bit 2";
}

TEST_F(Relations, HysteresisNeedsTheValueToPassTheEpsilon) {
    Relation r;
    r.result = 1;
    r.epsilon = -3.7e-9;
    // Below zero but not below -epsilon: still true, epsilon exactly as it was.
    r.eval(-2e-9, 1, 1);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.changed, 0);
    EXPECT_EQ(r.epsilon, -3.7e-9);
    EXPECT_EQ(r.output, -1e-10);
    // Without hysteresis the plain value decides.
    r.eval(-2e-9, 1, 0);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.changed, 1);
}

TEST_F(Relations, EpsilonGrowsTenfoldUpToTheCap) {
    Relation r;
    r.epsilon = 1e-10;
    const double expected[] = {1e-9, 1e-8, 1e-7, 1e-6, 1e-5};
    double value = 5e-5;
    for (double size : expected) {
        r.eval(value, 1, 1, 0, kFlagsLogEvents, 1);
        EXPECT_NEAR(fabs(r.epsilon), size, size * 1e-12);
        EXPECT_EQ(r.epsilon < 0, value > 0) << "the epsilon lies on the far side";
        value = -value;
    }
    int warnings = 0;
    for (const LogRecord& record : host().log) warnings += record.message.rfind("Warning: Event epsilon of x >= 1 increased to ", 0) == 0;
    EXPECT_EQ(warnings, 5);
    EXPECT_TRUE(host().logContains("Warning: Event epsilon of x >= 1 increased to 1e-09.\n"));

    // Never beyond the cap.
    Relation big;
    big.epsilon = 5e-5;
    big.eval(9e-5, 1, 1, 0, 0, 1);
    EXPECT_EQ(big.epsilon, -1e-4);

    // The first change after a reset does not grow and warns of nothing.
    host().clearLog();
    Relation fresh;
    fresh.eval(5e-5, 1, 1, 0, kFlagsLogEvents, 1);
    EXPECT_EQ(fresh.epsilon, -1e-10);
    EXPECT_FALSE(host().logContains("Warning: Event epsilon of x >= 1 increased to 1e-10.\n"));

    // No growth without permission or for a value beyond the cap: the size is kept.
    Relation kept;
    kept.epsilon = 3e-8;
    kept.eval(5e-5, 1, 1, 0, 0, 0);
    EXPECT_EQ(kept.epsilon, -3e-8);
    Relation far;
    far.epsilon = 3e-8;
    far.eval(2e-4, 1, 1, 0, 0, 1);
    EXPECT_EQ(far.epsilon, -3e-8);
}

TEST_F(Relations, WithoutHysteresisTheEpsilonFollowsTheValue) {
    Relation r;
    r.result = 1;
    r.epsilon = 7e-3;
    r.eval(5e-11, 1, 0); // unchanged, value below a: the full output
    EXPECT_EQ(r.epsilon, -1e-10);
    r.epsilon = 7e-3;
    r.eval(0.5, 1, 0); // unchanged, far beyond cap and 100a: output * 1e-6
    EXPECT_DOUBLE_EQ(r.epsilon, -1e-16);
    r.epsilon = 7e-3;
    r.eval(5e-5, 1, 0); // unchanged, between: the epsilon stays
    EXPECT_EQ(r.epsilon, 7e-3);

    r.eval(-5e-9, 1, 0); // a change with 100a > |value|: the full output
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.epsilon, 1e-10);
    r.eval(5e-5, 1, 0); // a change with a larger value: output * 1e-6
    EXPECT_EQ(r.result, 1);
    EXPECT_DOUBLE_EQ(r.epsilon, -1e-16);
}

TEST_F(Relations, CrossingFunctionUsesTheSlotsOfTheRelation) {
    ModelData* d = instance()->modelData;
    d->crossingScale = 1e-10;
    d->initialCall = 0;
    d->crossingChanged = 0;
    d->relationChanged = 0;
    d->relationNominals[2] = 2.0;
    d->relationValues[2] = 1e-5;
    d->relationEvaluated[2] = 1;
    d->relationStates[2] = 0;
    d->eventEpsilons[2] = 2e-10;
    d->restartIteration = 6;
    crossingFunction(d, "y <= 0", "(y)-(0)", 2, 0, 0, 1);
    EXPECT_EQ(d->relationStates[2], 0) << "direction 0: y <= 0 is false for a positive value";
    EXPECT_EQ(d->crossingOutputs[2], -2e-10);
    EXPECT_EQ(d->crossingChanged, 0);

    d->relationValues[2] = -1e-5;
    crossingFunction(d, "y <= 0", "(y)-(0)", 2, 0, 0, 1);
    EXPECT_EQ(d->relationStates[2], 1);
    EXPECT_EQ(d->crossingChanged, 1);
    EXPECT_EQ(d->relationChanged, 1);
    EXPECT_NEAR(d->eventEpsilons[2], 2e-9, 1e-21) << "grown tenfold: restartIteration > 5";
    EXPECT_EQ(d->relationStates[1], 0) << "other relations untouched";

    d->restartIteration = 5;
    d->relationValues[2] = 1e-5;
    crossingFunction(d, "y <= 0", "(y)-(0)", 2, 0, 0, 1);
    EXPECT_EQ(d->relationStates[2], 0);
    EXPECT_NEAR(d->eventEpsilons[2], -2e-9, 1e-21) << "kept, not grown";

    EXPECT_EQ(runUnderTrap([&] { crossingFunction(d, "y <= 0", "(y)-(0)", 3, 0, 0, 1); }), 1);
    EXPECT_EQ(runUnderTrap([&] { crossingFunction(d, "y <= 0", "(y)-(0)", 0, 0, 0, 1); }), 1);
}

} // namespace

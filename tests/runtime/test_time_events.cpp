// Time-reached events, sample clocks, integer time events and the step factor
// of inline integration, on the test model's ModelData.
#include <math.h>

#include "driver_fixture.h"
#include "time_events.h"

namespace {

class TimeEvents : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        enterModelCall();
        next() = 1e100; // as at the start of an event iteration
        instance()->timeData[kTimeScale] = 0;
    }
    double& next() { return instance()->timeData[kTimeNextEvent]; }
};

TEST_F(TimeEvents, TheEarliestRegisteredTimeStaysPending) {
    registerTimeEvent(3.0, md());
    EXPECT_EQ(next(), 3.0);
    registerTimeEvent(5.0, md());
    EXPECT_EQ(next(), 3.0) << "a later event changes nothing";
    registerTimeEvent(2.0, md());
    EXPECT_EQ(next(), 2.0);
    // Within the tolerance of the earliest one the later time stays pending, in either order.
    const double tiny = 1e-15;
    registerTimeEvent(2.0 + tiny, md());
    EXPECT_EQ(next(), 2.0 + tiny);
    registerTimeEvent(2.0 - tiny, md());
    EXPECT_EQ(next(), 2.0 + tiny);
    // The bound instance is used when none is named.
    registerTimeEventCurrent(1.0);
    EXPECT_EQ(next(), 1.0);
}

TEST_F(TimeEvents, TimeReachedEventWithItsTolerance) {
    int crossing = 0, changed = 0, state = 0;
    // Before t0: the time is registered, nothing is raised.
    timeEvent(2.0, 0, md(), 1.0, 0, &crossing, &changed, 1, 1, &state);
    EXPECT_EQ(next(), 2.0);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(crossing + changed, 0);
    // Within 4e-14 (|time| + scale) below t0 counts as reached.
    const double almost = 2.0 - 1e-14;
    timeEvent(2.0, 0, md(), almost, 0, &crossing, &changed, 1, 1, &state);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(crossing, 1);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(host().logText(), "OK|rt|Time event at time: 1.99999999999999\n");
    // Reached again: nothing new.
    crossing = changed = 0;
    host().clearLog();
    timeEvent(2.0, 0, md(), 2.5, 0, &crossing, &changed, 1, 1, &state);
    EXPECT_EQ(crossing + changed, 0);
    EXPECT_TRUE(host().log.empty());
    // Going back switches it off; outside an event pass only the second flag is raised.
    timeEvent(2.0, 0, md(), 1.5, 0, &crossing, &changed, 0, 0, &state);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(crossing, 0);
    // A missing flag or state pointer does nothing.
    next() = 1e100;
    timeEvent(2.0, 0, md(), 1.0, 0, nullptr, &changed, 0, 1, &state);
    timeEvent(2.0, 0, md(), 1.0, 0, &crossing, &changed, 0, 1, nullptr);
    EXPECT_EQ(next(), 1e100);
}

TEST_F(TimeEvents, SampleTicksInTheFirstPassAndCatchesUp) {
    md()->restartIteration = 1;
    // Initialisation at time 0 with start 0.5 and interval 0.25: the first instant is registered.
    EXPECT_EQ(sampleEvent(md(), 0.0, 0.5, 0.25, 0, 1, 1), 0);
    EXPECT_EQ(next(), 0.5);
    EXPECT_EQ(instance()->timeData[kTimeScale], 0.5) << "largest sample start seen";
    EXPECT_EQ(md()->relationFlags[10], 1) << "marked active";
    // Several instants missed: one tick, the counter catches up, the next instant is registered.
    next() = 1e100;
    EXPECT_EQ(sampleEvent(md(), 1.1, 0.5, 0.25, 0, 0, 1), 1);
    EXPECT_EQ(md()->sampleCounters[1], 4.0) << "0.5, 0.75, 1.0 passed";
    EXPECT_EQ(next(), 1.25);
    // Reported in the first pass of an iteration only.
    md()->restartIteration = 2;
    EXPECT_EQ(sampleEvent(md(), 1.1, 0.5, 0.25, 0, 0, 1), 0);
    // An initial value of 2 returns at once.
    EXPECT_EQ(sampleEvent(md(), 1.1, 0.5, 0.25, 0, 2, 1), 0);
    // Logged with event logging on.
    md()->restartIteration = 1;
    instance()->flags[kFlagWord] = kFlagsLogEvents;
    host().clearLog();
    EXPECT_EQ(sampleEvent(md(), 1.1, 0.5, 0.25, 0, 0, 1), 1);
    EXPECT_EQ(host().logText(), "OK|rt|Sample event (sample(0.5,0.25)) at time: 1.1\n");
}

TEST_F(TimeEvents, SampleCatchUpOverAHugeJumpEndsAndStallingInstantsFail) {
    md()->restartIteration = 1;
    EXPECT_EQ(sampleEvent(md(), 0.0, 0.0, 1e-3, 0, 1, 1), 1);
    // A billion seconds later in one call: the counter lands on the next instant.
    next() = 1e100;
    EXPECT_EQ(sampleEvent(md(), 1e9, 0.0, 1e-3, 0, 0, 1), 1);
    EXPECT_EQ(md()->sampleCounters[1], 1e12 + 2);
    EXPECT_NEAR(next(), 1e9 + 1e-3, 1e-6);
    // At 1e20 an interval of 1 no longer moves the instants: an error, not a hang.
    EXPECT_EQ(runUnderTrap([this] { sampleEvent(md(), 1e20, 0.0, 1.0, 0, 1, 1); }), 1);
    EXPECT_TRUE(host().logContains("Sample instants do not advance beyond the current time"));
}

TEST_F(TimeEvents, SampleWithoutPositiveIntervalIsARuntimeError) {
    EXPECT_EQ(runUnderTrap([this] { sampleEvent(md(), 0, 0, 0, 0, 1, 1); }), 1);
    EXPECT_TRUE(host().logContains("Sample did not have positive sample interval"));
    host().clearLog();
    EXPECT_EQ(runUnderTrap([this] { sampleEventSubSampled(md(), 0, 0, 1, 0, 0, 0, 1, 1); }), 1);
    EXPECT_TRUE(host().logContains("Sample did not have positive sample interval"));
    // The initial-sample service does not check the interval but never loops on it.
    EXPECT_EQ(runUnderTrap([this] { sampleEventInitial(md(), 1.0, 0, 0, 0, 1, 1); }), 0);
    // A sample index whose slots lie outside the arrays is refused.
    EXPECT_EQ(runUnderTrap([this] { sampleEvent(md(), 0, 0, 1, 1000, 1, 1); }), 1);
    EXPECT_EQ(runUnderTrap([this] { sampleEvent(md(), 0, 0, 1, -1, 1, 1); }), 1);
}

TEST_F(TimeEvents, SubSampledClockTicksEveryFactorBaseTicks) {
    md()->restartIteration = 1;
    // Base interval 1 from 0, factor 3, no shift: ticks at 2, 5, 8, ...
    EXPECT_EQ(sampleEventSubSampled(md(), 0.0, 0.0, 1.0, 0, 3, 0, 1, 1), 0);
    EXPECT_EQ(next(), 2.0);
    next() = 1e100;
    md()->sampleCounters[0] = 3; // the base clock's next number, as at time 2
    EXPECT_EQ(sampleEventSubSampled(md(), 2.0, 0.0, 1.0, 0, 3, 0, 0, 1), 1);
    EXPECT_EQ(next(), 5.0);
    next() = 1e100;
    md()->sampleCounters[0] = 4;
    EXPECT_EQ(sampleEventSubSampled(md(), 3.0, 0.0, 1.0, 0, 3, 0, 0, 1), 0);
    EXPECT_EQ(next(), 5.0);
}

TEST_F(TimeEvents, IntegerTimeEvent) {
    int crossing = 0, changed = 0;
    // floor(time / 0.5) with time 1.2: k = 2, next instant 1.5.
    EXPECT_EQ(integerTimeEvent(1, 0.5, md(), 1.2, &crossing, &changed, 0, 1), 2.0);
    EXPECT_EQ(crossing, 1);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(md()->sampleCounters[1], 3.0) << "k + 1 stored";
    EXPECT_EQ(next(), 1.5);
    EXPECT_EQ(host().logText(), "OK|rt|Time event at time: 1.2\n");
    // With the integer stored where it is read, a time inside the interval raises nothing.
    md()->sampleCounters[0] = md()->sampleCounters[1];
    crossing = changed = 0;
    EXPECT_EQ(integerTimeEvent(1, 0.5, md(), 1.4, &crossing, &changed, 0, 0), 2.0);
    EXPECT_EQ(crossing, 0);
    // Negative integers are stored as they are.
    EXPECT_EQ(integerTimeEvent(0, 2.0, md(), -0.7, &crossing, &changed, 0, 0), -2.0);
    EXPECT_EQ(md()->sampleCounters[1], -2.0);
    EXPECT_EQ(integerTimeEvent(0, 2.0, md(), -0.7, nullptr, &changed, 0, 0), 0.0);
}

TEST_F(TimeEvents, EventIterationFlagOfTheBoundInstance) {
    md()->eventFlag = 1;
    EXPECT_EQ(eventIterationFlag(), 1);
    md()->eventFlag = 0;
    EXPECT_EQ(eventIterationFlag(), 0);
}

TEST_F(TimeEvents, StepFactorShortensTheStepBeforeATimeEvent) {
    double derivatives[2] = {1.0, -2.0};
    double indicators[4] = {1, 1, 1, 1};
    ModelTimeData* td = instance()->timeData;
    // Initial call at 0; the step length is learnt from the next call after an event.
    eventStepFactor(md(), 0.0, 1, 1, indicators, 2, derivatives, 2, td, instance()->flags);
    EXPECT_EQ(td[kTimeStepFactor], 1.0);
    td[kTimeNextEvent] = 0.25; // half a step ahead of the next call
    eventStepFactor(md(), 0.1, 0, 0, indicators, 2, derivatives, 2, td, instance()->flags);
    EXPECT_NEAR(md()->stepObserved, 0.1, 1e-15);
    EXPECT_EQ(td[kTimeStepFactor], 1.0) << "the reduction applies from the next step on";
    eventStepFactor(md(), 0.2, 0, 0, indicators, 2, derivatives, 2, td, instance()->flags);
    EXPECT_NEAR(td[kTimeStepFactor], 0.5, 1e-9);
    EXPECT_NEAR(derivatives[0], 0.5, 1e-9);
    EXPECT_NEAR(derivatives[1], -1.0, 1e-9);
    EXPECT_NEAR(md()->stepUsed, 0.05, 1e-10);
}

TEST_F(TimeEvents, ARelationCrossingPredictedByTheIndicators) {
    double derivatives[2] = {1.0, 1.0};
    md()->relationEvaluated[1] = 1;
    ModelTimeData* td = instance()->timeData;
    td[kTimeNextEvent] = 1e100;
    double z[4] = {1.0, 1.0, 5, 5};
    eventStepFactor(md(), 0.0, 1, 1, z, 2, derivatives, 0, td, instance()->flags);
    const double times[] = {0.1, 0.2, 0.3};
    const double values[] = {0.8, 0.6, 0.1};
    double factor = 1.0;
    for (int k = 0; k < 3; ++k) {
        z[0] = z[1] = values[k];
        eventStepFactor(md(), times[k], 0, 0, z, 2, derivatives, 0, td, instance()->flags);
        factor = td[kTimeStepFactor];
    }
    // At 0.3 the indicator falls by 0.5 a step: the crossing lies within the next step.
    EXPECT_LT(factor, 1.0);
    EXPECT_GT(factor, 0.0);
}

} // namespace

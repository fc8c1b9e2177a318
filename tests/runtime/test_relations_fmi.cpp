// Relations of a model driven through the FMI calls: the test model's two
// relations cross while a host integrates it (Model Exchange) or while it
// integrates itself (Co-Simulation); the event indicators, the event times,
// the log messages and the lines of the event log are checked.
#include <math.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "model_interface.h"
#include "relations.h"
#include "runtime_fixture.h"
#include "test_event_log_support.h"

namespace {

const fmi2ValueReference kOutputs[2] = {ref(4, 0, 1), ref(4, 1, 1)};

// Generated-code order for relation i: nominal, value, evaluation at events,
// indicators, evaluated flag.
void relation(ModelData* d, ModelFlags* flags, double* indicators, int i, const char* condition,
              const char* expression, double left, double right, int direction) {
    d->relationNominals[i] = left > 1 ? left : (-left > 1 ? -left : 1);
    d->relationValues[i] = left - right;
    if (d->eventFlag) crossingFunction(d, condition, expression, i, flags[kFlagWord], direction, 1);
    if (indicators) indicators[2 * i - 2] = indicators[2 * i - 1] = d->relationValues[i] - d->eventEpsilons[i];
    d->relationEvaluated[i] = 1;
}

// der(x0) = 1, der(x1) = -2 from x = (1, -2): "x0 >= 2" becomes true at
// t = 1, "x1 <= -3" at t = 0.5. The outputs show the stored truth values.
int crossingModel(int*, int*, double*, double* x, double*, double*, double*, int*, int*, double* xdot, double* y,
                  double*, double* z, ModelTimeData*, ModelFlags* flags, char**, ModelData* d, int*) {
    relation(d, flags, z, 1, "x0 >= 2", "(x0)-(2)", x[0], 2.0, 1);
    relation(d, flags, z, 2, "x1 <= -3", "(x1)-(-3)", x[1], -3.0, 0);
    if (xdot) {
        xdot[0] = 1.0;
        xdot[1] = -2.0;
    }
    if (y) {
        y[0] = d->relationStates[1] & 1 ? 10.0 : 0.0;
        y[1] = d->relationStates[2] & 1 ? 20.0 : 0.0;
    }
    return 0;
}

class RelationsFmi : public RuntimeTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.ok());
        resetEventLog();
        saved_ = modelTable.modelEquations;
        modelTable.modelEquations = crossingModel;
        RuntimeTest::SetUp();
    }
    void TearDown() override {
        RuntimeTest::TearDown();
        modelTable.modelEquations = saved_;
        resetEventLog();
    }
    const FmiApi& api() { return host().api(); }
    std::vector<double> outputs(fmi2Component c) {
        std::vector<double> y(2, -1.0);
        EXPECT_EQ(api().GetReal(c, kOutputs, 2, y.data()), fmi2OK);
        return y;
    }
    int messagesStartingWith(const std::string& prefix) const {
        int count = 0;
        for (const LogRecord& r : host_->log) count += r.message.rfind(prefix, 0) == 0;
        return count;
    }

    ScratchDirectory directory_;
    ModelEquationsFn saved_ = nullptr;
};

TEST_F(RelationsFmi, ModelExchangeHostFindsBothCrossings) {
    fmi2Component c = component_;
    ASSERT_EQ(api().SetupExperiment(c, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(api().ExitInitializationMode(c), fmi2OK);
    fmi2EventInfo info{};
    do ASSERT_EQ(api().NewDiscreteStates(c, &info), fmi2OK);
    while (info.newDiscreteStatesNeeded);
    ASSERT_EQ(api().EnterContinuousTimeMode(c), fmi2OK);
    EXPECT_EQ(outputs(c), (std::vector<double>{0, 0}));
    // The initial call cleared the flags word; from here on changes are logged.
    instance()->flags[kFlagWord] = kFlagsLogEvents;
    host().clearLog();

    // The host integrates exactly: x(t) = (1 + t, -2 - 2t).
    auto indicatorsAt = [&](double t) {
        const double x[2] = {1 + t, -2 - 2 * t};
        EXPECT_EQ(api().SetTime(c, t), fmi2OK);
        EXPECT_EQ(api().SetContinuousStates(c, x, 2), fmi2OK);
        std::vector<double> z(4);
        EXPECT_EQ(api().GetEventIndicators(c, z.data(), 4), fmi2OK);
        return z;
    };
    std::vector<double> eventTimes;
    std::vector<std::vector<double>> outputsAfter;
    double t = 0;
    std::vector<double> z = indicatorsAt(t);
    while (t < 1.5 - 1e-12) {
        const double next = t + 0.05;
        std::vector<double> zn = indicatorsAt(next);
        for (int k = 0; k < 4; k += 2) {
            EXPECT_EQ(zn[k], zn[k + 1]) << "both indicators of a relation are equal";
            const double value = k == 0 ? next - 1 : 1 - 2 * next;
            EXPECT_NEAR(zn[k], value, 1e-9) << "indicators follow the value between events";
        }
        int crossed = -1;
        for (int k = 0; k < 4; k += 2)
            if ((z[k] > 0) != (zn[k] > 0)) crossed = k;
        if (crossed < 0) {
            t = next;
            z = zn;
            continue;
        }
        // Bisection on the crossing indicator down to adjacent doubles.
        double lo = t, hi = next;
        const bool startPositive = z[crossed] > 0;
        while (nextafter(lo, hi) < hi) {
            const double mid = lo + (hi - lo) / 2;
            if (mid <= lo || mid >= hi) break;
            if ((indicatorsAt(mid)[crossed] > 0) == startPositive)
                lo = mid;
            else
                hi = mid;
        }
        z = indicatorsAt(hi);
        // Past the crossing but before the event is handled, the stored value holds.
        const std::vector<double> before = outputs(c);
        ASSERT_EQ(api().EnterEventMode(c), fmi2OK);
        int passes = 0;
        do {
            ASSERT_EQ(api().NewDiscreteStates(c, &info), fmi2OK);
            ++passes;
        } while (info.newDiscreteStatesNeeded && passes < 30);
        EXPECT_EQ(passes, 2) << "one further pass finds the relations consistent";
        ASSERT_EQ(api().EnterContinuousTimeMode(c), fmi2OK);
        eventTimes.push_back(hi);
        outputsAfter.push_back(outputs(c));
        EXPECT_NE(outputsAfter.back(), before);

        // After the event the epsilon lies on the new side: the indicator
        // keeps its new sign at the crossing point.
        const ModelData* d = instance()->modelData;
        const int i = crossed / 2 + 1;
        const std::vector<double> after = indicatorsAt(hi);
        EXPECT_EQ(after[crossed], d->relationValues[i] - d->eventEpsilons[i]);
        EXPECT_NEAR(fabs(d->eventEpsilons[i]), 1e-10 * d->relationNominals[i], 1e-22);
        EXPECT_EQ(after[crossed] > 0, !startPositive);
        t = hi;
        z = after;
    }

    ASSERT_EQ(eventTimes.size(), 2u);
    EXPECT_GE(eventTimes[0], 0.5);
    EXPECT_NEAR(eventTimes[0], 0.5, 1e-9);
    EXPECT_GE(eventTimes[1], 1.0);
    EXPECT_NEAR(eventTimes[1], 1.0, 1e-9);
    EXPECT_EQ(outputsAfter[0], (std::vector<double>{0, 20}));
    EXPECT_EQ(outputsAfter[1], (std::vector<double>{10, 20}));

    EXPECT_EQ(messagesStartingWith("Expression x1 <= -3 became true ( (x1)-(-3) = "), 1);
    EXPECT_EQ(messagesStartingWith("Expression x0 >= 2 became true ( (x0)-(2) = "), 1);
    EXPECT_EQ(messagesStartingWith("Expression "), 2) << "unchanged relations log nothing";
    EXPECT_EQ(directory_.read("eventlog.txt"),
              std::string(eventLogHeader()) + "0;4;x1 <= -3;true\n0;4;x0 >= 2;true\n");
    ASSERT_EQ(api().Terminate(c), fmi2OK);
}

TEST_F(RelationsFmi, ModelExchangeWithoutEventLoggingWritesNoFile) {
    fmi2Component c = component_;
    ASSERT_EQ(api().SetupExperiment(c, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(api().ExitInitializationMode(c), fmi2OK);
    fmi2EventInfo info{};
    do ASSERT_EQ(api().NewDiscreteStates(c, &info), fmi2OK);
    while (info.newDiscreteStatesNeeded);
    ASSERT_EQ(api().EnterContinuousTimeMode(c), fmi2OK);
    const double x[2] = {1 + 0.75, -2 - 1.5};
    ASSERT_EQ(api().SetTime(c, 0.75), fmi2OK);
    ASSERT_EQ(api().SetContinuousStates(c, x, 2), fmi2OK);
    ASSERT_EQ(api().EnterEventMode(c), fmi2OK);
    do ASSERT_EQ(api().NewDiscreteStates(c, &info), fmi2OK);
    while (info.newDiscreteStatesNeeded);
    EXPECT_EQ(outputs(c), (std::vector<double>{0, 20}));
    EXPECT_EQ(messagesStartingWith("Expression "), 0);
    EXPECT_FALSE(directory_.exists("eventlog.txt"));
}

TEST_F(RelationsFmi, CoSimulationStepsThroughBothCrossings) {
    fmi2Component c = host().instantiate("cs", fmi2CoSimulation, MODEL_GUID);
    ASSERT_NE(c, nullptr);
    ModelInstance* cs = static_cast<ModelInstance*>(c);
    ASSERT_EQ(api().SetupExperiment(c, fmi2True, 1e-8, 0.0, fmi2True, 2.0), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(api().ExitInitializationMode(c), fmi2OK);
    cs->flags[kFlagWord] = kFlagsLogEvents;
    host().clearLog();

    std::vector<std::vector<double>> y;
    for (int k = 0; k < 8; ++k) {
        ASSERT_EQ(api().DoStep(c, 0.25 * k, 0.25, fmi2True), fmi2OK) << k;
        y.push_back(outputs(c));
    }
    // Steps end at 0.25, 0.5, ..., 2.0: x1 <= -3 from 0.5 on, x0 >= 2 from 1.0
    // on (the steps ending exactly at a crossing may see either value).
    for (int k = 0; k < 8; ++k) {
        const double end = 0.25 * (k + 1);
        if (end < 0.5) {
            EXPECT_EQ(y[k], (std::vector<double>{0, 0})) << end;
        } else if (end > 0.5 && end < 1.0) {
            EXPECT_EQ(y[k], (std::vector<double>{0, 20})) << end;
        } else if (end > 1.0) {
            EXPECT_EQ(y[k], (std::vector<double>{10, 20})) << end;
        }
    }

    // The event times, as the driver logs them at the end of each logged event.
    std::vector<double> times;
    const std::string during = "      during event at Time : ";
    for (const LogRecord& r : host().log) {
        if (r.message.rfind(during, 0) != 0) continue;
        const double time = atof(r.message.c_str() + during.size());
        if (times.empty() || fabs(times.back() - time) > 1e-9) times.push_back(time);
    }
    ASSERT_EQ(times.size(), 2u) << host().logText();
    EXPECT_NEAR(times[0], 0.5, 1e-6);
    EXPECT_NEAR(times[1], 1.0, 1e-6);

    EXPECT_EQ(messagesStartingWith("Expression x1 <= -3 became true ( (x1)-(-3) = "), 1);
    EXPECT_EQ(messagesStartingWith("Expression x0 >= 2 became true ( (x0)-(2) = "), 1);
    EXPECT_EQ(directory_.read("eventlog.txt"),
              std::string(eventLogHeader()) + "0;4;x1 <= -3;true\n0;4;x0 >= 2;true\n");
    ASSERT_EQ(api().Terminate(c), fmi2OK);
    api().FreeInstance(c);
}

} // namespace

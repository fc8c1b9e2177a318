// The FMI layer over fake equations, through the linked FMI functions: how a
// failing model call ends (fmi2Discard while reading, fmi2Error with
// termination elsewhere), lazy evaluation, event codes of the event iteration,
// the terminal section, reset and string variables.
#include <math.h>
#include <string.h>

#include <string>

#include "driver_fixture.h"

namespace {

class FmiOverFake : public DriverTest {
protected:
    fmi2Component c() { return component_; }
    // Instantiated -> continuous-time mode with equations that succeed.
    void toContinuousTime() {
        ASSERT_EQ(api().SetupExperiment(c(), fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        ASSERT_EQ(api().EnterInitializationMode(c()), fmi2OK);
        ASSERT_EQ(api().ExitInitializationMode(c()), fmi2OK);
        fmi2EventInfo info{};
        ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
        ASSERT_EQ(api().EnterContinuousTimeMode(c()), fmi2OK);
        ASSERT_EQ(instance()->mode, modeContinuousOrStepping);
        ASSERT_EQ(api().SetTime(c(), 0.5), fmi2OK); // nothing computed for the new time
        fake().passes = 0;
        fake().levels.clear();
        fake().eventCodes.clear();
        host().clearLog();
    }
    std::string last() {
        if (host().log.empty()) return "<none>";
        const LogRecord& r = host().log.back();
        return std::string(statusName(r.status)) + "|" + r.message;
    }
};

void failing(FakeCall&) { runtimeError("model failure"); }

TEST_F(FmiOverFake, RuntimeErrorWhileReadingRealsOrDerivativesIsADiscard) {
    toContinuousTime();
    fake().body = failing;
    const fmi2ValueReference output = ref(4, 0, 1);
    double v = 0;
    EXPECT_EQ(api().GetReal(c(), &output, 1, &v), fmi2Discard);
    EXPECT_EQ(last(), "Discard|fmiGetReal: dsblock_ failed, QiErr = 1");
    EXPECT_TRUE(host().logContains("model failure"));
    EXPECT_EQ(instance()->mode, modeContinuousOrStepping);

    double array[4] = {};
    EXPECT_EQ(api().GetDerivatives(c(), array, 2), fmi2Discard);
    EXPECT_EQ(last(), "Error|fmi2GetDerivatives: dsblock_ failed, QiErr = 1");
    EXPECT_EQ(api().GetEventIndicators(c(), array, 4), fmi2Discard);
    EXPECT_EQ(last(), "Error|fmi2GetEventIndicators: dsblock_ failed, QiErr = 1");
    EXPECT_EQ(instance()->mode, modeContinuousOrStepping) << "the instance stays usable";

    // One error does not poison later evaluations on the thread.
    EXPECT_EQ(getThreadContext()->functionStack, nullptr);
    EXPECT_EQ(getThreadContext()->trap, nullptr);
    fake().body = [](FakeCall& f) { f.outputs[0] = 2.5; };
    EXPECT_EQ(api().GetReal(c(), &output, 1, &v), fmi2OK);
    EXPECT_EQ(v, 2.5);
}

TEST_F(FmiOverFake, OtherFailuresEndInErrorAndTermination) {
    const fmi2ValueReference output = ref(4, 0, 1);
    struct Case {
        const char* what;
        std::function<fmi2Status()> call;
        const char* message;
        int level; // of the failing model call
    };
    fmi2Integer i = 0;
    fmi2Boolean b = 0;
    fmi2String s = nullptr;
    double v = 0;
    fmi2EventInfo info{};
    const Case cases[] = {
        {"integer", [&] { return api().GetInteger(c(), &output, 1, &i); }, "fmiGetInteger: dsblock_ failed, QiErr = 1", 1},
        {"boolean", [&] { return api().GetBoolean(c(), &output, 1, &b); }, "fmiGetBoolean: dsblock_ failed, QiErr = 1", 1},
        {"string", [&] { return api().GetString(c(), &output, 1, &s); }, "fmi2GetString: dsblock_ failed, QiErr = 1", 1},
        {"event iteration",
         [&] {
             EXPECT_EQ(api().EnterEventMode(c()), fmi2OK);
             return api().NewDiscreteStates(c(), &info);
         },
         "fmi2NewDiscreteStates: dsblock_ failed, QiErr = 1", 5},
    };
    for (const Case& k : cases) {
        toContinuousTime();
        fake().body = failing;
        EXPECT_EQ(k.call(), fmi2Error) << k.what;
        bool found = false;
        for (const LogRecord& r : host().log) found |= r.status == fmi2Error && r.message == k.message;
        EXPECT_TRUE(found) << k.what << "\n" << host().logText();
        EXPECT_EQ(instance()->mode, modeTerminated) << k.what;
        // The failed call left QiErr set: termination skipped the terminal section.
        EXPECT_EQ(fake().levels.back(), k.level) << k.what;
        EXPECT_EQ(api().Terminate(c()), fmi2Warning);
        fake().body = nullptr;
        ASSERT_EQ(api().Reset(c()), fmi2OK);
    }
    // A QiErr other than 1 while reading reals is an error as well.
    toContinuousTime();
    fake().body = [](FakeCall& f) { *f.QiErr = 3; };
    EXPECT_EQ(api().GetReal(c(), &output, 1, &v), fmi2Error);
    EXPECT_TRUE(host().logContains("fmiGetReal: dsblock_ failed, QiErr = 3"));
    EXPECT_EQ(instance()->mode, modeTerminated);
}

TEST_F(FmiOverFake, FailedInitializationTerminates) {
    fake().body = failing;
    ASSERT_EQ(api().SetupExperiment(c(), fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
    EXPECT_EQ(api().EnterInitializationMode(c()), fmi2Error);
    EXPECT_EQ(instance()->mode, modeTerminated);
    EXPECT_TRUE(host().logContains("fmiInitialize: dsblock_ failed, QiErr = 1"));
    EXPECT_TRUE(host().logContains("Unless otherwise indicated by error messages, possible errors are "
                                   "(non-exhaustive):\nThe model references external data that is not present on "
                                   "the target machine, at least not with the same location.\n"));
    // Terminated: reads deliver the last values without a model call.
    const int passes = fake().passes;
    const fmi2ValueReference output = ref(4, 0, 1);
    double v = -1;
    EXPECT_EQ(api().GetReal(c(), &output, 1, &v), fmi2OK);
    EXPECT_EQ(fake().passes, passes);

    // The end of initialization failing terminates as well, with the runtime's messages only.
    fake().body = nullptr;
    ASSERT_EQ(api().Reset(c()), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(c()), fmi2OK);
    fake().body = failing;
    host().clearLog();
    EXPECT_EQ(api().ExitInitializationMode(c()), fmi2Error);
    EXPECT_EQ(instance()->mode, modeTerminated);
    EXPECT_TRUE(host().logContains("model failure"));
    EXPECT_EQ(instance()->firstEventCall, 1);
}

TEST_F(FmiOverFake, ReadsEvaluateLazilyAtTheLevelTheyNeed) {
    toContinuousTime();
    ASSERT_EQ(api().SetTime(c(), 1.0), fmi2OK);
    double array[2];
    ASSERT_EQ(api().GetDerivatives(c(), array, 2), fmi2OK);
    EXPECT_EQ(fake().levels, (std::vector<int>{2}));
    EXPECT_EQ(instance()->computedLevel, 2);
    double v = 0;
    const fmi2ValueReference level1 = ref(4, 0, 1), level3 = ref(4, 0, 3);
    ASSERT_EQ(api().GetReal(c(), &level1, 1, &v), fmi2OK);
    EXPECT_EQ(fake().passes, 1) << "level 1 is computed";
    ASSERT_EQ(api().GetReal(c(), &level3, 1, &v), fmi2OK);
    EXPECT_EQ(fake().levels, (std::vector<int>{2, 3}));
    // The time needs no evaluation, whatever its level bits say.
    const fmi2ValueReference time = 0xFFFFFFFFu;
    ASSERT_EQ(api().GetReal(c(), &time, 1, &v), fmi2OK);
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(fake().passes, 2);
    EXPECT_EQ(instance()->computedLevel, 3);

    // A parameter set to the value it has changes nothing.
    const fmi2ValueReference parameter = ref(1, 0);
    const int counter = instance()->flags[kFlagParameterCounter];
    const double same = instance()->p[0];
    ASSERT_EQ(api().SetReal(c(), &parameter, 1, &same), fmi2OK);
    EXPECT_EQ(instance()->flags[kFlagParameterCounter], counter);
    EXPECT_EQ(instance()->computedLevel, 3);
    const double other = same + 1;
    ASSERT_EQ(api().SetReal(c(), &parameter, 1, &other), fmi2OK);
    EXPECT_EQ(instance()->flags[kFlagParameterCounter], counter + 1);
    EXPECT_EQ(instance()->computedLevel, 0);
    EXPECT_EQ(instance()->dirty, 1);

    // NaN never equals the stored value: each write counts as a change.
    const fmi2ValueReference input = ref(5, 0);
    const double nan = NAN;
    ASSERT_EQ(api().SetReal(c(), &input, 1, &nan), fmi2OK);
    ASSERT_EQ(api().GetReal(c(), &level1, 1, &v), fmi2OK);
    EXPECT_EQ(instance()->computedLevel, 1);
    ASSERT_EQ(api().SetReal(c(), &input, 1, &nan), fmi2OK);
    EXPECT_EQ(instance()->computedLevel, 0);

    // The event indicators are level 4; after the model ended the simulation they come without a call.
    ASSERT_EQ(api().GetEventIndicators(c(), nullptr, 0), fmi2Warning); // ni is 4
    double indicators[4];
    const int before = fake().passes;
    instance()->computedLevel = 0;
    instance()->terminatedByModel = 1;
    ASSERT_EQ(api().GetEventIndicators(c(), indicators, 4), fmi2OK);
    EXPECT_EQ(fake().passes, before);
}

TEST_F(FmiOverFake, EventIterationUsesTheEventCodesOfItsSituation) {
    toContinuousTime();
    // A relation that keeps changing in the first pass of every event.
    fake().body = [](FakeCall& f) {
        if (f.d->eventCode == 2) f.d->crossingChanged = 1;
    };
    ASSERT_EQ(api().EnterEventMode(c()), fmi2OK);
    fmi2EventInfo info{};
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2True);
    EXPECT_EQ(instance()->mode, modeEventNeedsIteration);
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2False);
    EXPECT_EQ(instance()->mode, modeEventIterationDone);
    EXPECT_EQ(fake().eventCodes, (std::vector<int>{2, 3}));
    EXPECT_EQ(fake().levels, (std::vector<int>{5, 5}));

    // An input written in event mode is taken in first: two calls.
    fake().eventCodes.clear();
    const fmi2ValueReference input = ref(5, 1);
    const double value = 7;
    ASSERT_EQ(api().SetReal(c(), &input, 1, &value), fmi2OK);
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    EXPECT_EQ(fake().eventCodes, (std::vector<int>{5, 3}));

    // A read in event mode runs the model at level 5 whatever it asks for.
    fake().levels.clear();
    const double other = 8;
    ASSERT_EQ(api().SetReal(c(), &input, 1, &other), fmi2OK);
    double v = 0;
    const fmi2ValueReference output = ref(4, 0, 1);
    ASSERT_EQ(api().GetReal(c(), &output, 1, &v), fmi2OK);
    EXPECT_EQ(fake().levels, (std::vector<int>{5}));

    // The model asks to end the simulation during the iteration.
    fake().body = [](FakeCall&) { terminate("stop here"); };
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    EXPECT_EQ(info.terminateSimulation, fmi2True);
    EXPECT_EQ(info.nextEventTime, 1e37);
    EXPECT_EQ(last(), "OK|fmi2NewDiscreteStates: simulation terminated by model");
    EXPECT_EQ(instance()->terminatedByModel, 1);
    ASSERT_EQ(api().EnterContinuousTimeMode(c()), fmi2OK);
    fmi2Boolean enter = fmi2True, terminateSimulation = fmi2False;
    instance()->flags[kFlagStateEvent] = 0;
    ASSERT_EQ(api().CompletedIntegratorStep(c(), fmi2False, &enter, &terminateSimulation), fmi2OK);
    EXPECT_EQ(enter, fmi2False);
    EXPECT_EQ(terminateSimulation, fmi2True);
    instance()->flags[kFlagStateEvent] = 1;
    ASSERT_EQ(api().CompletedIntegratorStep(c(), fmi2False, &enter, &terminateSimulation), fmi2OK);
    EXPECT_EQ(enter, fmi2True);
    EXPECT_EQ(instance()->mode, modeContinuousOrStepping) << "the mode does not change";
    // Termination skips the terminal section after the model ended the simulation.
    fake().levels.clear();
    ASSERT_EQ(api().Terminate(c()), fmi2OK);
    EXPECT_TRUE(fake().levels.empty());
}

TEST_F(FmiOverFake, EveryEventUpdateStartsItsOwnRestartCount) {
    toContinuousTime();
    // Each event restarts once: 60 events make far more than 25 restarts in all.
    fake().body = [](FakeCall& f) {
        if (f.d->eventCode == 2) f.d->crossingChanged = 1;
    };
    fmi2EventInfo info{};
    for (int event = 1; event <= 60; ++event) {
        ASSERT_EQ(api().SetTime(c(), 0.5 + event), fmi2OK) << event;
        ASSERT_EQ(api().EnterEventMode(c()), fmi2OK) << event;
        ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK) << event;
        ASSERT_EQ(info.newDiscreteStatesNeeded, fmi2True) << event;
        ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK) << event;
        ASSERT_EQ(info.newDiscreteStatesNeeded, fmi2False) << event;
        ASSERT_EQ(api().EnterContinuousTimeMode(c()), fmi2OK) << event;
    }
    EXPECT_EQ(fake().passes, 120);
}

TEST_F(FmiOverFake, StatesChangedByTheEventIterationAreReported) {
    toContinuousTime();
    fake().body = [](FakeCall& f) {
        if (f.d->eventCode == 2) f.states[1] = 10;
    };
    ASSERT_EQ(api().EnterEventMode(c()), fmi2OK);
    fmi2EventInfo info{};
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    EXPECT_EQ(info.valuesOfContinuousStatesChanged, fmi2True);
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    EXPECT_EQ(info.valuesOfContinuousStatesChanged, fmi2False);
    // A model with states may not set the time right after the iteration.
    EXPECT_EQ(api().SetTime(c(), 2.0), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SetTime: only allowed for discrete models when not in continuous time mode");
    double x[2] = {};
    ASSERT_EQ(api().GetContinuousStates(c(), x, 2), fmi2OK);
    EXPECT_EQ(x[1], 10.0);
    ASSERT_EQ(api().SetContinuousStates(c(), x, 3), fmi2Warning);
    EXPECT_TRUE(host().logContains("fmi2SetContinuousStates: argument nx = 3 is incorrect, should be 2"));
    EXPECT_EQ(instance()->x[1], 10.0);
}

TEST_F(FmiOverFake, EventUpdateMakesTwoPassesOrOneUnderInlineIntegration) {
    toContinuousTime();
    int terminated = -1;
    ASSERT_EQ(eventUpdate(instance(), &terminated), fmi2OK);
    EXPECT_EQ(fake().levels, (std::vector<int>{3, 5}));
    EXPECT_EQ(terminated, 0);
    fake().levels.clear();
    instance()->flags[kFlagInlineRequested] = 1;
    ASSERT_EQ(eventUpdate(instance(), &terminated), fmi2OK);
    EXPECT_EQ(fake().levels, (std::vector<int>{5}));
    instance()->flags[kFlagInlineRequested] = 0;

    fake().body = [](FakeCall&) { terminate("enough"); };
    ASSERT_EQ(eventUpdate(instance(), &terminated), fmi2OK);
    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(host().logContains("event updating: simulation terminated by model"));
    fake().body = failing;
    EXPECT_EQ(eventUpdate(instance(), &terminated), fmi2Error);
    EXPECT_TRUE(host().logContains("event updating: dsblock_ failed, QiErr = 1"));
    EXPECT_EQ(instance()->mode, modeTerminated);
}

TEST_F(FmiOverFake, TerminalSection) {
    // A fresh instance runs its terminal section.
    ASSERT_EQ(api().Terminate(c()), fmi2OK);
    EXPECT_EQ(fake().levels, (std::vector<int>{7}));
    ASSERT_EQ(api().Reset(c()), fmi2OK);
    // A failing terminal section.
    toContinuousTime();
    fake().body = failing;
    EXPECT_EQ(api().Terminate(c()), fmi2Error);
    EXPECT_EQ(last(), "Error|fmi2Terminate: calling terminal section of dsblock_ failed, QiErr = 1");
    EXPECT_EQ(instance()->mode, modeTerminated);
}

TEST_F(FmiOverFake, ANewStringIsSeenByTheNextRead) {
    toContinuousTime();
    const fmi2ValueReference output = ref(4, 0, 1), text = ref(8, 0);
    double v = 0;
    ASSERT_EQ(api().GetReal(c(), &output, 1, &v), fmi2OK);
    ASSERT_EQ(fake().passes, 1);
    const char* same = instance()->strings[0];
    const std::string copy(same);
    const char* values[] = {copy.c_str(), "another text"};
    ASSERT_EQ(api().SetString(c(), &text, 1, &values[0]), fmi2OK);
    ASSERT_EQ(api().GetReal(c(), &output, 1, &v), fmi2OK);
    EXPECT_EQ(fake().passes, 1) << "the same text changes nothing";
    ASSERT_EQ(api().SetString(c(), &text, 1, &values[1]), fmi2OK);
    ASSERT_EQ(api().GetReal(c(), &output, 1, &v), fmi2OK);
    EXPECT_EQ(fake().passes, 2) << "a new text is evaluated with";
}

TEST_F(FmiOverFake, EachExtraVariableKindHasItsOwnArray) {
    toContinuousTime();
    // The test model has no extra variables: lend each kind two slots.
    double first[3] = {0, 0, 0}, second[3] = {0, 0, 0};
    double* savedFirst = instance()->extraVars1;
    double* savedSecond = instance()->extraVars2;
    instance()->extraVars1 = first;
    instance()->extraVars2 = second;
    instance()->nExtra1 = instance()->nExtra2 = 2;
    const fmi2ValueReference vr[] = {ref(11, 1), ref(12, 1)};
    const double values[] = {11, 12};
    EXPECT_EQ(api().SetReal(c(), vr, 2, values), fmi2OK);
    EXPECT_EQ(first[1], 11);
    EXPECT_EQ(second[1], 12);
    double read[2] = {};
    EXPECT_EQ(api().GetReal(c(), vr, 2, read), fmi2OK);
    EXPECT_EQ(read[0], 11);
    EXPECT_EQ(read[1], 12);
    instance()->nExtra1 = instance()->nExtra2 = 0;
    instance()->extraVars1 = savedFirst;
    instance()->extraVars2 = savedSecond;
}

TEST_F(FmiOverFake, ResetRestoresStartValuesAndStrings) {
    toContinuousTime();
    const fmi2ValueReference vr[] = {ref(2, 1), ref(1, 2), ref(5, 1)};
    const double v[] = {5, 6, 7};
    ASSERT_EQ(api().SetReal(c(), vr, 3, v), fmi2OK);
    instance()->y[1] = 3;
    instance()->w[2] = 4;
    const std::string longText(700, 'x');
    const char* text = longText.c_str();
    const fmi2ValueReference stringRef = ref(8, 1);
    const int counter = instance()->flags[kFlagParameterCounter];
    ASSERT_EQ(api().SetString(c(), &stringRef, 1, &text), fmi2OK);
    EXPECT_EQ(instance()->flags[kFlagParameterCounter], counter + 1);
    fmi2String got = nullptr;
    ASSERT_EQ(api().GetString(c(), &stringRef, 1, &got), fmi2OK);
    EXPECT_EQ(got, instance()->strings[1]) << "the slot itself";
    EXPECT_EQ(std::string(got), std::string(500, 'x'));
    EXPECT_EQ(last(), "OK|fmi2GetString: #s134217729# = " + std::string(500, 'x'));

    fake().levels.clear();
    ASSERT_EQ(api().Reset(c()), fmi2OK);
    EXPECT_EQ(fake().levels, (std::vector<int>{7})) << "terminated first";
    EXPECT_EQ(instance()->mode, modeInstantiated);
    EXPECT_EQ(instance()->x[1], -2.0);
    EXPECT_EQ(instance()->p[2], 2.5);
    EXPECT_EQ(instance()->u[1], 3.0);
    EXPECT_EQ(instance()->y[1], 0.0);
    EXPECT_EQ(instance()->w[2], 0.0);
    EXPECT_STREQ(instance()->strings[1], "second");
    EXPECT_STREQ(instance()->strings[0], "first start text");
    // A second reset after a new run reuses the start-text table.
    toContinuousTime();
    ASSERT_EQ(api().Reset(c()), fmi2OK);
    EXPECT_EQ(instance()->mode, modeInstantiated);
}

TEST_F(FmiOverFake, ResetWithoutMemoryForTheStartTextsFreesTheInstance) {
    toContinuousTime();
    TestHost::allocator.failAt = 1;
    EXPECT_EQ(api().Reset(c()), fmi2Fatal);
    EXPECT_TRUE(host().logContains("fmi2Reset failed: out of Memory"));
    component_ = nullptr; // the handle is gone
    instance_ = nullptr;
}

TEST_F(FmiOverFake, CoSimulationInitializationChecksTheModeFirst) {
    fmi2Component cs = host().instantiate("cs", fmi2CoSimulation, MODEL_GUID);
    ASSERT_NE(cs, nullptr);
    ModelInstance* instance = static_cast<ModelInstance*>(cs);
    ASSERT_EQ(api().SetupExperiment(cs, fmi2True, 1e-7, 0.5, fmi2False, 0), fmi2OK);
    EXPECT_EQ(instance->toleranceDefined, 1) << "Co-Simulation keeps the tolerance";
    EXPECT_EQ(instance->tolerance, 1e-7);
    ASSERT_EQ(api().EnterInitializationMode(cs), fmi2OK);
    EXPECT_TRUE(host().logContains("fmi2SetTime to 0.5"));
    EXPECT_TRUE(host().logContains("fmi2EnterInitializationMode"));
    ASSERT_EQ(api().ExitInitializationMode(cs), fmi2OK);
    EXPECT_EQ(instance->mode, modeContinuousOrStepping);
    EXPECT_TRUE(host().logContains("fmiExitInitializationMode completed"));
    instance->time = 3.0;
    instance->computedLevel = 2;
    EXPECT_EQ(api().EnterInitializationMode(cs), fmi2Warning);
    EXPECT_EQ(last(), "Warning|model cannot be initialized in current state(6)");
    EXPECT_EQ(instance->time, 3.0) << "a refused call leaves the time alone";
    EXPECT_EQ(instance->computedLevel, 2);
    // Inputs of a Co-Simulation instance note the change.
    const fmi2ValueReference input = ref(5, 0);
    const double value = 1.5;
    ASSERT_EQ(api().SetReal(cs, &input, 1, &value), fmi2OK);
    EXPECT_EQ(instance->inputsChanged, 1);
    ASSERT_EQ(api().Terminate(cs), fmi2OK);
    EXPECT_TRUE(host().logContains("fmi2Terminate completed"));
    ASSERT_EQ(api().Reset(cs), fmi2OK);
    api().FreeInstance(cs);
}

TEST_F(FmiOverFake, AccessCallsRefuseANullComponentOrArray) {
    double v = 0;
    const fmi2ValueReference vr = ref(1, 0);
    EXPECT_EQ(api().GetReal(nullptr, &vr, 1, &v), fmi2Error);
    EXPECT_EQ(api().SetReal(nullptr, &vr, 1, &v), fmi2Error);
    EXPECT_EQ(api().SetTime(nullptr, 0), fmi2Error);
    EXPECT_EQ(api().Terminate(nullptr), fmi2Error);
    ASSERT_EQ(api().EnterInitializationMode(c()), fmi2OK);
    EXPECT_EQ(api().GetReal(c(), nullptr, 1, &v), fmi2Error);
    EXPECT_EQ(api().SetReal(c(), &vr, 1, nullptr), fmi2Error);
    EXPECT_EQ(api().NewDiscreteStates(c(), nullptr), fmi2Error);
    EXPECT_EQ(api().GetReal(c(), nullptr, 0, nullptr), fmi2OK);
}

} // namespace

// The model entry driven with fake equations: event iteration up to its
// limit, homotopy, the error trap, the re-entry guard, QiErr values and calls
// of one instance nested inside another's.
#include <functional>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace {

using Driver = DriverTest;

TEST_F(Driver, ModelWithoutEventsFinishesAfterOnePass) {
    instance()->time = 1.0;
    EXPECT_EQ(call(1), 0);
    EXPECT_EQ(fake().passes, 1);
    EXPECT_EQ(instance()->computedLevel, 1);
    EXPECT_EQ(md()->busy, 0);
    EXPECT_EQ(getThreadContext()->boundModelData, nullptr) << "the binding of the caller is back";
    EXPECT_EQ(instanceInModelCall, nullptr);
}

TEST_F(Driver, EventIterationStopsAtItsLimitWithItsMessages) {
    instance()->time = 2.5;
    fake().body = [](FakeCall& f) { f.d->crossingChanged = 1; };
    EXPECT_EQ(call(5), 1);
    EXPECT_EQ(fake().passes, 26);
    EXPECT_EQ(md()->statusWord, 1);
    EXPECT_EQ(host().logText(),
              "OK|rt|\n"
              "OK|rt|On the final iteration for restart conditions we get:\n"
              "OK|rt|Iterating to find consistent restart conditions.\n"
              "OK|rt|\n"
              "OK|rt|ERROR: Finding consistent restart conditions failed at time:  2.5\n"
              "OK|rt|\n");
    EXPECT_NE(instance()->flags[kFlagWord] & kFlagsLogEvents, 0) << "the last iteration is logged";
}

TEST_F(Driver, PassesTheModelRepeatsWithoutEndAreCut) {
    instance()->time = 3.0;
    fake().body = [](FakeCall& f) { f.d->repeatPass = 1; };
    EXPECT_EQ(call(2), 1);
    EXPECT_EQ(fake().passes, 100000);
    EXPECT_TRUE(host().logContains("ERROR: Too many passes of the model equations at time:  3"));
    EXPECT_EQ(md()->busy, 0);
}

TEST_F(Driver, QuietBitSuppressesTheFinalIterationBlock) {
    instance()->time = 2.5;
    instance()->flags[kFlagWord] = kFlagsQuiet;
    fake().body = [](FakeCall& f) { f.d->crossingChanged = 1; };
    EXPECT_EQ(call(5), 1);
    EXPECT_FALSE(host().logContains("On the final iteration for restart conditions we get:"));
    EXPECT_TRUE(host().logContains("ERROR: Finding consistent restart conditions failed at time:  2.5"));
}

TEST_F(Driver, LoggedIterationEndsAtAnEventWithItsEndCode) {
    instance()->time = 0.75;
    instance()->flags[kFlagWord] = kFlagsLogEvents;
    fake().body = [](FakeCall& f) { f.d->crossingChanged = fake().passes < 3; };
    EXPECT_EQ(call(5), -995);
    EXPECT_EQ(fake().passes, 3);
    EXPECT_EQ(instance()->computedLevel, 5);
    EXPECT_EQ(host().logText(),
              "OK|rt|Iterating to find consistent restart conditions.\n"
              "OK|rt|Iterating to find consistent restart conditions.\n"
              "OK|rt|      during event at Time :  0.75\n");

    // With eventKindB the end code is -994; a relation change in the call means no end code.
    host().clearLog();
    fake().passes = 0;
    fake().body = [](FakeCall& f) { f.d->eventKindB = 1; };
    EXPECT_EQ(call(5), -994);
    fake().body = [](FakeCall& f) { f.d->relationChanged = 1; };
    EXPECT_EQ(call(5), 0);
    EXPECT_EQ(call(1), 0) << "no end code outside an event";
}

TEST_F(Driver, EventCodesOfTheFmiLayerHandTheIterationBack) {
    for (EventCode code : {eventCodeFirstPass, eventCodeFurtherPass, eventCodeIteration}) {
        fake().passes = 0;
        setEventCode(md(), code);
        instance()->computedLevel = 4;
        fake().body = [](FakeCall& f) { f.d->crossingChanged = 1; };
        EXPECT_EQ(call(5), 0) << code;
        EXPECT_EQ(fake().passes, 1) << code;
        EXPECT_EQ(getEventCode(md()), 3) << code;
        EXPECT_EQ(instance()->computedLevel, 0) << code;
    }
    // Event code 4 (end of initialization) iterates in the driver like 0 and ends at 0.
    fake().passes = 0;
    setEventCode(md(), eventCodeEndOfInitialization);
    fake().body = [](FakeCall& f) { f.d->crossingChanged = fake().passes == 1; };
    EXPECT_EQ(call(1), 0);
    EXPECT_EQ(fake().passes, 2);
    EXPECT_EQ(getEventCode(md()), 0);
}

TEST_F(Driver, InitialCallIteratesOverTheRelationsAndClearsEverySeventhPass) {
    instance()->time = 0;
    std::vector<int> cleared;
    fake().body = [&cleared](FakeCall& f) {
        cleared.push_back(f.d->relationEvaluated[1] == 0);
        f.d->relationEvaluated[1] = 1;
        f.d->crossingChanged = fake().passes < 23;
    };
    EXPECT_EQ(call(0), 0);
    EXPECT_EQ(fake().passes, 23);
    // The first pass after the clearing at the start; then the passes after
    // the restart counter reached 10 and 21 (the initial pass counts 0).
    for (size_t i = 0; i < cleared.size(); ++i)
        EXPECT_EQ(cleared[i], i == 0 || i == 11 || i == 22) << "pass " << i + 1;
    EXPECT_EQ(md()->initialTime, 0.0);
    EXPECT_EQ(md()->callCount, 1);
    EXPECT_EQ(md()->eventTime, EVENT_TIME_UNSET);
    EXPECT_NE(md()->delays[0].times, nullptr) << "delay buffers exist after the initial call";
}

TEST_F(Driver, HomotopyConvergesToLambdaOne) {
    bool solved = false;
    std::vector<double> lambdas;
    fake().body = [&](FakeCall& f) {
        f.d->homotopyUsed = 1;
        if (!f.d->homotopyActive) {
            if (!solved) *f.QiErr = 1;
            return;
        }
        lambdas.push_back(f.d->lambda);
        if (f.d->lambda >= 1) solved = true;
        *f.QiErr = -996;
    };
    EXPECT_EQ(call(0), 0);
    EXPECT_EQ(md()->lambda, 1.0);
    EXPECT_EQ(md()->homotopyActive, 0);
    ASSERT_EQ(lambdas.size(), 11u);
    for (size_t i = 0; i + 1 < lambdas.size(); ++i) EXPECT_NEAR(lambdas[i], 0.1 * i, 1e-12);
    EXPECT_EQ(fake().hooks, 11) << "the hook runs before every homotopy step";
    EXPECT_TRUE(host().logContains("Trying to solve non-linear system using global homotopy-method."));
    // Started at most once per initial call.
    EXPECT_EQ(md()->lastHomotopyCall, md()->callCount);
}

TEST_F(Driver, HomotopyStartsAfterATrappedErrorAndKeepsQuietWhenAsked) {
    bool solved = false;
    fake().body = [&](FakeCall& f) {
        f.d->homotopyUsed = 1;
        f.flags[kFlagWord] = kFlagsQuiet;
        if (!f.d->homotopyActive) {
            if (!solved) runtimeError("no solution");
            return;
        }
        if (f.d->lambda >= 1) solved = true;
        *f.QiErr = -996;
    };
    EXPECT_EQ(call(0), 0);
    EXPECT_EQ(md()->lambda, 1.0);
    EXPECT_TRUE(host().log.empty()) << host().logText();
}

TEST_F(Driver, HomotopyFailureMessages) {
    struct Case {
        double failAbove; // the model fails once lambda exceeds this
        const char* message;
    } cases[] = {
        {0.25, "Error: adaptive homotopy method got stuck after starting. Can set scripting flag "
               "Advanced.DebugHomotopy=true; simulate again, and open continuation.csv to investigate"},
        {0.0, "Error: adaptive homotopy method could not start using actual - check that actual and simplified "
              "arguments are similar."},
        {-1.0, "Error: could not solve simplified initialization for homotopy method."},
    };
    for (const Case& k : cases) {
        // A fresh homotopy state for each case.
        md()->lambda = 1.0;
        md()->lastLambda = 0;
        md()->homotopyStep = 0.1;
        md()->homotopyActive = 0;
        host().clearLog();
        const double limit = k.failAbove;
        fake().body = [limit](FakeCall& f) {
            f.d->homotopyUsed = 1;
            *f.QiErr = (f.d->homotopyActive && f.d->lambda <= limit) ? -996 : 1;
        };
        EXPECT_EQ(call(0), 1) << k.message;
        EXPECT_TRUE(host().logContains(k.message)) << host().logText();
        EXPECT_EQ(host().logContains("Error: reducing step size for homotopy."), limit >= 0) << k.message;
        EXPECT_EQ(md()->homotopyActive, 1) << "stays set after a failure";
        EXPECT_EQ(md()->busy, 0);
    }
}

TEST_F(Driver, TrappedErrorRestoresStackMarksAndBindingEvenWhenQuiet) {
    ThreadContext* context = getThreadContext();
    createThreadBuffers();
    const MarkPlace before = context->currentMark.place;
    fake().body = [](FakeCall& f) {
        static FunctionFrame frame;
        pushFunctionFrame(&frame, "Fake.function");
        RealAlloc(100);
        f.flags[kFlagWord] = kFlagsQuiet;
        runtimeError("hidden failure");
        ADD_FAILURE() << "no code after a runtime error runs";
    };
    EXPECT_EQ(call(1), 1);
    EXPECT_TRUE(host().log.empty()) << "the quiet bit hides the report";
    EXPECT_EQ(context->functionStack, nullptr);
    EXPECT_EQ(context->depth, 0u);
    EXPECT_EQ(context->currentMark.place.Realbuffer, before.Realbuffer);
    EXPECT_EQ(context->trap, nullptr);
    EXPECT_EQ(context->boundModelData, nullptr);
    EXPECT_EQ(md()->busy, 0);

    // The next call on the thread starts clean.
    fake().body = [](FakeCall& f) {
        EXPECT_EQ(getThreadContext()->functionStack, nullptr);
        EXPECT_EQ(getThreadContext()->boundModelData, f.d);
        f.outputs[0] = 42;
    };
    instance()->flags[kFlagWord] = 0;
    EXPECT_EQ(call(1), 0);
    EXPECT_EQ(instance()->y[0], 42.0);
}

TEST_F(Driver, ErrorReportReachesTheHostWithTheStack) {
    instance()->time = 3.0;
    fake().body = [](FakeCall&) {
        FunctionFrame frame;
        pushFunctionFrame(&frame, "Fake.inner");
        runtimeError("division failed");
    };
    EXPECT_EQ(call(1), 1);
    EXPECT_EQ(host().logText(),
              "Error|rt|Error: The following error was detected at time: 3\n"
              "Error|rt|division failed\n"
              "Error|rt|The stack of functions is:\n"
              "Error|rt|Fake.inner\n");
}

TEST_F(Driver, ReentryGuard) {
    md()->busy = 1;
    instance()->qiErr = 0;
    EXPECT_EQ(call(5), 1);
    instance()->qiErr = 77;
    int level = 3;
    callModelEntry(instance(), &level);
    EXPECT_EQ(instance()->qiErr, 77) << "a level-3 call leaves QiErr alone";
    EXPECT_EQ(fake().passes, 0);
    EXPECT_EQ(call(0), 0) << "an initial call proceeds";
    EXPECT_GT(fake().passes, 0);

    // A call of the same instance from inside its own call.
    fake().passes = 0;
    int inner = -1;
    fake().body = [&inner, this](FakeCall&) {
        if (fake().passes > 1) return;
        int l = 1;
        int q = 0;
        ModelInstance* i = instance();
        dsblockDriver(&l, &i->computedLevel, &i->time, i->x, nullptr, i->u, i->p, nullptr, nullptr, i->xdot, i->y,
                      i->w, i->eventIndicators, i->timeData, i->flags, i->strings, i->modelData, &q);
        inner = q;
        EXPECT_EQ(getThreadContext()->boundModelData, i->modelData);
    };
    EXPECT_EQ(call(1), 0);
    EXPECT_EQ(inner, 1);
}

TEST_F(Driver, QiErrValues) {
    fake().body = [](FakeCall&) { terminate("model is done"); };
    EXPECT_EQ(call(1), -999);
    EXPECT_TRUE(host().logContains("Simulation successfully terminated"));
    EXPECT_TRUE(host().logContains("model is done"));
    // Also at an event, where a finished iteration would otherwise end with -995.
    EXPECT_EQ(call(5), -999);
    fake().body = [](FakeCall&) { setAbortStatus(); };
    EXPECT_EQ(call(1), -998);
    fake().body = [](FakeCall& f) { *f.QiErr = 3; };
    EXPECT_EQ(call(1), 3);

    // Through the bridge: -995 to -990 count as success, -999 passes unchanged.
    instance()->mode = modeContinuousOrStepping;
    for (int code : {-990, -992, -993, -995}) {
        fake().body = [code](FakeCall& f) { *f.QiErr = code; };
        EXPECT_EQ(evaluateModel(instance(), levelOutputs, "fmi2GetDerivatives", nullptr), 0) << code;
    }
    fake().body = [](FakeCall& f) { *f.QiErr = -999; };
    EXPECT_EQ(evaluateModel(instance(), levelOutputs, nullptr, nullptr), -999);
    fake().body = [](FakeCall& f) { *f.QiErr = 1; };
    host().clearLog();
    EXPECT_EQ(evaluateModel(instance(), levelOutputs, "fmi2GetDerivatives", nullptr), 1);
    EXPECT_EQ(host().logText(), "Error|rt|fmi2GetDerivatives: dsblock_ failed, QiErr = 1\n");
}

TEST_F(Driver, DelayBuffersThatCannotBeAllocatedEndTheInitialCall) {
    const int saved = Buffersize;
    Buffersize = 0;
    EXPECT_EQ(call(0), -500);
    Buffersize = saved;
    EXPECT_EQ(fake().passes, 0);
    EXPECT_EQ(md()->busy, 0);
    EXPECT_EQ(host().logText(),
              "Error|rt|Failed to allocate memory for delay.\n You might decrease the number of delays\n  or the "
              "'double Buffersize=0;' in wexalo/source/dsblock5\n\n");
    EXPECT_EQ(md()->delays[0].times, nullptr);
    EXPECT_EQ(md()->delays[0].size, 0);
    EXPECT_EQ(call(0), 0);
    EXPECT_EQ(md()->delays[0].size, 20000);
}

TEST_F(Driver, NestedCallOfAnotherInstanceKeepsItsOwnTrapAndBinding) {
    fmi2Component other = host().instantiate("other", fmi2ModelExchange, MODEL_GUID);
    ASSERT_NE(other, nullptr);
    ModelInstance* b = static_cast<ModelInstance*>(other);
    ModelInstance* a = instance();
    int innerResult = -1;
    fake().body = [&](FakeCall& f) {
        if (f.d == b->modelData) {
            FunctionFrame frame;
            pushFunctionFrame(&frame, "Other.function");
            RealAlloc(10);
            runtimeError("inner failure");
        }
        // A's call, as if its logger had evaluated the other instance.
        FunctionFrame frame;
        pushFunctionFrame(&frame, "Outer.function");
        double* scratch = RealAlloc(5);
        const MarkPlace mark = getThreadContext()->currentMark.place;
        b->mode = modeContinuousOrStepping;
        innerResult = evaluateModel(b, levelOutputs, nullptr, nullptr);
        EXPECT_EQ(getThreadContext()->boundModelData, a->modelData);
        EXPECT_EQ(instanceInModelCall, a);
        EXPECT_EQ(getThreadContext()->functionStack, &frame);
        EXPECT_EQ(getThreadContext()->currentMark.place.Realbuffer, mark.Realbuffer);
        scratch[4] = 1; // still ours
        f.outputs[0] = 7;
        popFunctionFrame(&frame);
    };
    EXPECT_EQ(call(1), 0);
    EXPECT_EQ(innerResult, 1);
    EXPECT_EQ(a->y[0], 7.0);
    EXPECT_EQ(b->modelData->busy, 0);
    EXPECT_EQ(instanceInModelCall, nullptr);
    EXPECT_EQ(getThreadContext()->boundModelData, nullptr);
    host().api().FreeInstance(other);
}

TEST_F(Driver, NestedEvaluationOfSeveralPassesLeavesTheOuterScratchAlone) {
    fmi2Component other = host().instantiate("other", fmi2ModelExchange, MODEL_GUID);
    ASSERT_NE(other, nullptr);
    ModelInstance* b = static_cast<ModelInstance*>(other);
    int innerPasses = 0;
    std::vector<double> outerSeen;
    fake().body = [&](FakeCall& f) {
        if (f.d == b->modelData) {
            // Two passes, each filling scratch and resetting at its end as generated code does.
            f.d->crossingChanged = (++innerPasses == 1);
            double* inner = RealAlloc(5);
            for (int i = 0; i < 5; ++i) inner[i] = -1000 - i;
            resetFunctionStack();
            return;
        }
        FunctionFrame frame;
        pushFunctionFrame(&frame, "Outer.function");
        double* scratch = RealAlloc(5);
        for (int i = 0; i < 5; ++i) scratch[i] = i + 1;
        b->mode = modeContinuousOrStepping;
        EXPECT_EQ(evaluateModel(b, levelOutputs, nullptr, nullptr), 0);
        EXPECT_EQ(getThreadContext()->functionStack, &frame);
        outerSeen.assign(scratch, scratch + 5);
        popFunctionFrame(&frame);
        resetFunctionStack();
    };
    EXPECT_EQ(call(1), 0);
    EXPECT_EQ(innerPasses, 2);
    EXPECT_EQ(outerSeen, (std::vector<double>{1, 2, 3, 4, 5}));
    host().api().FreeInstance(other);
}

} // namespace

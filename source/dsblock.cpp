// The model entry. One call binds the instance's ModelData to the calling
// thread, guards against re-entry, arms the error trap and runs the model's
// equations in an event-iteration loop (at most 25 restarts), with an adaptive
// global homotopy at initialisation when the model's nonlinear systems fail.
// The result is reported through QiErr, the level and computedLevel.
#include <string.h>

#include <atomic>

#include "model_interface.h"
#include "runtime.h"
#include "thread_context.h"
#include "time_events.h"

// The two doubles of the model-specific workspace that the initial call
// clears; a model may name others in its constants.
#ifndef MODEL_HEAD_CLEARED_AT_INIT
#define MODEL_HEAD_CLEARED_AT_INIT 0, 1
#endif

extern "C" int initializationHook(void) { return 0; }

// Sizes read at the first initial call (process-wide; model constants). Every
// initial call stores the same values again, possibly on several threads at
// once, so they are atomic; relaxed order suffices for constants.
static std::atomic<int> runtimeStates{0};
static std::atomic<int> runtimeStepFactorStates{0};
static std::atomic<int> runtimeRelations{0};

static void loadRuntimeSizes() {
    int states = 0, unused2 = 0, inputs = 0, outputs = 0, auxiliaries = 0, parameters = 0, unused7 = 0,
        stepFactorStates = 0, relations = 0, unused10 = 0, unused11 = 0;
    getRuntimeSizes(&states, &unused2, &inputs, &outputs, &auxiliaries, &parameters, &unused7, &stepFactorStates,
                    &relations, &unused10, &unused11);
    runtimeStates.store(states, std::memory_order_relaxed);
    runtimeStepFactorStates.store(stepFactorStates, std::memory_order_relaxed);
    runtimeRelations.store(relations, std::memory_order_relaxed);
}

// Relation count for the per-relation loops, never beyond the arrays of ModelData.
static int relationCount() {
    const int relations = runtimeRelations.load(std::memory_order_relaxed);
    if (relations < 0) return 0;
    return relations < MODEL_NREL ? relations : MODEL_NREL;
}

namespace {

enum class Step { Start, Prepare, Next, Pass, AfterPass, HomotopyFailure, End, Return, ErrorReturn, Done };

// The arguments of one driver call and the little state of its loop.
struct DriverCall : ModelArguments {
    bool homotopyFailureFromError;
    long passes;
};

// Passes of the equations in one call. Event iteration stops after 25
// restarts and homotopy after some 20000 steps of its smallest size; passes
// the model repeats itself or a model record restored with nonsense limits
// would otherwise keep the call from returning.
const long kMaxPassesPerCall = 100000;

} // namespace

static void callHomotopyHook(DriverCall& c) {
    if (modelTable.modelHomotopyHook)
        modelTable.modelHomotopyHook(c.time, c.states, c.stateDerivativesIn, c.inputs, c.parameters,
                                     c.integerParameters, c.logicalParameters, c.derivatives, c.outputs,
                                     c.auxiliaries, c.eventIndicators, c.timeData, c.flags, c.strings, c.d, 0);
}

static void clearRelationEvaluated(ModelData* d) {
    for (int j = 1; j <= relationCount(); ++j) d->relationEvaluated[j] = 0;
}

static bool quiet(const DriverCall& c) { return (c.flags[kFlagWord] & kFlagsQuiet) != 0; }

static void startGlobalHomotopy(DriverCall& c) {
    ModelData* d = c.d;
    d->lastHomotopyCall = d->callCount;
    if (!quiet(c)) runtimeMessage("Trying to solve non-linear system using global homotopy-method.");
    d->homotopyActive = 1;
}

// Steps 4 to 14 of a call: flags, first-call initialisation, where to start.
static Step start(DriverCall& c) {
    ModelData* d = c.d;
    ModelFlags* flags = c.flags;
    d->time = *c.time;
    // The limit is set at the first initial call; a call before it (the
    // terminal section of an instance that was never initialized) gets the
    // same limit instead of failing on its first pass.
    if (d->maxRestartIterations <= 0) d->maxRestartIterations = 25;
    d->initialCall = (*c.level == levelInitial);
    d->eventPending = 0;
    if (d->eventCode == eventCodeNormal || d->eventCode == eventCodeFirstPass) {
        d->relationChanged = 0;
        d->eventKindA = 0;
        d->eventKindB = 0;
        if (d->initialCall) {
            d->savedParameterCounter = 0;
            flags[kFlagParameterCounter] += 1;
        }
    }
    d->parametersChanged = (d->savedParameterCounter != flags[kFlagParameterCounter]);
    if (d->parametersChanged) *c.computedLevel = 0;
    d->savedParameterCounter = flags[kFlagParameterCounter];
    d->eventFlag =
        d->initialCall || *c.level == levelEventIteration || *c.level == levelTerminal || d->parametersChanged;
    flags[kFlagEventOut] = d->eventFlag;
    if (d->initialCall) d->callCount += 1;
    d->statusWord = 0;
    flags[kFlagHeldMode] = 0;

    if (d->initialCall) {
        d->initCleared = 0;
        d->eventTime = EVENT_TIME_UNSET;
        d->eventTime2 = EVENT_TIME_UNSET;
        d->eventTime3 = EVENT_TIME_UNSET;
        d->savedHeldTimeA = EVENT_TIME_UNSET;
        d->savedHeldTimeB = EVENT_TIME_UNSET;
        d->heldTimeA = EVENT_TIME_UNSET;
        d->heldTimeB = EVENT_TIME_UNSET;
        d->heldValuesSaved = 0;
        d->shiftA = 0;
        d->shiftB = 0;
        d->initialTime = d->time;
        d->firstCall = 1;
        flags[kFlagWord] = 0;
        d->maxRestartIterations = 25;
        d->crossingScale = 1e-10;
        d->homotopyMinStep = 1e-4;
        initializationHook();
        if (!d->delays[0].times && delayBuffersAllocate(d->delays, MODEL_NDELAY, Buffersize) != 0) {
            *c.QiErr = -500;
            d->busy = 0;
            return Step::Done;
        }
        memset(d->relationEvaluated, 0, sizeof d->relationEvaluated);
        memset(d->relationStates, 0, sizeof d->relationStates);
        memset(d->relationFlags, 0, sizeof d->relationFlags);
        d->sizesLoaded = 1;
        loadRuntimeSizes();
    }
    if (d->eventFlag && !d->inlineIntegration) flags[kFlagStateEvent] = 0;
    if (d->initialCall) {
        for (int j = 1; j <= relationCount(); ++j) {
            d->indicatorHistory[2 * j - 2] = 1.0;
            d->indicatorHistory[2 * j - 1] = 1.0;
            c.eventIndicators[2 * j - 2] = 1.0;
            c.eventIndicators[2 * j - 1] = 1.0;
        }
        if (MODEL_HEAD_DOUBLES >= 2) {
            static const int cleared[] = {MODEL_HEAD_CLEARED_AT_INIT};
            for (int index : cleared)
                if (index >= 0 && index < MODEL_HEAD_DOUBLES) d->modelHead[index] = 0.0;
        }
    }
    if (d->eventCode < eventCodeFurtherPass) d->restartIteration = 0;
    if (d->inlineIntegration && *c.level == levelEventIteration && d->time < c.timeData[kTimeNextEvent] &&
        flags[kFlagStateEvent] == 0) {
        d->eventFlag = 0;
        *c.level = levelEventIndicators;
        d->restartIteration = 1;
    }
    return d->eventCode == eventCodeIteration ? Step::Pass : Step::Prepare;
}

static Step prepare(DriverCall& c) {
    ModelData* d = c.d;
    if (d->eventFlag) {
        c.timeData[kTimeNextEvent] = 1e100;
        d->eventPending = 1;
    }
    if (*c.level == levelEventIndicators ||
        (d->eventFlag && d->eventCode != eventCodeFurtherPass && d->eventCode != eventCodeEndOfInitialization))
        clearRelationEvaluated(d);
    if (d->eventFlag) clearEventArrays(d);
    return Step::Next;
}

static Step next(DriverCall& c) {
    ModelData* d = c.d;
    d->homotopyStepReduced = 0;
    if (d->eventFlag) d->eventCount += 1;
    // Relations are evaluated afresh on iterations 10, 21, ...
    if (d->restartIteration % 11 == 10) clearRelationEvaluated(d);
    d->repeatPass = 0;
    d->restartIteration += 1;
    d->crossingChanged = 0;
    d->parameterChangeKept = 0;
    return Step::Pass;
}

static Step pass(DriverCall& c) {
    if (++c.passes > kMaxPassesPerCall) {
        runtimeMessageTime("ERROR: Too many passes of the model equations at time: ", c.d->time);
        *c.QiErr = 1;
        c.d->statusWord = 1;
        return Step::Return;
    }
    if (modelTable.modelEquations)
        modelTable.modelEquations(c.level, c.computedLevel, c.time, c.states, c.stateDerivativesIn, c.inputs,
                                  c.parameters, c.integerParameters, c.logicalParameters, c.derivatives, c.outputs,
                                  c.auxiliaries, c.eventIndicators, c.timeData, c.flags, c.strings, c.d, c.QiErr);
    return Step::AfterPass;
}

// What the pass returned: homotopy start, homotopy steps, or the end checks.
static Step afterPass(DriverCall& c) {
    ModelData* d = c.d;
    int& q = *c.QiErr;
    if (q > 0 && q <= 4 && d->time <= d->initialTime && d->restartIteration < 2 && d->homotopyUsed &&
        !d->homotopyActive && d->callCount != d->lastHomotopyCall) {
        startGlobalHomotopy(c);
        q = -997;
    }
    if (q == -997) {
        if (d->homotopyActive && d->lambda != 0) {
            d->lambda = 0;
            callHomotopyHook(c);
            d->statusWord = 0;
            q = 0;
            return Step::Pass;
        }
        return Step::End;
    }
    if (q == -996) {
        if (!d->homotopyActive) return Step::End;
        d->statusWord = 0;
        q = 0;
        if (d->lambda >= 1) {
            d->homotopyActive = 0;
            return Step::End;
        }
        if (d->homotopyStep < 0.08 && d->lambda > d->lastLambda + 6 * d->homotopyStep) d->homotopyStep *= 2;
        d->lambda += d->homotopyStep;
        if (d->lambda > 0.999999999) d->lambda = 1;
        d->homotopyStepReduced = 0;
        callHomotopyHook(c);
        return Step::Pass;
    }
    if (q != 0 && d->homotopyActive) {
        c.homotopyFailureFromError = false;
        return Step::HomotopyFailure;
    }
    return Step::End;
}

static Step homotopyFailure(DriverCall& c) {
    ModelData* d = c.d;
    if (d->lambda > 0 && d->homotopyStep > 1e-4) {
        d->statusWord = 0;
        *c.QiErr = 0;
        d->lambda -= d->homotopyStep;
        d->homotopyStep /= 2;
        d->lastLambda = d->lambda;
        d->lambda += d->homotopyStep;
        runtimeMessage("Error: reducing step size for homotopy.");
        d->homotopyStepReduced = 1;
        callHomotopyHook(c);
        return Step::Pass;
    }
    if (d->lambda > 0) {
        if (d->lastLambda <= 0)
            runtimeMessage("Error: adaptive homotopy method could not start using actual - check that actual and "
                           "simplified arguments are similar.");
        else
            runtimeMessage("Error: adaptive homotopy method got stuck after starting. Can set scripting flag "
                           "Advanced.DebugHomotopy=true; simulate again, and open continuation.csv to investigate");
    } else {
        runtimeMessage("Error: could not solve simplified initialization for homotopy method.");
    }
    if (c.homotopyFailureFromError) {
        d->busy = 0;
        *c.QiErr = 1;
        return Step::Done;
    }
    return Step::End;
}

// End of a pass: another iteration, the iteration limit, or the finish.
static Step end(DriverCall& c) {
    ModelData* d = c.d;
    ModelFlags* flags = c.flags;
    const int nrel = relationCount();
    if (d->repeatPass) return Step::Next;
    if (d->eventCode == eventCodeIdle) d->eventCode = eventCodeNormal;
    if (d->inlineIntegration && *c.level == levelEventIndicators && d->restartIteration == 2) {
        for (int i = 0; i < 2 * nrel; ++i) {
            if (d->indicatorHistory[i] * c.eventIndicators[i] < 0) {
                d->crossingChanged = 1;
                *c.level = levelEventIteration;
                d->eventFlag = 1;
                d->restartIteration = 0;
                return Step::Prepare;
            }
        }
    }
    if (d->crossingChanged) d->eventPending = 1;
    const bool iterate = d->initPhase != 0 || (((d->initialCall && nrel > 0) || d->crossingChanged) &&
                                               d->restartIteration <= d->maxRestartIterations);
    if (iterate) {
        if (d->statusWord != 0 || *c.QiErr != 0) return Step::Return;
        if (!(flags[kFlagWord] & kFlagsLogEvents) && d->restartIteration == d->maxRestartIterations &&
            !(flags[kFlagWord] & kFlagsQuiet)) {
            runtimeMessage("");
            runtimeMessage("On the final iteration for restart conditions we get:");
            flags[kFlagWord] |= kFlagsLogEvents;
        }
        if ((flags[kFlagWord] & kFlagsLogEvents) &&
            (d->eventCode == eventCodeNormal || d->eventCode == eventCodeEndOfInitialization))
            runtimeMessage("Iterating to find consistent restart conditions.");
        if (d->initPhase == 1) {
            d->initPhase = 2;
        } else {
            if (d->initialCall) d->restartIteration = 0;
            d->initialCall = 0;
            d->initPhase = 0;
        }
        d->parametersChanged = d->parametersChanged && d->parameterChangeKept;
        d->eventFlag = 1;
        *c.computedLevel = 0;
        if (d->eventCode == eventCodeEndOfInitialization) {
            d->eventCode = eventCodeNormal;
            return Step::Next;
        }
        if (d->eventCode == eventCodeNormal) return Step::Next;
        // The FMI layer repeats the event update.
        d->eventCode = eventCodeFurtherPass;
        return Step::Return;
    }
    if (d->restartIteration > d->maxRestartIterations) {
        runtimeMessage("");
        runtimeMessageTime("ERROR: Finding consistent restart conditions failed at time: ", d->time);
        runtimeMessage("");
        *c.QiErr = 1;
        d->statusWord = 1;
        return Step::Return;
    }

    // Finish.
    d->eventCode = eventCodeNormal;
    d->initialCall = d->firstCall;
    d->firstCall = 0;
    if (((d->initialCall && nrel > 0) || d->crossingChanged || d->restartIteration > 1) &&
        (flags[kFlagWord] & kFlagsLogEvents))
        runtimeMessageTime("      during event at Time : ", d->time);
    const int level = *c.level;
    // A pending status (the model asked to terminate, say) is not covered by an end code.
    if (*c.QiErr == 0 && d->statusWord == 0 && d->initialCall == 0 && d->eventFlag && d->relationChanged == 0 &&
        d->eventKindA == 0 && (level == levelEventIteration || level == levelTerminal)) {
        *c.QiErr = d->eventKindB ? -994 : -995;
        if (*c.QiErr == -995 && level == levelEventIteration && d->heldValuesSaved) {
            d->heldTimeA = d->savedHeldTimeA;
            d->heldTimeB = d->savedHeldTimeB;
            const int held = MODEL_NHELD < 6 ? MODEL_NHELD : 6;
            for (int i = 0; i < held; ++i) d->heldValues[i] = d->savedHeldValues[i];
        }
    }
    if (level < levelAllEquations || level > levelEventIndicators) d->heldValuesSaved = 0;
    if (flags[kFlagInline] != 0)
        eventStepFactor(d, d->time, d->initialCall, d->eventFlag, c.eventIndicators,
                        runtimeStepFactorStates.load(std::memory_order_relaxed), c.derivatives,
                        flags[kFlagInline] == 1 ? runtimeStates.load(std::memory_order_relaxed) : 0, c.timeData,
                        flags);
    if (d->eventFlag) {
        for (int j = 1; j <= nrel; ++j) {
            if (d->relationEvaluated[j] == 0) {
                if ((d->relationStates[j] & 2) || c.eventIndicators[2 * j - 1] == 0) {
                    c.eventIndicators[2 * j - 2] = 0.1;
                    c.eventIndicators[2 * j - 1] = 0.1;
                }
                d->relationStates[j] &= 1;
            } else {
                d->relationStates[j] &= 3;
            }
        }
        if (d->inlineIntegration)
            for (int i = 0; i < 2 * nrel; ++i) d->indicatorHistory[i] = c.eventIndicators[i];
    }
    *c.computedLevel = *c.level;
    return Step::Return;
}

static Step finishReturn(DriverCall& c) {
    ModelData* d = c.d;
    if (d->statusWord != 0 && *c.QiErr == 0) *c.QiErr = d->statusWord;
    d->busy = 0;
    return Step::Done;
}

// A runtime error was trapped: a homotopy start or retry at initialisation,
// else the call ends with QiErr 1 (the status word is not copied).
static Step errorReturn(DriverCall& c) {
    ModelData* d = c.d;
    *c.QiErr = 1;
    if (d->time <= d->initialTime && d->restartIteration < 2 && d->homotopyUsed) {
        if (!d->homotopyActive && d->callCount != d->lastHomotopyCall) {
            startGlobalHomotopy(c);
            d->lambda = 0;
            callHomotopyHook(c);
            d->statusWord = 0;
            *c.QiErr = 0;
            return Step::Pass;
        }
        if (d->homotopyActive) {
            c.homotopyFailureFromError = true;
            return Step::HomotopyFailure;
        }
    }
    d->busy = 0;
    return Step::Done;
}

static Step runStep(DriverCall& c, Step step) {
    switch (step) {
    case Step::Start: return start(c);
    case Step::Prepare: return prepare(c);
    case Step::Next: return next(c);
    case Step::Pass: return pass(c);
    case Step::AfterPass: return afterPass(c);
    case Step::HomotopyFailure: return homotopyFailure(c);
    case Step::End: return end(c);
    case Step::Return: return finishReturn(c);
    case Step::ErrorReturn: return errorReturn(c);
    case Step::Done: break;
    }
    return Step::Done;
}

int dsblockDriver(int* level, int* computedLevel, double* time, double* states, double* stateDerivativesIn,
                  double* inputs, double* parameters, int* integerParameters, int* logicalParameters,
                  double* derivatives, double* outputs, double* auxiliaries, double* eventIndicators,
                  ModelTimeData* timeData, ModelFlags* flags, char** strings, ModelData* modelData, int* QiErr) {
    ModelData* d = modelData ? modelData : modelDataTemplate();
    if (!timeData) timeData = getInstanceTimeData(d);
    if (!flags) flags = d->flags ? d->flags : getModelFlags();
    if (!QiErr) return 0;
    if (!level || !computedLevel || !time || !timeData || !flags || (!eventIndicators && MODEL_NREL > 0)) {
        *QiErr = 1;
        return 0;
    }

    // Re-entry from the same instance (a nested call while its own call
    // runs): only an initial call proceeds; a level-3 call keeps QiErr.
    if (d->busy && *level != levelInitial) {
        if (*level != levelAllEquations) *QiErr = 1;
        return 0;
    }

    // The trap is armed before the binding, so that disarming puts back the
    // binding of an enclosing call (an instance evaluated from within another
    // instance's call keeps its own trap and binding).
    ErrorTrap trap;
    if (!trapArm(&trap)) {
        *QiErr = 1;
        return 0;
    }
    // Scratch memory and the function stack of this evaluation start where
    // the trap found them; resetting them ends there too.
    trap.evaluation = 1;
    bindModelData(d);
    d->busy = 1;

    DriverCall c{{level, computedLevel, time, states, stateDerivativesIn, inputs, parameters, integerParameters,
                  logicalParameters, derivatives, outputs, auxiliaries, eventIndicators, timeData, flags, strings, d,
                  QiErr},
                 false,
                 0};
    Step step = Step::Start;
    while (step != Step::Done) {
        try {
            step = runStep(c, step);
        } catch (const RuntimeUnwind&) {
            trapRestore(&trap);
            step = Step::ErrorReturn;
        } catch (...) {
            trapRestore(&trap);
            step = Step::ErrorReturn;
        }
    }
    // Every exit leaves the function stack and the buffer marks as the call
    // found them, so an enclosing call carries on with its own.
    trapRestore(&trap);
    trapDisarm(&trap);
    return 0;
}

int dsblock_(int* level, int* computedLevel, double* time, double* states, double* stateDerivativesIn,
             double* inputs, double* parameters, int* integerParameters, int* logicalParameters,
             double* derivatives, double* outputs, double* auxiliaries, double* eventIndicators,
             ModelTimeData* timeData, ModelFlags* flags, char** strings, int* QiErr) {
    return dsblockDriver(level, computedLevel, time, states, stateDerivativesIn, inputs, parameters,
                         integerParameters, logicalParameters, derivatives, outputs, auxiliaries, eventIndicators,
                         timeData, flags, strings, modelDataTemplate(), QiErr);
}

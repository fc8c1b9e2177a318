// The calls with which a Model Exchange host integrates the model itself:
// time and states in, derivatives and event indicators out, and the event
// iteration with its mode changes.
#include "evaluate.h"
#include "runtime.h"

static ModelInstance* asInstance(fmi2Component c) { return static_cast<ModelInstance*>(c); }

static const char* name(FmiFunctionId id) { return fmiFunctionNames[id]; }

// The count rule shared by the array calls: a wrong count is reported and the
// smaller of the two counts is transferred. Returns the count to transfer.
static size_t checkCount(ModelInstance* instance, FmiFunctionId id, const char* argument, size_t given,
                         uint64_t expected, bool* wrong) {
    *wrong = given != expected;
    if (*wrong)
        LOG_INSTANCE(instance, fmi2Warning, "%s: argument %s = %u is incorrect, should be %u", name(id), argument,
                     static_cast<unsigned>(given), static_cast<unsigned>(expected));
    return given < expected ? given : static_cast<size_t>(expected);
}

fmi2Status fmiSetTime(fmi2Component c, fmi2Real time) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (instance->mode == modeEventIterationDone) {
        if (instance->nx > 0) {
            LOG_INSTANCE(instance, fmi2Warning,
                         "%s: only allowed for discrete models when not in continuous time mode", name(fnSetTime));
            return fmi2Warning;
        }
        instance->mode = modeContinuousOrStepping; // a model without states may skip the mode change
    }
    if (instance->mode == modeInstantiated || instance->mode == modeContinuousOrStepping) {
        instance->time = time;
        instance->computedLevel = 0;
        instance->linearizationDirty = 1;
        LOG_INSTANCE(instance, fmi2OK, "%s to %g", name(fnSetTime), time);
        return fmi2OK;
    }
    LOG_INSTANCE(instance, fmi2Warning, "%s: not allowed in this state", name(fnSetTime));
    return fmi2Warning;
}

fmi2Status fmiSetContinuousStates(fmi2Component c, const fmi2Real x[], size_t nx) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    bool wrong = false;
    const size_t n = checkCount(instance, fnSetContinuousStates, "nx", nx, instance->nx, &wrong);
    if (n > 0 && !x) return fmi2Error;
    bool changed = false;
    for (size_t i = 0; i < n; ++i) {
        if (!(instance->x[i] == x[i])) changed = true;
        instance->x[i] = x[i];
    }
    // In Co-Simulation new states restart the integrator at the next step.
    if (changed && instance->fmuType == fmi2CoSimulation) instance->inputsChanged = 1;
    instance->dirty = 1;
    instance->computedLevel = 0;
    instance->linearizationDirty = 1;
    LOG_INSTANCE(instance, fmi2OK, "%s", name(fnSetContinuousStates));
    return wrong ? fmi2Warning : fmi2OK;
}

fmi2Status fmiGetContinuousStates(fmi2Component c, fmi2Real x[], size_t nx) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (instance->mode == modeInstantiated) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: fmiEnterInitializationMode must be called before calling %s",
                     name(fnGetContinuousStates), name(fnGetContinuousStates));
        return fmi2Warning;
    }
    bool wrong = false;
    const size_t n = checkCount(instance, fnGetContinuousStates, "nx", nx, instance->nx, &wrong);
    if (n > 0 && !x) return fmi2Error;
    for (size_t i = 0; i < n; ++i) x[i] = instance->x[i];
    LOG_INSTANCE(instance, fmi2OK, "%s", name(fnGetContinuousStates));
    return wrong ? fmi2Warning : fmi2OK;
}

// A failed evaluation while reading: QiErr 1 leaves the instance usable.
static fmi2Status readFailure(ModelInstance* instance, int qiErr) {
    if (qiErr == 1) return fmi2Discard;
    return terminateOnError(instance);
}

fmi2Status fmiGetDerivatives(fmi2Component c, fmi2Real derivatives[], size_t nx) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (instance->mode == modeInstantiated) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: fmi2EnterInitializationMode must be called before calling %s",
                     name(fnGetDerivatives), name(fnGetDerivatives));
        return fmi2Warning;
    }
    bool wrong = false;
    const size_t n = checkCount(instance, fnGetDerivatives, "nx", nx, instance->nx, &wrong);
    if (n > 0 && !derivatives) return fmi2Error;
    if (instance->computedLevel < levelDerivatives) {
        const int qiErr = evaluateModel(instance, levelDerivatives, name(fnGetDerivatives), nullptr);
        if (qiErr != 0) return readFailure(instance, qiErr);
    }
    for (size_t i = 0; i < n; ++i) derivatives[i] = instance->xdot[i];
    LOG_INSTANCE(instance, fmi2OK, "%s", name(fnGetDerivatives));
    return wrong ? fmi2Warning : fmi2OK;
}

fmi2Status fmiGetEventIndicators(fmi2Component c, fmi2Real eventIndicators[], size_t ni) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (instance->mode == modeInstantiated || instance->mode == modeInitialization) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: fmi2ExitInitializationMode must be called before calling %s",
                     name(fnGetEventIndicators), name(fnGetEventIndicators));
        return fmi2Warning;
    }
    bool wrong = false;
    const size_t n = checkCount(instance, fnGetEventIndicators, "ni", ni, instance->ni, &wrong);
    if (n > 0 && !eventIndicators) return fmi2Error;
    if (instance->computedLevel < levelEventIndicators && !instance->terminatedByModel) {
        const int qiErr = evaluateModel(instance, levelEventIndicators, name(fnGetEventIndicators), nullptr);
        if (qiErr != 0) return readFailure(instance, qiErr);
    }
    for (size_t i = 0; i < n; ++i) eventIndicators[i] = instance->eventIndicators[i];
    LOG_INSTANCE(instance, fmi2OK, "%s", name(fnGetEventIndicators));
    return wrong ? fmi2Warning : fmi2OK;
}

fmi2Status fmiGetNominalsOfContinuousStates(fmi2Component c, fmi2Real x_nominal[], size_t nx) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    bool wrong = false;
    const size_t n = checkCount(instance, fnGetNominalsOfContinuousStates, "nx", nx, instance->nx, &wrong);
    if (n > 0 && !x_nominal) return fmi2Error;
    for (size_t i = 0; i < n; ++i) x_nominal[i] = instance->nominals[i];
    LOG_INSTANCE(instance, fmi2OK, "%s", name(fnGetNominalsOfContinuousStates));
    return wrong ? fmi2Warning : fmi2OK;
}

fmi2Status fmiEnterEventMode(fmi2Component c) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    LOG_INSTANCE(instance, fmi2OK, "%s...", name(fnEnterEventMode));
    if (instance->mode == modeContinuousOrStepping) {
        instance->mode = modeEvent;
        instance->firstEventCall = 1;
        LOG_INSTANCE(instance, fmi2OK, "%s done", name(fnEnterEventMode));
        return fmi2OK;
    }
    LOG_INSTANCE(instance, fmi2Warning, "%s: may only be called in continuous time mode", name(fnEnterEventMode));
    return fmi2Warning;
}

fmi2Status fmiNewDiscreteStates(fmi2Component c, fmi2EventInfo* eventInfo) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    const char* const fn = name(fnNewDiscreteStates);
    if (!eventInfo) return fmi2Error;
    LOG_INSTANCE(instance, fmi2OK, "%s...", fn);
    if (instance->fmuType == fmi2ModelExchange && instance->resultGeneration == 1) sampleResult(instance, 1);
    for (uint64_t i = 0; i < instance->nx; ++i) instance->xPrevious[i] = instance->x[i];

    if (instance->mode == modeContinuousOrStepping && (instance->nx == 0 || instance->fmuType == fmi2CoSimulation))
        instance->mode = modeEvent;
    if (instance->mode < modeEvent || instance->mode > modeEventIterationDone) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: may only be called in event mode", fn);
        return fmi2Warning;
    }
    if (instance->mode == modeEventIterationDone) instance->mode = modeEvent;

    int qiErr = 0;
    int converged = 1;
    if (instance->dirty && !instance->firstEventCall) {
        // Values changed since the last call are taken in first.
        setEventCode(instance->modelData, eventCodeIteration);
        qiErr = evaluateModel(instance, levelEventIteration, nullptr, nullptr);
    }
    if (qiErr == 0) {
        setEventCode(instance->modelData, eventCodeFurtherPass);
        instance->computedLevel = 0;
        qiErr = evaluateModel(instance, levelEventIteration, nullptr, &converged);
    }

    eventInfo->valuesOfContinuousStatesChanged = fmi2False;
    for (uint64_t i = 0; i < instance->nx; ++i)
        if (!(instance->x[i] == instance->xPrevious[i])) eventInfo->valuesOfContinuousStatesChanged = fmi2True;

    if (qiErr == -999) {
        LOG_INSTANCE(instance, fmi2OK, "%s: simulation terminated by model", fn);
        eventInfo->nextEventTime = 1e37;
        eventInfo->terminateSimulation = fmi2True;
        eventInfo->newDiscreteStatesNeeded = fmi2False;
        eventInfo->nominalsOfContinuousStatesChanged = fmi2False;
        eventInfo->nextEventTimeDefined = fmi2False;
        instance->mode = modeEventIterationDone;
        instance->terminatedByModel = 1;
        return fmi2OK;
    }
    if (qiErr != 0) {
        LOG_INSTANCE(instance, fmi2Error, "%s: dsblock_ failed, QiErr = %d", fn, qiErr);
        return terminateOnError(instance);
    }
    // The model's Boolean list (kBooleanListCount entries) would be written
    // again here; it is empty in these models.
    if (!converged) {
        eventInfo->newDiscreteStatesNeeded = fmi2True;
        instance->mode = modeEventNeedsIteration;
        instance->eventIterationPending = 1;
    } else {
        eventInfo->newDiscreteStatesNeeded = fmi2False;
        instance->mode = modeEventIterationDone;
        instance->eventIterationPending = 0;
    }
    eventInfo->terminateSimulation = fmi2False;
    eventInfo->nominalsOfContinuousStatesChanged = fmi2False;
    const double nextEvent = instance->timeData[kTimeNextEvent];
    if (nextEvent < 1e37) {
        eventInfo->nextEventTimeDefined = fmi2True;
        eventInfo->nextEventTime = nextEvent;
    } else {
        eventInfo->nextEventTimeDefined = fmi2False; // nextEventTime keeps what the host put there
    }
    // In Co-Simulation the event update may have changed discrete and
    // continuous states: like an event inside a step, it restarts the
    // integrator, here at the next step, together with any change still
    // pending from before.
    instance->inputsChanged = instance->fmuType == fmi2CoSimulation ? 1 : 0;
    instance->linearizationDirty = 1;
    LOG_INSTANCE(instance, fmi2OK, "%s completed", fn);
    return fmi2OK;
}

fmi2Status fmiEnterContinuousTimeMode(fmi2Component c) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    LOG_INSTANCE(instance, fmi2OK, "%s...", name(fnEnterContinuousTimeMode));
    if (instance->mode == modeEventIterationDone) {
        if (instance->resultGeneration == 1) sampleResult(instance, 1);
        instance->mode = modeContinuousOrStepping;
        LOG_INSTANCE(instance, fmi2OK, "%s done", name(fnEnterContinuousTimeMode));
        return fmi2OK;
    }
    LOG_INSTANCE(instance, fmi2Warning, "%s: may only be called when exited event mode",
                 name(fnEnterContinuousTimeMode));
    return fmi2Warning;
}

fmi2Status fmiCompletedIntegratorStep(fmi2Component c, fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                      fmi2Boolean* enterEventMode, fmi2Boolean* terminateSimulation) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (instance->resultGeneration == 1) {
        sampleResult(instance, 0);
        if (noSetFMUStatePriorToCurrentPoint) flushResultBuffer(instance);
    }
    if (terminateSimulation) *terminateSimulation = instance->terminatedByModel ? fmi2True : fmi2False;
    if (enterEventMode) *enterEventMode = instance->flags[kFlagStateEvent] != 0 ? fmi2True : fmi2False;
    LOG_INSTANCE(instance, fmi2OK, "%s", name(fnCompletedIntegratorStep));
    return fmi2OK;
}

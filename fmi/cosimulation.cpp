// Co-Simulation stepping: fmi2DoStep with the integrator or with the model's
// own fixed-step inline integration, stopping at every time and state event
// inside a step; input derivatives for extrapolating the inputs during a
// step, output derivatives estimated from the last step, the status queries
// and the refusal of asynchronous stepping.
#include <math.h>

#include "evaluate.h"
#include "integrator.h"
#include "runtime.h"

// 2^-50: the relative fuzz of time comparisons.
static const double kTimeFuzz = 8.881784197001252e-16;

// A next time event at or beyond this is no event: the model's "none pending".
static const double kNoTimeEvent = 1e37;

// The largest step end. The integrator steps past its target by up to about
// ten times the target; beyond this its time would overflow to infinity,
// where it never finishes a step.
static const double kLargestTime = 1e306;

// Passes of the stepping loop (integration segments, time events and output
// points) one fmi2DoStep may take, and inline grid steps likewise. A time
// event every microsecond over a ten-second step stays below; more is a model
// or host that would keep the call from returning.
static const double kMaxStepPasses = 1e7;
// Consecutive passes at one instant: a time event there takes one, with an
// output point or a state event at the same instant two or three more. A
// model that keeps registering an event at or before the current time would
// loop here for ever.
static const int kMaxPassesWithoutProgress = 100;

enum { kKindOutput = 4, kKindInput = 5 };

static ModelInstance* asInstance(fmi2Component c) { return static_cast<ModelInstance*>(c); }

static const char* functionName(FmiFunctionId id) { return fmiFunctionNames[id]; }

static int referenceKind(fmi2ValueReference vr) { return static_cast<int>((vr >> 24) & 0xFu); }
static uint32_t referenceIndex(fmi2ValueReference vr) { return vr & 0xFFFFFFu; }

static bool inlineIntegration(const ModelInstance* instance) { return instance->flags[kFlagInlineRequested] != 0; }

// ---- Event handling inside a step ----

// The event update at the current time and, unless it is an end-of-step event
// (or reinitAlways is set), a restart of the integrator there.
static fmi2Status handleStepEvent(ModelInstance* instance, int reinitAlways) {
    instance->endOfStepEvent = 0;
    int terminated = 0;
    const fmi2Status status = eventUpdate(instance, &terminated);
    if (status != fmi2OK) return status;
    if (terminated) {
        LOG_INSTANCE(instance, fmi2Discard, "fmiDoStep: simulation terminated by model");
        instance->terminatedByModel = 1;
        return fmi2Discard;
    }
    if (inlineIntegration(instance)) {
        instance->inputsChanged = 0;
        return fmi2OK;
    }
    if (instance->endOfStepEvent && !reinitAlways) return fmi2OK;
    if (reinitIntegrator(instance, 1) != 0) return terminateOnError(instance);
    // The host's changes up to now are taken in: the integrator starts afresh from them.
    instance->inputsChanged = 0;
    return fmi2OK;
}

// ---- What the integrator integrates ----

enum class IntegrandChange { none, slopes, values };

// CVODE's history reaches past the communication point, so the integrator
// may go on from it only when what it is about to integrate from the point is
// what it integrated up to it. What counts as a change, and restarts it there:
// - a value the model sees, changed by the host since the integrator last
//   restarted (`inputsChanged`: an input, a parameter, a start value, a
//   string or a state set to a new value, an event update run at the host's
//   request; setting the value a variable already has changes nothing), or
//   the time moved by the host away from where the integrator stands: an
//   event update takes the values in first;
// - an input slope for the coming step that differs from the slope in force
//   at the end of the last step: a new slope, another one, or one that ended
//   with that step because the host did not give it again (a held input has
//   slope 0). The values are unchanged, so the integrator only restarts.
// Nothing else does: reads, queries and a slope given again with the input's
// value on its line leave the integrator going on from its history.
// A step of size zero is the one restart outside this rule: it stands for an
// event point the host asks for, so fmiDoStep runs the event update and
// restarts the integrator at once, whatever changed.
static IntegrandChange integrandChange(const ModelInstance* instance) {
    const IntegratorData* d = instance->integrator;
    if (instance->inputsChanged || instance->time != d->integratedTime) return IntegrandChange::values;
    for (uint64_t i = 0; i < instance->nu; ++i) {
        const double slope = d->extrapolateInputs ? d->inputDerivatives[i] : 0.0;
        if (!(slope == d->integratedInputDerivatives[i])) return IntegrandChange::slopes;
    }
    return IntegrandChange::none;
}

// With nothing changed, the slopes given again continue the extrapolation of
// the last step from its own start: the inputs at every time of the coming
// step are bitwise those the integrator's history was computed with.
static void continueIntegratedInputs(ModelInstance* instance) {
    IntegratorData* d = instance->integrator;
    if (!d->extrapolateInputs || !d->integratedExtrapolation) return;
    d->inputStartTime = d->integratedInputStartTime;
    for (uint64_t i = 0; i < instance->nu; ++i) d->inputStartValues[i] = d->integratedInputStartValues[i];
}

// ---- fmi2DoStep ----

// The model's fixed grid from time 0: every grid point up to the step end,
// each with its event handling. `time` stays at the last grid point.
static fmi2Status inlineSteps(ModelInstance* instance, double stepEnd, int noSetPrior) {
    const char* name = functionName(fnDoStep);
    const double h = instance->timeData[kTimeInlineStep];
    if (!(h > 0)) {
        // A grid without a positive step would never advance.
        LOG_INSTANCE(instance, fmi2Error, "%s: inline integration step size %g is not positive", name, h);
        return terminateOnError(instance);
    }
    const uint64_t first = instance->stepCounter + 1;
    // The grid steps up to the step end are known before the first one.
    if ((stepEnd + 0.1 * h) / h - static_cast<double>(first) > kMaxStepPasses) {
        LOG_INSTANCE(instance, fmi2Error, "%s: more than %.0f inline integration steps of %g to reach %.16e", name,
                     kMaxStepPasses, h, stepEnd);
        return terminateOnError(instance);
    }
    instance->stepCounter = first;
    double t = static_cast<double>(first) * h;
    bool stepped = false;
    while (t < stepEnd + 0.1 * h) {
        fmi2Status status = fmiSetTime(instance, t);
        if (status != fmi2OK) return status;
        status = handleStepEvent(instance, 0);
        if (status != fmi2OK) return status;
        stepped = true;
        instance->stepCounter += 1;
        t = static_cast<double>(instance->stepCounter) * h;
    }
    instance->stepCounter -= 1;
    if (stepped && instance->resultGeneration == 1) {
        sampleResult(instance, 1);
        if (noSetPrior) flushResultBuffer(instance);
    }
    return fmi2OK;
}

// The event handling of the integrator loop, with the result points around it.
static fmi2Status stepEvent(ModelInstance* instance, int noSetPrior) {
    if (instance->resultGeneration == 1) {
        sampleResult(instance, 1);
        if (noSetPrior) flushResultBuffer(instance);
    }
    const fmi2Status status = handleStepEvent(instance, 0);
    if (status != fmi2OK) return status;
    if (instance->resultGeneration == 1) {
        sampleResult(instance, 1);
        if (noSetPrior) flushResultBuffer(instance);
    }
    return fmi2OK;
}

// Integration with CVODE from `time` to stepEnd, stopping at time events,
// output points and state events.
static fmi2Status integratorSteps(ModelInstance* instance, double stepEnd, int noSetPrior) {
    const char* name = functionName(fnDoStep);
    const IntegrandChange change = integrandChange(instance);
    if (change == IntegrandChange::values) {
        const fmi2Status status = handleStepEvent(instance, 1);
        instance->dirty = 0;
        if (status != fmi2OK) return status;
    } else if (change == IntegrandChange::slopes) {
        if (reinitIntegrator(instance, 1) != 0) return terminateOnError(instance);
    } else {
        continueIntegratedInputs(instance);
    }
    if (change != IntegrandChange::values && instance->computedLevel < levelDerivatives) {
        const int qiErr = evaluateModel(instance, levelDerivatives, name, nullptr);
        if (qiErr == 1) return fmi2Discard;
        if (qiErr != 0) return terminateOnError(instance);
    }
    IntegratorData* d = instance->integrator;
    if (d->nonZeros != 0 && d->sparseSetupPending != 0 && setupSparseSolver(instance) != 0)
        return terminateOnError(instance);

    int eventAtStepEndHandled = 0;
    double passes = 0;
    int passesWithoutProgress = 0;
    double lastTime = instance->time;
    for (;;) {
        const double te = instance->timeData[kTimeNextEvent];
        const bool timeEventPending = te < kNoTimeEvent;
        if (!(stepEnd > instance->time || (stepEnd == te && timeEventPending && !eventAtStepEndHandled))) break;
        passesWithoutProgress = instance->time > lastTime ? 0 : passesWithoutProgress + 1;
        lastTime = instance->time;
        if (++passes > kMaxStepPasses || passesWithoutProgress > kMaxPassesWithoutProgress) {
            LOG_INSTANCE(instance, fmi2Error, "%s: %s at t = %.16e", name,
                         passes > kMaxStepPasses ? "too many time events and output points in one step"
                                                 : "time events do not advance",
                         instance->time);
            return terminateOnError(instance);
        }
        if (!timeEventPending || te > instance->time) {
            double target = timeEventPending ? te : stepEnd;
            // Output points exist only with result generation (1e100 stands for
            // none); one not ahead of the time is no target.
            if (instance->resultGeneration == 1 && instance->nextOutputTime > instance->time &&
                instance->nextOutputTime < target)
                target = instance->nextOutputTime;
            if (target >= stepEnd) target = stepEnd;
            const int r = integration_step(instance, target);
            if (r == 1) {
                LOG_INSTANCE(instance, fmi2Error, "%s: integration_step failed", name);
                return terminateOnError(instance);
            }
            if (r == 2) {
                LOG_INSTANCE(instance, fmi2Discard, "%s: simulation terminated by model", name);
                instance->terminatedByModel = 1;
                return fmi2Discard;
            }
            const fmi2Status timeSet = fmiSetTime(instance, target);
            if (timeSet != fmi2OK) return timeSet;
            interpolateInputs(instance, target);
            if (instance->resultGeneration == 1 && target == instance->nextOutputTime &&
                instance->flags[kFlagStateEvent] == 0) {
                if (target == te) continue; // the time event is handled in the next pass
                sampleResult(instance, 0);
                if (noSetPrior) flushResultBuffer(instance);
                continue;
            }
            if (instance->flags[kFlagStateEvent] == 0) continue;
        } else {
            const fmi2Status timeSet = fmiSetTime(instance, te);
            if (timeSet != fmi2OK) return timeSet;
            if (instance->time == stepEnd) eventAtStepEndHandled = 1;
        }
        const fmi2Status status = stepEvent(instance, noSetPrior);
        if (status != fmi2OK) return status;
    }
    instance->time = stepEnd;
    recordIntegratedInputs(instance);
    instance->integrator->extrapolateInputs = 0;
    return fmi2OK;
}

fmi2Status fmiDoStep(fmi2Component c, fmi2Real currentCommunicationPoint, fmi2Real communicationStepSize,
                     fmi2Boolean noSetFMUStatePriorToCurrentCommunicationPoint) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    const char* name = functionName(fnDoStep);
    const int noSetPrior = noSetFMUStatePriorToCurrentCommunicationPoint;
    if (instance->fmuType != fmi2CoSimulation) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: not supported for fmuType fmi2ModelExchange", name);
        return fmi2Warning;
    }
    if (instance->mode == modeInstantiated || instance->mode == modeInitialization) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: Initialization must be finished before calling fmiDoStep", name);
        return fmi2Warning;
    }
    if (instance->mode == modeTerminated || instance->terminatedByModel) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: model is terminated", name);
        return fmi2Warning;
    }
    // Model Exchange event calls can leave the instance in an event mode, in
    // which time cannot be set: stepping from there would never advance.
    if (instance->mode != modeContinuousOrStepping) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: may only be called in stepping mode", name);
        return fmi2Warning;
    }
    const bool inlined = inlineIntegration(instance);
    if (!inlined && !instance->integrator) {
        LOG_INSTANCE(instance, fmi2Error, "%s: no integrator", name);
        return fmi2Error;
    }

    // Infinite or NaN times never lead anywhere: refused before anything else.
    if (!isfinite(currentCommunicationPoint)) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: currentCommunicationPoint = %.16e is not finite, ignoring call", name,
                     currentCommunicationPoint);
        return fmi2Warning;
    }
    if (!isfinite(communicationStepSize)) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: communicationStepSize = %.16e is not finite, ignoring call", name,
                     communicationStepSize);
        return fmi2Warning;
    }
    // The communication point must be the current time, within the fuzz of
    // the time (and 1.5 inline steps under inline integration).
    const double distance = fabs(instance->time - currentCommunicationPoint);
    const double allowance = inlined ? 1.5 * instance->timeData[kTimeInlineStep] : 0.0;
    if (!(distance <= allowance || distance < (fabs(instance->time) + 1) * kTimeFuzz)) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: currentCommunicationPoint = %.16f, expected %.16f", name,
                     currentCommunicationPoint, instance->time);
        return fmi2Warning;
    }
    if (communicationStepSize < 0) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: communicationStepSize = %.16e is negative, ignoring call", name,
                     communicationStepSize);
        return fmi2Warning;
    }
    // An event point: the event update and a restart, changed or not (see integrandChange).
    if (communicationStepSize == 0) return handleStepEvent(instance, 1);

    double stepEnd = currentCommunicationPoint + communicationStepSize;
    // A step too small to move the time ends at once; a step end the
    // integrator cannot reach is refused.
    if (stepEnd == currentCommunicationPoint) {
        LOG_INSTANCE(instance, fmi2OK, "%s", name);
        return fmi2OK;
    }
    if (!(fabs(stepEnd) <= kLargestTime)) {
        LOG_INSTANCE(instance, fmi2Warning,
                     "%s: communicationStepSize = %.16e ends beyond the largest time %g, ignoring call", name,
                     communicationStepSize, kLargestTime);
        return fmi2Warning;
    }
    if (instance->stopTimeDefined && stepEnd - instance->stopTime > 0) {
        const double excess = stepEnd - instance->stopTime;
        if (excess > 2 * (fabs(instance->stopTime) + 1) * kTimeFuzz) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: trying to compute past tStop = %f, to %.16f,  at t = %f", name,
                         instance->stopTime, stepEnd, instance->time);
            return fmi2Warning;
        }
        LOG_INSTANCE(instance, fmi2OK, "t = %f: Reducing communicationStepSize %.16e s to avoid passing tStop.\n",
                     instance->time, excess);
        stepEnd = instance->stopTime;
    }

    const fmi2Status status =
        inlined ? inlineSteps(instance, stepEnd, noSetPrior) : integratorSteps(instance, stepEnd, noSetPrior);
    if (status != fmi2OK) return status;
    LOG_INSTANCE(instance, fmi2OK, "%s", name);
    return fmi2OK;
}

// ---- Input and output derivatives ----

// The checks both derivative calls share; fmi2OK when the call may go on.
static fmi2Status derivativeCallAllowed(ModelInstance* instance, const char* name) {
    if (instance->fmuType != fmi2CoSimulation) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: not supported for fmuType fmi2ModelExchange", name);
        return fmi2Warning;
    }
    if (inlineIntegration(instance)) {
        LOG_INSTANCE(instance, fmi2Warning, "%s is not suported with inline integration", name);
        return fmi2Warning;
    }
    if (instance->mode == modeInstantiated) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: fmi2EnterInitializationMode must be called before calling %s", name,
                     name);
        return fmi2Warning;
    }
    // After termination the integrator record (with the derivative arrays) is gone.
    if (instance->mode == modeTerminated || !instance->integrator) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: model is terminated", name);
        return fmi2Warning;
    }
    return fmi2OK;
}

fmi2Status fmiSetRealInputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Integer order[], const fmi2Real value[]) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    const char* name = functionName(fnSetRealInputDerivatives);
    const fmi2Status allowed = derivativeCallAllowed(instance, name);
    if (allowed != fmi2OK) return allowed;
    if (nvr > 0 && (!vr || !order || !value)) return fmi2Error;
    if (nvr == 0 || nvr > instance->nu) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: invalid nvr = %d (number of inputs = %d), ignoring call", name,
                     static_cast<int>(nvr), static_cast<int>(instance->nu));
        return fmi2Warning;
    }
    IntegratorData* d = instance->integrator;
    // The first call for a step starts from zero slopes: a slope given for an
    // earlier step does not carry over to an input the host leaves out now.
    if (!d->extrapolateInputs)
        for (uint64_t i = 0; i < instance->nu; ++i) d->inputDerivatives[i] = 0;
    for (size_t i = 0; i < nvr; ++i) {
        if (order[i] != 1) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: derivative order %d is not supported", name, order[i]);
            return fmi2Warning;
        }
        if (referenceKind(vr[i]) != kKindInput) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: variable is not input", name);
            return fmi2Warning;
        }
        const uint32_t index = referenceIndex(vr[i]);
        if (index >= instance->nu) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: invalid value reference %u", name, vr[i]);
            return fmi2Warning;
        }
        d->inputDerivatives[index] = value[i];
    }
    for (uint64_t i = 0; i < instance->nu; ++i) d->inputStartValues[i] = instance->u[i];
    d->inputStartTime = instance->time;
    d->extrapolateInputs = 1;
    LOG_INSTANCE(instance, fmi2OK, "%s", name);
    return fmi2OK;
}

fmi2Status fmiGetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                       const fmi2Integer order[], fmi2Real value[]) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    const char* name = functionName(fnGetRealOutputDerivatives);
    const fmi2Status allowed = derivativeCallAllowed(instance, name);
    if (allowed != fmi2OK) return allowed;
    if (nvr > 0 && (!vr || !order || !value)) return fmi2Error;
    if (nvr == 0 || nvr > instance->ny) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: invalid nvr = %d (number of outputs = %d)", name,
                     static_cast<int>(nvr), static_cast<int>(instance->ny));
        return fmi2Warning;
    }
    IntegratorData* d = instance->integrator;
    const double dt = instance->time - d->previousOutputsTime;
    if (evaluateModel(instance, levelOutputs, name, nullptr) != 0) return terminateOnError(instance);
    for (size_t i = 0; i < nvr; ++i) {
        if (order[i] <= 0) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: derivative order 0 is not allowed", name);
            return fmi2Warning;
        }
        if (order[i] >= 2) {
            value[i] = 0;
            continue;
        }
        if (referenceKind(vr[i]) != kKindOutput) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: variable is not output", name);
            return fmi2Warning;
        }
        const uint32_t j = referenceIndex(vr[i]);
        if (j >= instance->ny) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: invalid value reference %u", name, vr[i]);
            return fmi2Warning;
        }
        if (dt <= 0) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: time interval for estimate is %f, returning 0", name, dt);
            value[i] = 0;
        } else {
            value[i] = (instance->y[j] - d->previousOutputs[j]) / dt;
        }
    }
    LOG_INSTANCE(instance, fmi2OK, "%s", name);
    return fmi2OK;
}

// ---- Status queries and asynchronous stepping ----

fmi2Status fmiCancelStep(fmi2Component c) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    LOG_INSTANCE(instance, fmi2Discard, "%s: asynchronous execution of fmiDoStep is not supported",
                 functionName(fnCancelStep));
    return fmi2Discard;
}

static fmi2Status asynchronousNotSupported(fmi2Component c, FmiFunctionId id) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    LOG_INSTANCE(instance, fmi2Discard, "%s: not supported since asynchronous execution of fmiDoStep is not supported",
                 functionName(id));
    return fmi2Discard;
}

static fmi2Status unknownStatusKind(fmi2Component c, FmiFunctionId id, fmi2StatusKind s) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    LOG_INSTANCE(instance, fmi2Discard, "%s: fmiStatusKind %d unknown", functionName(id), static_cast<int>(s));
    return fmi2Discard;
}

fmi2Status fmiGetStatus(fmi2Component c, const fmi2StatusKind s, fmi2Status* value) {
    (void)s;
    (void)value;
    return asynchronousNotSupported(c, fnGetStatus);
}

fmi2Status fmiGetStringStatus(fmi2Component c, const fmi2StatusKind s, fmi2String* value) {
    (void)s;
    (void)value;
    return asynchronousNotSupported(c, fnGetStringStatus);
}

// A known status kind asked for without a place for the answer.
static fmi2Status missingStatusValue(ModelInstance* instance, FmiFunctionId id) {
    LOG_INSTANCE(instance, fmi2Warning, "%s: value is a null pointer, ignoring call", functionName(id));
    return fmi2Warning;
}

fmi2Status fmiGetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real* value) {
    ModelInstance* instance = asInstance(c);
    if (instance && s == fmi2LastSuccessfulTime) {
        if (!value) return missingStatusValue(instance, fnGetRealStatus);
        *value = instance->time;
        return fmi2OK;
    }
    return unknownStatusKind(c, fnGetRealStatus, s);
}

fmi2Status fmiGetIntegerStatus(fmi2Component c, const fmi2StatusKind s, fmi2Integer* value) {
    (void)value;
    return unknownStatusKind(c, fnGetIntegerStatus, s);
}

fmi2Status fmiGetBooleanStatus(fmi2Component c, const fmi2StatusKind s, fmi2Boolean* value) {
    ModelInstance* instance = asInstance(c);
    if (instance && s == fmi2Terminated) {
        if (!value) return missingStatusValue(instance, fnGetBooleanStatus);
        *value = instance->terminatedByModel;
        return fmi2OK;
    }
    return unknownStatusKind(c, fnGetBooleanStatus, s);
}

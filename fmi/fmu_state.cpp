// FMU states: get, set and free. A state is a second ModelInstance record with
// its own arrays, string slots, shared blocks, ModelData and delay buffers,
// all from the host's allocator; a Co-Simulation state also keeps a copy of
// the integrator record.
#include "fmu_state.h"

#include <stddef.h>
#include <string.h>

#include "evaluate.h"
#include "integrator.h"
#include "runtime.h"

static const char* const kGetFMUstate = "fmi2GetFMUstate";
static const char* const kSetFMUstate = "fmi2SetFMUstate";
static const char* const kFreeFMUstate = "fmi2FreeFMUstate";

static ModelInstance* asInstance(fmi2Component c) { return static_cast<ModelInstance*>(c); }

static bool resultGenerationRefuses(ModelInstance* instance, const char* name) {
    if (!instance->resultGeneration) return false;
    LOG_INSTANCE(instance, fmi2Warning,
                 "%s failed, FMU uses internal result generation; this is not possible to combine with %s", name,
                 name);
    return true;
}

// ---- Allocation and release ----

template <typename T>
static T* allocateElements(const fmi2CallbackFunctions* functions, uint64_t n) {
    return static_cast<T*>(functions->allocateMemory(static_cast<size_t>(n), sizeof(T)));
}

template <typename T>
static void release(const fmi2CallbackFunctions* functions, T*& pointer) {
    if (pointer) functions->freeMemory(const_cast<void*>(static_cast<const void*>(pointer)));
    pointer = nullptr;
}

bool sameSizes(const ModelInstance* a, const ModelInstance* b) {
    return a->nx == b->nx && a->np == b->np && a->nu == b->nu && a->ny == b->ny && a->nw == b->nw &&
           a->ni == b->ni && a->nstr == b->nstr && a->nExtra1 == b->nExtra1 && a->nExtra2 == b->nExtra2;
}

void releaseFMUstate(ModelInstance* instance, ModelInstance* state) {
    if (!state) return;
    const fmi2CallbackFunctions* functions = instance->functions;
    if (state->integrator) freeIntegratorRecord(instance, state);
    release(functions, state->x);
    release(functions, state->xPrevious);
    release(functions, state->xdot);
    release(functions, state->p);
    release(functions, state->u);
    release(functions, state->y);
    release(functions, state->w);
    release(functions, state->eventIndicators);
    release(functions, state->nominals);
    release(functions, state->extraVars1);
    release(functions, state->extraVars2);
    if (state->strings)
        for (uint64_t i = state->nstr; i-- > 0;) release(functions, state->strings[i]);
    release(functions, state->strings);
    release(functions, state->timeData);
    release(functions, state->flags);
    if (state->modelData) {
        DelayBuffer* delays = nullptr;
        int count = 0;
        delayBufferList(state->modelData, &delays, &count);
        delayBuffersFree(delays, count);
        release(functions, state->modelData);
    }
    release(functions, state->delayScratch);
    release(functions, state->serialBlock);
    functions->freeMemory(state);
}

ModelInstance* newFMUstate(ModelInstance* instance, uint64_t nx) {
    const fmi2CallbackFunctions* functions = instance->functions;
    ModelInstance* state = allocateElements<ModelInstance>(functions, 1);
    if (!state) return nullptr;
    memset(static_cast<void*>(state), 0, sizeof *state);
    // The state keeps its own copy of the host's callbacks, so that nothing
    // reached through it depends on the instance's record.
    state->callbacks = instance->callbacks;
    state->functions = &state->callbacks;
    state->integrator = nullptr;
    state->isStateCopy = 0;
    state->nx = nx;
    state->np = instance->np;
    state->nu = instance->nu;
    state->ny = instance->ny;
    state->nw = instance->nw;
    state->ni = instance->ni;
    state->nstr = instance->nstr;
    state->nExtra1 = instance->nExtra1;
    state->nExtra2 = instance->nExtra2;
    state->messagePrefixEnd = state->messagePrefix;

    // Every array has one element more than its count.
    state->x = allocateElements<double>(functions, state->nx + 1);
    state->xPrevious = allocateElements<double>(functions, state->nx + 1);
    state->xdot = allocateElements<double>(functions, state->nx + 1);
    state->p = allocateElements<double>(functions, state->np + 1);
    state->u = allocateElements<double>(functions, state->nu + 1);
    state->y = allocateElements<double>(functions, state->ny + 1);
    state->w = allocateElements<double>(functions, state->nw + 1);
    state->eventIndicators = allocateElements<double>(functions, state->ni + 1);
    state->nominals = allocateElements<double>(functions, state->nx + 1);
    state->strings = allocateElements<char*>(functions, state->nstr + 1);
    state->extraVars1 = allocateElements<double>(functions, state->nExtra1 + 1);
    state->extraVars2 = allocateElements<double>(functions, state->nExtra2 + 1);
    bool ok = state->x && state->xPrevious && state->xdot && state->p && state->u && state->y && state->w &&
              state->eventIndicators && state->nominals && state->strings && state->extraVars1 && state->extraVars2;
    if (ok) {
        // One 501-byte slot per string variable and NULL after the last.
        for (uint64_t i = 0; i <= state->nstr; ++i) state->strings[i] = nullptr;
        for (uint64_t i = 0; ok && i < state->nstr; ++i) {
            state->strings[i] = allocateElements<char>(functions, kStringSlotSize);
            ok = state->strings[i] != nullptr;
            if (ok) memset(state->strings[i], 0, kStringSlotSize);
        }
    }
    if (ok) {
        state->timeData = allocateElements<ModelTimeData>(functions, kTimeDataCount);
        state->flags = allocateElements<ModelFlags>(functions, kFlagCount);
        ok = state->timeData && state->flags;
        state->timeDataForModel = state->timeData;
        state->flagsForModel = state->flags;
    }
    if (ok && MODEL_HAS_INSTANCE_DATA) {
        state->modelData = allocateElements<ModelData>(functions, 1);
        ok = state->modelData != nullptr;
        if (ok) {
            // Straight from the template: filling it must not touch the
            // calling thread's record.
            void* templateAddress = nullptr;
            getModelDataTemplate(&templateAddress, nullptr);
            memcpy(static_cast<void*>(state->modelData), templateAddress, sizeof(ModelData));
            state->modelData->timeData = state->timeData;
            state->modelData->flags = state->flags;
            DelayBuffer* delays = nullptr;
            int count = 0;
            delayBufferList(state->modelData, &delays, &count);
            for (int i = 0; i < count; ++i) memset(&delays[i], 0, sizeof delays[i]);
            ok = delayBuffersAllocate(delays, count, Buffersize) == 0;
        }
    }
    if (!ok) {
        releaseFMUstate(instance, state);
        return nullptr;
    }
    state->delayScratch = nullptr;
    return state;
}

// ---- Copying ----

template <typename T>
static void copyElements(T* destination, const T* source, uint64_t destinationCount, uint64_t sourceCount) {
    // Never more than either record holds (a state made before a Co-Simulation
    // instance got its dummy state has one state fewer than the instance).
    const uint64_t n = destinationCount < sourceCount ? destinationCount : sourceCount;
    if (n && destination && source) memcpy(destination, source, static_cast<size_t>(n) * sizeof(T));
}

// After a whole ModelData block was copied over `owner`'s, points the
// pointers inside it at `owner`'s own storage again: the time-data and flag
// blocks, the delay buffers (`ownDelays`: the owner's records, already holding
// the copied contents), the directional-derivative request and the
// string-slot table.
static void rebindModelData(ModelInstance* owner, const DelayBuffer* ownDelays, int delayCount,
                            double* const ownRequest[4], int32_t* ownRequestOut) {
    ModelData* d = owner->modelData;
    d->timeData = owner->timeData;
    d->flags = owner->flags;
    DelayBuffer* delays = nullptr;
    int count = 0;
    delayBufferList(d, &delays, &count);
    for (int i = 0; i < count && i < delayCount; ++i) delays[i] = ownDelays[i];
    for (int i = 0; i < 4; ++i) d->ddVectors[i] = ownRequest[i];
    d->ddOut = ownRequestOut;
    d->ddOutSet = ownRequestOut ? d->ddOutSet : 0;
    // A slot-table entry in use names this record's own slot of the same index.
    const int slots = static_cast<int>(sizeof d->stringSlotTable / sizeof d->stringSlotTable[0]);
    for (int i = 0; i < slots; ++i)
        if (d->stringSlotTable[i]) d->stringSlotTable[i] = d->stringSlots[i];
}

// What a snapshot carries of a ModelData block: all but the delay records,
// the work area and the resources directory, which no evaluation writes (the
// runtime has no delay operator, the work area is cleared at a reset, the
// directory set at instantiation). The three make up almost all of the
// block, and a directional derivative copies the rest twice. A snapshot
// only ever goes back into the instance it was taken from, so the addresses
// in the block (the shared blocks, the derivative request, the slot table)
// travel with it as they are.
static void copyEvaluatedModelData(ModelData* destination, const ModelData* source) {
    char* to = reinterpret_cast<char*>(destination);
    const char* from = reinterpret_cast<const char*>(source);
    const size_t delaysStart = offsetof(ModelData, delays);
    const size_t delaysEnd = delaysStart + sizeof source->delays;
    const size_t workStart = offsetof(ModelData, workArea);
    const size_t workEnd = workStart + sizeof source->workArea;
    const size_t directory = offsetof(ModelData, resourcesDirectory);
    static_assert(offsetof(ModelData, delays) < offsetof(ModelData, workArea) &&
                      offsetof(ModelData, workArea) < offsetof(ModelData, resourcesDirectory) &&
                      offsetof(ModelData, resourcesDirectory) + kResourcesDirectoryLength == sizeof(ModelData),
                  "the delay records, the work area and the resources directory lie in this order, the last at the end");
    memcpy(to, from, delaysStart);
    memcpy(to + delaysEnd, from + delaysEnd, workStart - delaysEnd);
    memcpy(to + workEnd, from + workEnd, directory - workEnd);
}

// The copy behind copyFMUstate (`snapshot` false) and the snapshots. A
// snapshot leaves the destination its own delay buffers, records and
// contents alike, copies only what evaluations write of the ModelData block,
// and leaves out the nominals, which only instantiation and the integrator's
// creation set.
static int copyInstance(const ModelInstance* source, ModelInstance* destination, bool snapshot) {
    ModelInstance* d = destination;
    const ModelInstance* s = source;
    d->toleranceDefined = s->toleranceDefined;
    d->tolerance = s->tolerance;
    d->loggingOn = s->loggingOn;
    copyElements(d->x, s->x, d->nx, s->nx);
    copyElements(d->xdot, s->xdot, d->nx, s->nx);
    copyElements(d->p, s->p, d->np, s->np);
    copyElements(d->u, s->u, d->nu, s->nu);
    copyElements(d->y, s->y, d->ny, s->ny);
    copyElements(d->w, s->w, d->nw, s->nw);
    copyElements(d->eventIndicators, s->eventIndicators, d->ni, s->ni);
    if (!snapshot) copyElements(d->nominals, s->nominals, d->nx, s->nx);
    copyElements(d->extraVars1, s->extraVars1, d->nExtra1, s->nExtra1);
    copyElements(d->extraVars2, s->extraVars2, d->nExtra2, s->nExtra2);
    const uint64_t nstr = d->nstr < s->nstr ? d->nstr : s->nstr;
    for (uint64_t i = 0; i < nstr; ++i) {
        char* slot = d->strings[i];
        const char* text = s->strings[i];
        if (!slot) continue;
        const size_t length = text ? strnlen(text, kStringSlotSize - 1) : 0;
        if (length) memmove(slot, text, length);
        slot[length] = '\0';
        slot[kStringSlotSize - 1] = '\0';
    }
    d->time = s->time;
    d->computedLevel = s->computedLevel;
    d->mode = s->mode;
    d->terminatedByModel = s->terminatedByModel;
    d->resultGeneration = s->resultGeneration;
    d->stepCounter = s->stepCounter;
    d->nextOutputTime = s->nextOutputTime;
    d->perturbByState = s->perturbByState;
    d->dirty = s->dirty;
    d->eventIterationPending = s->eventIterationPending;
    d->linearizationDirty = s->linearizationDirty;
    d->directionalDerivativeActive = s->directionalDerivativeActive;
    d->inputsChanged = s->inputsChanged;
    d->firstEventCall = s->firstEventCall;
    d->eventUpdateStarted = s->eventUpdateStarted;
    if (d->timeData && s->timeData) memcpy(d->timeData, s->timeData, kTimeDataCount * sizeof(ModelTimeData));
    if (d->flags && s->flags) memcpy(d->flags, s->flags, kFlagCount * sizeof(ModelFlags));

    if (!d->modelData || !MODEL_HAS_INSTANCE_DATA || !s->modelData) return 0;
    if (snapshot) {
        copyEvaluatedModelData(d->modelData, s->modelData);
        return 0;
    }

    DelayBuffer* destinationDelays = nullptr;
    DelayBuffer* sourceDelays = nullptr;
    int destinationCount = -1;
    int sourceCount = -2;
    delayBufferList(d->modelData, &destinationDelays, &destinationCount);
    delayBufferList(s->modelData, &sourceDelays, &sourceCount);
    if (!destinationDelays || !sourceDelays || destinationCount != sourceCount) return 2;
    enum { kDelayTable = ATLEAST1(MODEL_NDELAY) };
    if (destinationCount > kDelayTable) return 2;
    if (delayBuffersCopy(destinationDelays, sourceDelays, destinationCount) != 0) return 1;

    // The destination's own storage, kept across the whole-block copy.
    DelayBuffer ownDelays[kDelayTable];
    memcpy(ownDelays, destinationDelays, static_cast<size_t>(destinationCount) * sizeof(DelayBuffer));
    double* ownRequest[4];
    memcpy(ownRequest, d->modelData->ddVectors, sizeof ownRequest);
    int32_t* ownRequestOut = d->modelData->ddOut;

    memcpy(static_cast<void*>(d->modelData), s->modelData, sizeof(ModelData));
    rebindModelData(d, ownDelays, destinationCount, ownRequest, ownRequestOut);
    return 0;
}

int copyFMUstate(const ModelInstance* source, ModelInstance* destination, const fmi2CallbackFunctions* functions) {
    // The host's callbacks would give a table for the delay buffers' own
    // storage when a local one is too small; the model's count of delay
    // buffers is a constant and the local table holds them all.
    (void)functions;
    return copyInstance(source, destination, false);
}

// A failed copy: logged, and the instance terminated.
static fmi2Status copyFailure(ModelInstance* instance, const char* name, int result) {
    if (result == 1)
        LOG_INSTANCE(instance, fmi2Error, "%s failed, out of memory", name);
    else if (result == 2)
        LOG_INSTANCE(instance, fmi2Error, "%s failed, internal mismach when copying variables", name);
    else
        LOG_INSTANCE(instance, fmi2Error, "%s failed, unhandeld internal error code %d", name, result);
    return terminateOnError(instance);
}

// ---- The integrator record of a Co-Simulation state ----

// A Co-Simulation instance integrating with CVODE (not inline integration).
static bool usesIntegrator(const ModelInstance* instance, const ModelFlags* flags) {
    return instance->fmuType == fmi2CoSimulation && flags && flags[kFlagInlineRequested] == 0;
}

// Modes in which a Co-Simulation instance holds an integrator: from
// initialization until termination.
static bool modeHasIntegrator(int mode) { return mode != modeInstantiated && mode != modeTerminated; }

static void copyDoubles(double* destination, const double* source, uint64_t n) {
    if (destination && source && n) memcpy(destination, source, static_cast<size_t>(n) * sizeof(double));
}

// The totals of an integrator record (CVODE's work and the work discarded by restores).
static void copyCounters(IntegratorData* destination, const IntegratorData* source) {
    destination->externalSteps = source->externalSteps;
    destination->internalSteps = source->internalSteps;
    destination->rhsEvaluations = source->rhsEvaluations;
    destination->nonlinearIterations = source->nonlinearIterations;
    destination->convergenceFailures = source->convergenceFailures;
    destination->rootEvaluations = source->rootEvaluations;
    destination->jacobianEvaluations = source->jacobianEvaluations;
    destination->cpuSeconds = source->cpuSeconds;
    destination->rejectedExternalSteps = source->rejectedExternalSteps;
    destination->rejectedInternalSteps = source->rejectedInternalSteps;
    destination->rejectedRhsEvaluations = source->rejectedRhsEvaluations;
    destination->rejectedJacobianEvaluations = source->rejectedJacobianEvaluations;
}

// What a restore brings back besides the counters: input extrapolation and
// the outputs of the derivative estimate.
static void copyIntegratorValues(IntegratorData* destination, const IntegratorData* source, uint64_t nu,
                                 uint64_t ny) {
    destination->extrapolateInputs = source->extrapolateInputs;
    destination->inputStartTime = source->inputStartTime;
    copyDoubles(destination->inputDerivatives, source->inputDerivatives, nu + 1);
    copyDoubles(destination->inputStartValues, source->inputStartValues, nu + 1);
    copyDoubles(destination->previousOutputs, source->previousOutputs, ny + 1);
    destination->previousOutputsTime = source->previousOutputsTime;
}

// Makes the state's integrator record match the instance's: a plain record
// (no SUNDIALS object) when the instance has an integrator, none otherwise.
// The state's record, or NULL (nothing to keep, or memory ran out: *failed).
static IntegratorData* integratorCopy(ModelInstance* instance, ModelInstance* state, bool* failed) {
    *failed = false;
    if (!instance->integrator) {
        // Nothing to keep: a copy from an earlier save does not belong here.
        freeIntegratorRecord(instance, state);
        return nullptr;
    }
    const fmi2CallbackFunctions* functions = instance->functions;
    IntegratorData* copy = state->integrator;
    if (!copy) {
        copy = allocateElements<IntegratorData>(functions, 1);
        *failed = copy == nullptr;
        if (!copy) return nullptr;
        memset(static_cast<void*>(copy), 0, sizeof *copy);
        state->integrator = copy;
        copy->inputDerivatives = allocateElements<double>(functions, state->nu + 1);
        copy->inputStartValues = allocateElements<double>(functions, state->nu + 1);
        copy->previousOutputs = allocateElements<double>(functions, state->ny + 1);
        if (!copy->inputDerivatives || !copy->inputStartValues || !copy->previousOutputs) {
            freeIntegratorRecord(instance, state);
            *failed = true;
            return nullptr;
        }
    }
    return copy;
}

// Keeps a copy of the instance's integrator record in the state: plain values
// only, with the counters including CVODE's work since its last
// re-initialisation. 0, or 1 when memory runs out.
static int saveIntegratorState(ModelInstance* instance, ModelInstance* state) {
    bool failed = false;
    IntegratorData* copy = integratorCopy(instance, state, &failed);
    if (!copy) return failed ? 1 : 0;
    const IntegratorData* source = instance->integrator;
    copyIntegratorValues(copy, source, state->nu, state->ny);
    copyCounters(copy, source);
    accumulateIntegratorCounters(instance, copy);
    return 0;
}

// Brings the state's integrator record back into the instance's (which
// exists) and restarts CVODE at the restored time and states. The work done
// since the save is counted as discarded. 0, or 1 after a logged failure.
static int restoreIntegratorState(ModelInstance* state, ModelInstance* instance) {
    IntegratorData* current = instance->integrator;
    IntegratorData* saved = state->integrator;
    if (saved) {
        // Totals of the run that ends here, then what of it the restore discards.
        accumulateIntegratorCounters(instance, current);
        const long external = current->externalSteps - saved->externalSteps;
        const long internal = current->internalSteps - saved->internalSteps;
        const long rhs = current->rhsEvaluations - saved->rhsEvaluations;
        // An integrator made after the save (after a reset) counts from 0: nothing of it is discarded work.
        if (external > 0) saved->rejectedExternalSteps += external;
        if (internal > 0) saved->rejectedInternalSteps += internal;
        if (rhs > 0) saved->rejectedRhsEvaluations += rhs;
        copyIntegratorValues(current, saved, instance->nu, instance->ny);
        copyCounters(current, saved);
    } else {
        // A state without a record (from an image): the inputs keep their restored values.
        current->extrapolateInputs = 0;
    }
    return reinitializeIntegrator(instance);
}

// ---- Capturing an instance ----

// Copies the instance into the state record in *slot, made when there is none
// (or made anew for other sizes: a Co-Simulation instance gains its dummy
// state at initialization), as an FMU state or as a snapshot (which never
// fails once it has a record). 0; -1 when no record could be made; otherwise
// the failure of copyFMUstate, after which a record made here is released
// again.
static int captureInstance(ModelInstance* instance, fmi2FMUstate* slot, bool* created, bool snapshot) {
    ModelInstance* state = static_cast<ModelInstance*>(*slot);
    if (state && !sameSizes(state, instance)) {
        releaseFMUstate(instance, state);
        *slot = nullptr;
        state = nullptr;
    }
    *created = state == nullptr;
    if (*created) {
        state = newFMUstate(instance, instance->nx);
        if (!state) return -1;
        *slot = state;
    }
    int result = 0;
    if (instance->modelData && !snapshot) {
        // Delay buffers are allocated at the first model call; a state taken
        // before it still gets buffers of the full size.
        DelayBuffer* delays = nullptr;
        int count = 0;
        delayBufferList(instance->modelData, &delays, &count);
        for (int i = 0; result == 0 && i < count; ++i)
            if (delays[i].size == 0 && delayBuffersAllocate(&delays[i], 1, Buffersize) != 0) result = 1;
    }
    if (result == 0) result = copyInstance(instance, state, snapshot);
    if (result != 0 && *created) {
        releaseFMUstate(instance, state);
        *slot = nullptr;
    }
    return result;
}

int takeSnapshot(ModelInstance* instance, fmi2FMUstate* snapshot) {
    bool created = false;
    const int result = captureInstance(instance, snapshot, &created, true);
    if (result != 0) return 1; // no record could be made
    ModelInstance* state = static_cast<ModelInstance*>(*snapshot);
    bool failed = false;
    IntegratorData* copy = integratorCopy(instance, state, &failed);
    if (failed) {
        releaseFMUstate(instance, state);
        *snapshot = nullptr;
        return 1;
    }
    if (copy) copyIntegratorValues(copy, instance->integrator, state->nu, state->ny);
    return 0;
}

void restoreSnapshot(ModelInstance* instance, fmi2FMUstate snapshot) {
    ModelInstance* state = static_cast<ModelInstance*>(snapshot);
    copyInstance(state, instance, true); // a snapshot's copy allocates nothing and cannot fail
    if (state->integrator && instance->integrator)
        copyIntegratorValues(instance->integrator, state->integrator, instance->nu, instance->ny);
}

// ---- The three calls ----

fmi2Status fmiGetFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (resultGenerationRefuses(instance, kGetFMUstate)) return fmi2Warning;
    if (!FMUstate) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: FMUstate == NULL", kGetFMUstate);
        return fmi2Warning;
    }
    LOG_INSTANCE(instance, fmi2OK, "%s", kGetFMUstate);

    bool created = false;
    const int result = captureInstance(instance, FMUstate, &created, false);
    if (result < 0) {
        LOG_INSTANCE(instance, fmi2Error, "memory allocation failed");
        return terminateOnError(instance);
    }
    if (result != 0) return copyFailure(instance, kGetFMUstate, result);
    ModelInstance* state = static_cast<ModelInstance*>(*FMUstate);
    if (usesIntegrator(instance, instance->flags) && saveIntegratorState(instance, state) != 0) {
        LOG_INSTANCE(instance, fmi2Error, "memory allocation failed");
        LOG_INSTANCE(instance, fmi2Error, "%s failed", kGetFMUstate);
        if (created) {
            releaseFMUstate(instance, state);
            *FMUstate = nullptr;
        }
        return terminateOnError(instance);
    }
    state->isStateCopy = 1;
    return fmi2OK;
}

fmi2Status fmiSetFMUstate(fmi2Component c, fmi2FMUstate FMUstate) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (resultGenerationRefuses(instance, kSetFMUstate)) return fmi2Warning;
    if (!FMUstate) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: FMUstate == NULL", kSetFMUstate);
        return fmi2Warning;
    }
    ModelInstance* state = static_cast<ModelInstance*>(FMUstate);

    const int result = copyFMUstate(state, instance, instance->functions);
    if (result != 0) return copyFailure(instance, kSetFMUstate, result);

    if (usesIntegrator(instance, state->flags) && modeHasIntegrator(state->mode)) {
        // The restored mode integrates: an instance without an integrator
        // (before initialization, after termination or reset) gets one at the
        // restored time, states and tolerance.
        if (!instance->integrator) {
            const double tolerance = state->toleranceDefined && state->tolerance > 0 ? state->tolerance : 1e-5;
            if (createIntegrator(instance, tolerance) != 0) {
                LOG_INSTANCE(instance, fmi2Error, "%s failed", kSetFMUstate);
                return terminateOnError(instance);
            }
            // Creation sets flags of its own; the restored ones stand.
            memcpy(instance->flags, state->flags, kFlagCount * sizeof(ModelFlags));
        }
        if (restoreIntegratorState(state, instance) != 0) {
            LOG_INSTANCE(instance, fmi2Error, "%s failed", kSetFMUstate);
            return terminateOnError(instance);
        }
    } else if (instance->fmuType == fmi2CoSimulation && instance->integrator) {
        // A restored mode without integration (instantiated, terminated) has no integrator.
        freeIntegratorRecord(instance, instance);
    }
    LOG_INSTANCE(instance, fmi2OK, "%s", kSetFMUstate);
    return fmi2OK;
}

fmi2Status fmiFreeFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    if (!FMUstate || !*FMUstate) return fmi2OK;
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    releaseFMUstate(instance, static_cast<ModelInstance*>(*FMUstate));
    *FMUstate = nullptr;
    LOG_INSTANCE(instance, fmi2OK, "%s", kFreeFMUstate);
    return fmi2OK;
}

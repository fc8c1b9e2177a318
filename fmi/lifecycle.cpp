// The mode state machine's lifecycle calls: experiment set-up, initialization,
// termination, reset and the logging switch, for both kinds of instance.
#include <string.h>

#include "evaluate.h"
#include "integrator.h"
#include "runtime.h"

static const char* const kSetupExperiment = "fmi2SetupExperiment";
static const char* const kEnterInitializationMode = "fmi2EnterInitializationMode";
static const char* const kExitInitializationMode = "fmi2ExitInitializationMode";
static const char* const kExitInitializationModeCS = "fmiExitInitializationMode";
static const char* const kTerminate = "fmi2Terminate";
static const char* const kReset = "fmi2Reset";

static ModelInstance* asInstance(fmi2Component c) { return static_cast<ModelInstance*>(c); }

static bool isCoSimulation(const ModelInstance* instance) { return instance->fmuType != 0; }

fmi2Status fmiSetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,
                              const fmi2String categories[]) {
    (void)nCategories;
    (void)categories;
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    instance->loggingOn = loggingOn;
    return fmi2OK;
}

fmi2Status fmiSetupExperiment(fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance, fmi2Real startTime,
                              fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    instance->startTime = startTime;
    instance->stopTimeDefined = stopTimeDefined;
    instance->stopTime = stopTime;
    if (!isCoSimulation(instance) && toleranceDefined) {
        LOG_INSTANCE(instance, fmi2Warning,
                     "%s: tolerance control not supported for fmuType fmi2ModelExchange, setting toleranceDefined "
                     "to fmi2False",
                     kSetupExperiment);
        instance->toleranceDefined = 0;
        instance->tolerance = 0;
    } else {
        instance->toleranceDefined = toleranceDefined;
        instance->tolerance = tolerance;
    }
    instance->time = startTime;
    instance->computedLevel = 0;
    LOG_INSTANCE(instance, fmi2OK, "%s: startTime is set to %g", kSetupExperiment, startTime);
    return fmi2OK;
}

// ---- Initialization ----

fmi2Status fmiInitialize(ModelInstance* instance) {
    // A refused call changes nothing: a model that asked to terminate stays terminated.
    if (instance->mode != modeInstantiated) {
        LOG_INSTANCE(instance, fmi2Warning, "model cannot be initialized in current state(%d)", instance->mode);
        return fmi2Warning;
    }
    instance->terminatedByModel = 0;
    resetTimeData(instance->timeData, instance->flags);
    if (isCoSimulation(instance) && instance->flags[kFlagInlineRequested]) {
        setInlineIntegration(instance->modelData, 1);
        instance->flags[kFlagInline] = 1;
    } else {
        setInlineIntegration(instance->modelData, 0);
    }
    instance->computedLevel = -1;
    setEventCode(instance->modelData, eventCodeFirstPass);
    const int qiErr = evaluateModel(instance, levelInitial, nullptr, nullptr);
    if (qiErr == 0) {
        if (instance->resultGeneration == 1) setupResultGeneration(instance);
        return fmi2OK;
    }
    LOG_INSTANCE(instance, fmi2Error, "fmiInitialize: dsblock_ failed, QiErr = %d", qiErr);
    LOG_INSTANCE(instance, fmi2Error, "%s",
                 "Unless otherwise indicated by error messages, possible errors are (non-exhaustive):\nThe model "
                 "references external data that is not present on the target machine, at least not with the same "
                 "location.\n");
    return terminateOnError(instance);
}

static fmi2Status enterInitializationModeME(ModelInstance* instance) {
    LOG_INSTANCE(instance, fmi2OK, "%s...", kEnterInitializationMode);
    const fmi2Status status = fmiInitialize(instance);
    if (status != fmi2OK) return status;
    instance->mode = modeInitialization;
    LOG_INSTANCE(instance, fmi2OK, "%s completed", kEnterInitializationMode);
    return fmi2OK;
}

static fmi2Status initializeCoSimulation(ModelInstance* instance, double relativeTolerance, double startTime,
                                         int stopTimeDefined, double stopTime) {
    fmiSetTime(instance, startTime);
    const fmi2Status status = fmiInitialize(instance);
    if (status != fmi2OK) return status;
    instance->dirty = 0;
    instance->stopTime = stopTime;
    instance->stopTimeDefined = stopTimeDefined;
    if (!instance->flags[kFlagInlineRequested] && createIntegrator(instance, relativeTolerance) != 0)
        return fmi2Fatal;
    return fmi2OK;
}

static fmi2Status enterInitializationModeCS(ModelInstance* instance) {
    // The mode is checked before the start time is applied: a refused call
    // leaves the running simulation's time alone.
    if (instance->mode != modeInstantiated) return fmiInitialize(instance);
    const double tolerance = instance->toleranceDefined ? instance->tolerance : 1e-5;
    const fmi2Status status =
        initializeCoSimulation(instance, tolerance, instance->startTime, instance->stopTimeDefined, instance->stopTime);
    if (status != fmi2OK) return status;
    instance->mode = modeInitialization;
    instance->stepCounter = 0;
    LOG_INSTANCE(instance, fmi2OK, "%s", kEnterInitializationMode);
    return fmi2OK;
}

fmi2Status fmiEnterInitializationMode(fmi2Component c) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    return isCoSimulation(instance) ? enterInitializationModeCS(instance) : enterInitializationModeME(instance);
}

fmi2Status exitInitializationCommon(ModelInstance* instance, const char* name, int newMode) {
    if (instance->mode != modeInitialization) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: may only called in initialization mode", name);
        return fmi2Warning;
    }
    setEventCode(instance->modelData, eventCodeEndOfInitialization);
    if (evaluateModel(instance, levelInitial, nullptr, nullptr) != 0) return terminateOnError(instance);
    setEventCode(instance->modelData, eventCodeNormal);
    if (instance->resultGeneration == 1) sampleResult(instance, 1);
    instance->mode = newMode;
    return fmi2OK;
}

static fmi2Status exitInitializationModeME(ModelInstance* instance) {
    LOG_INSTANCE(instance, fmi2OK, "%s...", kExitInitializationMode);
    const fmi2Status status = exitInitializationCommon(instance, kExitInitializationMode, modeEvent);
    instance->firstEventCall = 1;
    if (status != fmi2OK) return status;
    LOG_INSTANCE(instance, fmi2OK, "%s completed", kExitInitializationMode);
    return fmi2OK;
}

static fmi2Status fmiExitInitializationMode(ModelInstance* instance) {
    LOG_INSTANCE(instance, fmi2OK, "%s...", kExitInitializationModeCS);
    const fmi2Status status = exitInitializationCommon(instance, kExitInitializationModeCS, modeContinuousOrStepping);
    if (status != fmi2OK) return status;
    // The integrator was made from the start values at fmi2EnterInitializationMode;
    // it starts from the states that initialization computed, with every value
    // the host set in initialization mode taken in.
    if (reinitializeIntegrator(instance) != 0) return terminateOnError(instance);
    instance->inputsChanged = 0;
    LOG_INSTANCE(instance, fmi2OK, "%s completed", kExitInitializationModeCS);
    return fmi2OK;
}

fmi2Status exitInitializationMode(fmi2Component c) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    return isCoSimulation(instance) ? fmiExitInitializationMode(instance) : exitInitializationModeME(instance);
}

// ---- Termination ----

// The terminal section (level 7), unless the last model call failed or the
// model itself ended the simulation.
static fmi2Status terminalModelCall(ModelInstance* instance) {
    if (instance->qiErr != 0 || instance->terminatedByModel) return fmi2OK;
    int level = levelTerminal;
    callModelEntry(instance, &level);
    if (instance->qiErr >= -995 && instance->qiErr <= -990) instance->qiErr = 0;
    if (instance->qiErr != 0 && instance->qiErr != -999) {
        LOG_INSTANCE(instance, fmi2Error, "%s: calling terminal section of dsblock_ failed, QiErr = %d", kTerminate,
                     instance->qiErr);
        return fmi2Error;
    }
    return fmi2OK;
}

void printBlockProfile(ModelInstance* instance) {
    int count = 0;
    BlockProfileTimer* timers = blockProfileTimers(instance->modelData, &count);
    if (!timers || count <= 0) return;
    long totalCalls = 0;
    double overhead = 0;
    bool haveOverhead = false;
    int width = 14;
    for (int i = 0; i < count; ++i) {
        BlockTimerView t;
        memcpy(&t, &timers[i], sizeof t);
        if (t.calls <= 0) continue;
        totalCalls += t.calls;
        if (!haveOverhead || t.shortest < overhead) overhead = t.shortest;
        haveOverhead = true;
        const int length = t.name ? static_cast<int>(strnlen(t.name, 101)) : 0;
        if (length > width) width = length;
    }
    if (totalCalls == 0) return;
    if (width > 100) width = 100;
    LOG_INSTANCE(instance, fmi2OK,
                 "\nProfiling information for the blocks.\nEstimated overhead per call %11.2f[us] total %12.3f[s]\nthe "
                 "estimated overhead has been subtracted below.\nName of block%*s, Block, Total CPU[s], Mean[us]    ( "
                 "Min[us]    to Max[us]    ),   Called\n",
                 overhead * 1e6, static_cast<double>(totalCalls) * overhead, width - 13, "");
    for (int i = 0; i < count; ++i) {
        BlockTimerView t;
        memcpy(&t, &timers[i], sizeof t);
        if (t.calls <= 0) continue;
        const double net = t.total - t.calls * overhead;
        logMessage(instance, "", fmi2OK, "", "%-*.*s: %5d, %12.3f, %11.2f (%11.2f to %11.2f), %8d\n", width, width,
                   t.name ? t.name : "", i, net, net / t.calls * 1e6, (t.shortest - overhead) * 1e6,
                   (t.longest - overhead) * 1e6, t.calls);
    }
}

fmi2Status terminateModelExchange(ModelInstance* instance) {
    if (instance->mode == modeTerminated) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: already terminated, ignoring call", kTerminate);
        return fmi2Warning;
    }
    LOG_INSTANCE(instance, fmi2OK, "%s", kTerminate);
    const fmi2Status status = terminalModelCall(instance);
    printBlockProfile(instance);
    if (instance->resultGeneration == 1) finishResultGeneration(instance);
    instance->mode = modeTerminated;
    return status;
}

fmi2Status terminateCoSimulation(ModelInstance* instance) {
    LOG_INSTANCE(instance, fmi2OK, "%s...", kTerminate);
    if (instance->mode == modeTerminated) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: already terminated, ignoring call", kTerminate);
        return fmi2Warning;
    }
    const fmi2Status status = terminalModelCall(instance);
    if (!instance->flags[kFlagInlineRequested]) printIntegratorStatistics(instance);
    printBlockProfile(instance);
    if (instance->resultGeneration == 1) finishResultGeneration(instance);
    if (instance->modelData)
        resetModelData(instance->modelData);
    else
        resetGlobalModelData();
    instance->mode = modeTerminated;
    LOG_INSTANCE(instance, fmi2OK, "%s completed", kTerminate);
    return status;
}

fmi2Status fmiTerminate(fmi2Component c) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    return isCoSimulation(instance) ? terminateCoSimulation(instance) : terminateModelExchange(instance);
}

fmi2Status terminateOnError(ModelInstance* instance) {
    if (instance->mode == modeInstantiated) {
        instance->mode = modeTerminated;
    } else if (instance->mode != modeTerminated) {
        if (instance->fmuType == 1)
            terminateCoSimulation(instance);
        else
            terminateModelExchange(instance);
    }
    return fmi2Error;
}

// ---- Reset ----

static fmi2Status resetInstance(ModelInstance* instance) {
    LOG_INSTANCE(instance, fmi2OK, "%s...", kReset);
    if (instance->mode == modeInstantiated) {
        LOG_INSTANCE(instance, fmi2OK, "%s: already reset, ignoring call", kReset);
        return fmi2OK;
    }
    fmi2Status status = fmi2OK;
    if (instance->mode == modeInitialization ||
        (instance->mode >= modeEvent && instance->mode <= modeContinuousOrStepping)) {
        status = isCoSimulation(instance) ? terminateCoSimulation(instance) : terminateModelExchange(instance);
        if (status > fmi2Warning) return status;
    }
    if (!instance->defaultStrings && instance->nstr > 0) {
        instance->defaultStrings =
            static_cast<char**>(instance->functions->allocateMemory(static_cast<size_t>(instance->nstr), sizeof(char*)));
        if (!instance->defaultStrings) {
            LOG_INSTANCE(instance, fmi2Fatal, "%s failed: out of Memory", kReset);
            fmiFreeModelInstance(instance);
            return fmi2Fatal;
        }
    }
    int declareStatus = 0;
    declare_(instance->x, instance->p, instance->u, instance->defaultStrings, &declareStatus);
    for (uint64_t i = 0; i < instance->nstr; ++i) {
        char* slot = instance->strings[i];
        if (!slot) continue;
        const char* text = instance->defaultStrings[i] ? instance->defaultStrings[i] : "";
        const size_t length = strnlen(text, kStringSlotSize - 1);
        memcpy(slot, text, length);
        slot[length] = '\0';
        slot[kStringSlotSize - 1] = '\0';
    }
    for (uint64_t i = 0; i < instance->nw; ++i) instance->w[i] = 0;
    for (uint64_t i = 0; i < instance->ny; ++i) instance->y[i] = 0;
    if (declareStatus != 0) {
        LOG_INSTANCE(instance, fmi2Error, "%s: declare_ failed, QiErr = %d", kReset, declareStatus);
        return terminateOnError(instance);
    }
    instance->mode = modeInstantiated;
    instance->linearizationDirty = 1;
    LOG_INSTANCE(instance, status, "%s completed", kReset);
    return status;
}

fmi2Status fmiReset(fmi2Component c) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    return resetInstance(instance);
}

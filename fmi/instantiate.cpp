// Creating and destroying instances: the ModelInstance record, its arrays and
// model blocks, all through the host's allocator.
#include <string.h>

#include "evaluate.h"
#include "external_libraries.h"
#include "fmu_state.h"
#include "instance.h"
#include "runtime.h"
#include "thread_context.h"

ModelInstance* singleInstance = nullptr;
thread_local ModelInstance* instanceInModelCall = nullptr;

const char* const fmiFunctionNames[fnCount] = {
    "fmi2GetTypesPlatform", "fmi2GetVersion", "fmi2SetDebugLogging", "fmi2Instantiate", "fmi2FreeInstance",
    "fmi2SetupExperiment", "fmi2EnterInitializationMode", "fmi2ExitInitializationMode", "fmi2Terminate",
    "fmi2Reset", "fmi2GetReal", "fmi2GetInteger", "fmi2GetBoolean", "fmi2GetString", "fmi2SetReal",
    "fmi2SetInteger", "fmi2SetBoolean", "fmi2SetString", "fmi2GetFMUstate", "fmi2SetFMUstate",
    "fmi2FreeFMUstate", "fmi2SerializedFMUstateSize", "fmi2SerializeFMUstate", "fmi2DeSerializeFMUstate",
    "fmi2GetDirectionalDerivative", "fmi2EnterEventMode", "fmi2NewDiscreteStates", "fmi2EnterContinuousTimeMode",
    "fmi2CompletedIntegratorStep", "fmi2SetTime", "fmi2SetContinuousStates", "fmi2GetDerivatives",
    "fmi2GetEventIndicators", "fmi2GetContinuousStates", "fmi2GetNominalsOfContinuousStates",
    "fmi2SetRealInputDerivatives", "fmi2GetRealOutputDerivatives", "fmi2DoStep", "fmi2CancelStep",
    "fmi2GetStatus", "fmi2GetRealStatus", "fmi2GetIntegerStatus", "fmi2GetBooleanStatus", "fmi2GetStringStatus"};

static const char* const kInstantiate = "fmi2Instantiate";

char* copyInstanceName(const fmi2CallbackFunctions* functions, const char* name) {
    if (!name) name = "<NULL>";
    size_t length = strnlen(name, kInstanceNameLimit);
    char* copy = static_cast<char*>(functions->allocateMemory(length + 1, 1));
    if (!copy) return nullptr;
    memcpy(copy, name, length);
    copy[length] = '\0';
    return copy;
}

// Allocates n + 1 elements, so that a count of 0 never asks for 0 bytes.
template <typename T>
static T* allocateArray(ModelInstance* instance, uint64_t n) {
    return static_cast<T*>(instance->functions->allocateMemory(static_cast<size_t>(n) + 1, sizeof(T)));
}

static bool callbacksUsable(const fmi2CallbackFunctions* functions) {
    return functions && functions->logger && functions->allocateMemory && functions->freeMemory;
}

ModelInstance* instantiateModel(const char* instanceName, const char* fmuGUID, const char* fmuResourceLocation,
                                const fmi2CallbackFunctions* functions, int loggingOn) {
    const char* givenName = instanceName ? instanceName : "";
    if (!callbacksUsable(functions)) {
        // Nothing to allocate or free through: fail, telling the host where it can hear it.
        if (functions && functions->logger)
            functions->logger(functions->componentEnvironment, givenName, fmi2Fatal, "", "Instantiation failed");
        return nullptr;
    }
    if (!MODEL_HAS_INSTANCE_DATA && singleInstance) {
        ModelInstance* existing = singleInstance;
        logMessage(existing, instanceName ? instanceName : existing->instanceName, fmi2Fatal, "",
                   "%s: multiple instances within same process not supported", kInstantiate);
        return nullptr;
    }

    ModelInstance* instance =
        static_cast<ModelInstance*>(functions->allocateMemory(1, sizeof(ModelInstance)));
    if (!instance) return nullptr;
    instance->callbacks = *functions;
    instance->functions = &instance->callbacks;
    instance->messagePrefixEnd = instance->messagePrefix;

    bool ok = threadSlotAvailable() != 0;
    if (ok && MODEL_HAS_INSTANCE_DATA) {
        instance->modelData = static_cast<ModelData*>(functions->allocateMemory(1, sizeof(ModelData)));
        ok = instance->modelData != nullptr;
        if (ok) copyModelData(instance->modelData);
    }
    if (ok) {
        char path[kResourcesDirectoryLength];
        if (resourceLocationToPath(fmuResourceLocation, path, sizeof path))
            setResourcesDirectory(instance->modelData, path);
        instance->externalLibraries = nullptr;
        if (modelExternalLibraries[0])
            loadExternalLibraries(modelExternalLibraries, &instance->externalLibraries, 1,
                                  resourcesDirectory(instance->modelData));
        instance->fmuType = 0;
        instance->time = 0;
        instance->instanceName = copyInstanceName(functions, instanceName);
        instance->loggingOn = loggingOn;
        ok = instance->instanceName != nullptr;
    }
    if (ok && (!fmuGUID || strcmp(fmuGUID, MODEL_GUID) != 0)) {
        logMessage(instance, givenName, fmi2Error, "", "Invalid GUID: %s, expected %s",
                   fmuGUID ? fmuGUID : "<NULL>", MODEL_GUID);
        ok = false;
    }
    if (ok) {
        instance->timeData = static_cast<ModelTimeData*>(functions->allocateMemory(1, kTimeDataCount * sizeof(double)));
        instance->flags = static_cast<ModelFlags*>(functions->allocateMemory(1, kFlagCount * sizeof(int32_t)));
        instance->timeDataForModel = instance->timeData;
        instance->flagsForModel = instance->flags;
        ok = instance->timeData && instance->flags;
        if (ok) {
            if (instance->modelData) {
                instance->modelData->timeData = instance->timeData;
                instance->modelData->flags = instance->flags;
            }
            setModelBlocks(instance->timeData, instance->flags);
        }
    }
    if (ok) {
        int d[13];
        getModelDimensions(&d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10], &d[11],
                           &d[12]);
        instance->nx = static_cast<uint64_t>(d[0]);
        instance->nu = static_cast<uint64_t>(d[2]);
        instance->ny = static_cast<uint64_t>(d[3]);
        instance->nw = static_cast<uint64_t>(d[4]);
        instance->np = static_cast<uint64_t>(d[5]);
        instance->nstr = static_cast<uint64_t>(d[6]);
        instance->ni = 2 * static_cast<uint64_t>(d[8]);
        instance->nExtra1 = static_cast<uint64_t>(d[11]);
        instance->nExtra2 = static_cast<uint64_t>(d[12]);

        instance->x = allocateArray<double>(instance, instance->nx);
        instance->xdot = allocateArray<double>(instance, instance->nx);
        instance->p = allocateArray<double>(instance, instance->np);
        instance->u = allocateArray<double>(instance, instance->nu);
        instance->y = allocateArray<double>(instance, instance->ny);
        instance->w = allocateArray<double>(instance, instance->nw);
        instance->eventIndicators = allocateArray<double>(instance, instance->ni);
        instance->nominals = allocateArray<double>(instance, instance->nx);
        instance->strings = allocateArray<char*>(instance, instance->nstr);
        instance->xPrevious = allocateArray<double>(instance, instance->nx);
        instance->extraVars1 = allocateArray<double>(instance, instance->nExtra1);
        instance->extraVars2 = allocateArray<double>(instance, instance->nExtra2);
        instance->booleanListValues = allocateArray<int32_t>(instance, kBooleanListCount);
        // Every array is used later, so each one missing fails the instantiation.
        ok = instance->x && instance->xdot && instance->p && instance->u && instance->y && instance->w &&
             instance->eventIndicators && instance->nominals && instance->strings && instance->xPrevious &&
             instance->extraVars1 && instance->extraVars2 && instance->booleanListValues;
    }
    int declareStatus = 0;
    if (ok) {
        instance->defaultStrings = nullptr;
        for (uint64_t i = 0; i < instance->nx; ++i) instance->nominals[i] = 1.0;
        instance->mode = modeInstantiated;
        instance->resultGeneration = 0;
        instance->linearizationDirty = 1;
        instance->directionalDerivativeActive = 0;
        instance->integrator = nullptr;
        instance->perturbationState = nullptr;

        declare_(instance->x, instance->p, instance->u, instance->strings, &declareStatus);

        // Each string variable gets its own slot; a start-text pointer never
        // stays in the array, so freeing only ever sees host memory.
        for (uint64_t i = 0; i < instance->nstr; ++i) {
            const char* start = instance->strings[i];
            instance->strings[i] = nullptr;
            if (!ok) continue;
            char* slot = static_cast<char*>(functions->allocateMemory(kStringSlotSize, 1));
            if (!slot) {
                ok = false;
                continue;
            }
            if (start) strncpy(slot, start, kStringSlotSize - 1);
            slot[kStringSlotSize - 1] = '\0';
            instance->strings[i] = slot;
        }
        if (ok && declareStatus != 0) {
            logMessage(instance, givenName, fmi2Error, "", "%s: declare_ failed, QiErr = %d", kInstantiate,
                       declareStatus);
            ok = false;
        }
    }
    if (ok) {
        instance->startTime = 0;
        instance->stopTimeDefined = 0;
        instance->stopTime = 0;
        instance->toleranceDefined = 0;
        instance->tolerance = 0;
        instance->dirty = 0;
        instance->eventIterationPending = 0;
        instance->inputsChanged = 0;
        instance->perturbByState = MODEL_PERTURB_BY_STATE;
        instance->nextOutputTime = 1e100;
        if (!MODEL_HAS_INSTANCE_DATA) singleInstance = instance;
        instance->serialBlock = static_cast<SerialBlock*>(functions->allocateMemory(1, sizeof(SerialBlock)));
        ok = instance->serialBlock != nullptr;
    }
    if (!ok) {
        logMessage(instance, givenName, fmi2Fatal, "", "Instantiation failed");
        fmiFreeModelInstance(instance);
        return nullptr;
    }
    logMessage(instance, instance->instanceName, fmi2OK, "", "%s completed", kInstantiate);
    return instance;
}

ModelInstance* instantiateCoSimulation(const char* instanceName, const char* fmuGUID,
                                       const char* fmuResourceLocation, const fmi2CallbackFunctions* functions,
                                       int loggingOn) {
    ModelInstance* instance = instantiateModel(instanceName, fmuGUID, fmuResourceLocation, functions, loggingOn);
    if (!instance) return nullptr;
    if (instance->functions->stepFinished)
        logMessage(instance, instance->instanceName, fmi2Warning, "",
                   "%s: Callback function stepFinished != NULL but asynchronous fmiDoStep is not supported",
                   kInstantiate);
    logMessage(instance, instance->instanceName, fmi2OK, "", "%s", kInstantiate);
    return instance;
}

fmi2Component fmiInstantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                             fmi2String fmuResourceLocation, const fmi2CallbackFunctions* functions,
                             fmi2Boolean visible, fmi2Boolean loggingOn) {
    (void)visible;
    ModelInstance* instance = nullptr;
    if (fmuType == fmi2CoSimulation)
        instance = instantiateCoSimulation(instanceName, fmuGUID, fmuResourceLocation, functions, loggingOn);
    else if (fmuType == fmi2ModelExchange)
        instance = instantiateModel(instanceName, fmuGUID, fmuResourceLocation, functions, loggingOn);
    else
        return nullptr;
    if (instance) instance->fmuType = fmuType;
    return instance;
}

// Gives a block back to the host and forgets it.
template <typename T>
static void release(ModelInstance* instance, T*& pointer) {
    if (pointer) instance->functions->freeMemory(const_cast<void*>(static_cast<const void*>(pointer)));
    pointer = nullptr;
}

void fmiFreeModelInstance(ModelInstance* instance) {
    if (!instance) return;
    logMessage(instance, instance->instanceName, fmi2OK, "", "fmiFreeModelInstance");
    // An instance freed without terminate still finishes its result file.
    if (instance->resultBuffer) finishResultGeneration(instance);
    if (instance->modelData)
        resetModelData(instance->modelData);
    else if (!MODEL_HAS_INSTANCE_DATA)
        resetGlobalModelData();

    // The runtime must not keep reaching this instance's blocks.
    clearModelBlocks(instance->timeData, instance->flags);
    if (instanceInModelCall == instance) instanceInModelCall = nullptr;

    release(instance, instance->instanceName);
    release(instance, instance->timeData);
    release(instance, instance->flags);
    instance->timeDataForModel = nullptr;
    instance->flagsForModel = nullptr;
    release(instance, instance->x);
    release(instance, instance->xdot);
    release(instance, instance->p);
    release(instance, instance->u);
    release(instance, instance->y);
    release(instance, instance->w);
    release(instance, instance->eventIndicators);
    if (instance->strings)
        for (uint64_t i = instance->nstr; i-- > 0;) release(instance, instance->strings[i]);
    release(instance, instance->strings);
    release(instance, instance->nominals);
    release(instance, instance->xPrevious);
    release(instance, instance->extraVars1);
    release(instance, instance->extraVars2);
    release(instance, instance->booleanListValues);
    release(instance, instance->defaultStrings);
    release(instance, instance->linA);
    release(instance, instance->linB);
    release(instance, instance->linC);
    release(instance, instance->linD);
    release(instance, instance->vRef);
    release(instance, instance->vPlus);
    release(instance, instance->vMinus);
    release(instance, instance->zRef);
    release(instance, instance->zPlus);
    release(instance, instance->zMinus);

    if (instance->perturbationState) {
        releaseFMUstate(instance, static_cast<ModelInstance*>(instance->perturbationState));
        instance->perturbationState = nullptr;
    }
    freeIntegratorData(instance);
    if (instance->externalLibraries && modelExternalLibraries[0])
        loadExternalLibraries(modelExternalLibraries, &instance->externalLibraries, 0, nullptr);
    if (instance->modelData) {
        releaseRuntimeBuffers();
        release(instance, instance->modelData);
    }
    release(instance, instance->serialBlock);
    if (singleInstance == instance) singleInstance = nullptr;
    fmi2CallbackFreeMemory freeMemory = instance->functions->freeMemory;
    freeMemory(instance);
}

void fmiFreeInstance(fmi2Component c) { fmiFreeModelInstance(static_cast<ModelInstance*>(c)); }

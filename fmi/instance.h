// The record behind every fmi2Component (and, with the same layout, behind
// every fmi2FMUstate), the process-wide instance pointers and the bodies of
// the exported functions.
#pragma once

#include <stdarg.h>
#include <stdint.h>
#include <type_traits>

#include "fmi2_abi.h"
#include "model_data.h"

struct IntegratorData;
struct ResultBuffer;

// Image of ModelData for the serialization map.
struct SerialBlock {
    void* data;
    uint64_t size;
};

enum InstanceMode {
    modeInstantiated = 0,
    modeInitialization = 1,
    modeEvent = 3,
    modeEventNeedsIteration = 4,
    modeEventIterationDone = 5,
    modeContinuousOrStepping = 6,
    modeTerminated = 7
};

enum { kMessagePrefixSize = 255, kInstanceNameLimit = 1024, kStringSlotSize = 501 };

struct ModelInstance {
    double startTime;
    int32_t stopTimeDefined;
    double stopTime;
    int32_t toleranceDefined;
    double tolerance;
    int32_t fmuType;
    char* instanceName;
    int32_t loggingOn;
    uint64_t nx, nu, ny, nw, np, nstr, ni, nExtra1, nExtra2;
    double* x;
    double* p;
    double* xdot;
    double* u;
    double* y;
    double* w;
    double* eventIndicators;
    double* extraVars1;
    double* extraVars2;
    double* nominals;
    char** strings;
    char** defaultStrings;
    double* xPrevious;
    const fmi2CallbackFunctions* functions;
    double time;
    int32_t computedLevel;
    char messagePrefix[kMessagePrefixSize];
    char* messagePrefixEnd;
    int32_t mode;
    int32_t terminatedByModel;
    int32_t resultGeneration;
    ResultBuffer* resultBuffer;
    ModelTimeData* timeData;
    ModelFlags* flags;
    ModelTimeData* timeDataForModel;
    ModelFlags* flagsForModel;
    IntegratorData* integrator;
    int32_t isStateCopy;
    int32_t dirty;
    int32_t eventIterationPending;
    int32_t linearizationDirty;
    int32_t directionalDerivativeActive;
    // Co-Simulation: the host changed a value the model sees (an input, a
    // parameter, a start value, a string, a state) or ran an event update,
    // and the next fmi2DoStep has not yet taken it in with an event update
    // and an integrator restart. Unlike `dirty`, reads and other model calls
    // leave it alone. Input slopes are compared at the step instead
    // (integrandChange in cosimulation.cpp).
    int32_t inputsChanged;
    int32_t linCapacityA, linCapacityB, linCapacityC, linCapacityD;
    double* linA;
    double* linB;
    double* linC;
    double* linD;
    uint64_t vCapacity;
    uint64_t zCapacity;
    double* vRef;
    double* vPlus;
    double* vMinus;
    double* zRef;
    double* zPlus;
    double* zMinus;
    fmi2FMUstate perturbationState;
    int32_t firstEventCall;
    int32_t eventUpdateStarted;
    void** externalLibraries;
    int32_t qiErr;
    ModelData* modelData;
    uint64_t stepCounter;
    double nextOutputTime;
    int32_t perturbByState;
    int32_t* booleanListValues;
    SerialBlock* serialBlock;
    double* delayScratch;
    int32_t endOfStepEvent;
    // The SUNDIALS context of the instance's integrators: created with the
    // first integrator, freed with the instance.
    void* sunContext;

    // The host's callback record, copied at instantiation: the host's own
    // record need not outlive the call. `functions` points here.
    fmi2CallbackFunctions callbacks;
};

static_assert(std::is_standard_layout<ModelInstance>::value, "ModelInstance is a plain record");

// Process-wide: the only instance of a model without per-instance data.
extern ModelInstance* singleInstance;
// Per thread: the instance whose model call is running on this thread (routes
// runtime messages). Calls of different instances may overlap on different
// threads, so each thread keeps its own.
extern thread_local ModelInstance* instanceInModelCall;

// The model's Boolean list re-applied after an event iteration (empty in both models).
enum { kBooleanListCount = 0 };

// Names of the FMI functions as messages use them.
enum FmiFunctionId {
    fnGetTypesPlatform, fnGetVersion, fnSetDebugLogging, fnInstantiate, fnFreeInstance, fnSetupExperiment,
    fnEnterInitializationMode, fnExitInitializationMode, fnTerminate, fnReset,
    fnGetReal, fnGetInteger, fnGetBoolean, fnGetString, fnSetReal, fnSetInteger, fnSetBoolean, fnSetString,
    fnGetFMUstate, fnSetFMUstate, fnFreeFMUstate, fnSerializedFMUstateSize, fnSerializeFMUstate,
    fnDeSerializeFMUstate, fnGetDirectionalDerivative, fnEnterEventMode, fnNewDiscreteStates,
    fnEnterContinuousTimeMode, fnCompletedIntegratorStep, fnSetTime, fnSetContinuousStates, fnGetDerivatives,
    fnGetEventIndicators, fnGetContinuousStates, fnGetNominalsOfContinuousStates, fnSetRealInputDerivatives,
    fnGetRealOutputDerivatives, fnDoStep, fnCancelStep, fnGetStatus, fnGetRealStatus, fnGetIntegerStatus,
    fnGetBooleanStatus, fnGetStringStatus,
    fnCount
};
extern const char* const fmiFunctionNames[fnCount];

extern "C" {

// ---- Logging to the host ----
int logMessage(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
               const char* format, ...) __attribute__((format(printf, 5, 6)));
void bufferMessage(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
                   const char* format, ...) __attribute__((format(printf, 5, 6)));
int logMessageV(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
                const char* format, va_list args);

// ---- Instantiation ----
char* copyInstanceName(const fmi2CallbackFunctions* functions, const char* name);
ModelInstance* instantiateModel(const char* instanceName, const char* fmuGUID, const char* fmuResourceLocation,
                                const fmi2CallbackFunctions* functions, int loggingOn);
ModelInstance* instantiateCoSimulation(const char* instanceName, const char* fmuGUID,
                                       const char* fmuResourceLocation, const fmi2CallbackFunctions* functions,
                                       int loggingOn);
void fmiFreeModelInstance(ModelInstance* instance);
// Releases the Co-Simulation integrator record of an instance (no-op without
// one) and its SUNDIALS context: called when the instance is freed.
void freeIntegratorData(ModelInstance* instance);

// ---- Bodies of the 44 exported functions ----
const char* fmiGetTypesPlatform(void);
const char* fmiGetVersion(void);
fmi2Status fmiSetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,
                              const fmi2String categories[]);
fmi2Component fmiInstantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                             fmi2String fmuResourceLocation, const fmi2CallbackFunctions* functions,
                             fmi2Boolean visible, fmi2Boolean loggingOn);
void fmiFreeInstance(fmi2Component c);
fmi2Status fmiSetupExperiment(fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance, fmi2Real startTime,
                              fmi2Boolean stopTimeDefined, fmi2Real stopTime);
fmi2Status fmiEnterInitializationMode(fmi2Component c);
fmi2Status exitInitializationMode(fmi2Component c);
fmi2Status fmiTerminate(fmi2Component c);
fmi2Status fmiReset(fmi2Component c);
fmi2Status fmiGetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]);
fmi2Status fmiGetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]);
fmi2Status fmiGetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]);
fmi2Status fmiGetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String value[]);
fmi2Status fmiSetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]);
fmi2Status fmiSetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer value[]);
fmi2Status fmiSetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Boolean value[]);
fmi2Status fmiSetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2String value[]);
fmi2Status fmiGetFMUstate(fmi2Component c, fmi2FMUstate* state);
fmi2Status fmiSetFMUstate(fmi2Component c, fmi2FMUstate state);
fmi2Status fmiFreeFMUstate(fmi2Component c, fmi2FMUstate* state);
fmi2Status fmiSerializedFMUstateSize(fmi2Component c, fmi2FMUstate state, size_t* size);
fmi2Status fmiSerializeFMUstate(fmi2Component c, fmi2FMUstate state, fmi2Byte serializedState[], size_t size);
fmi2Status fmiDeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[], size_t size,
                                  fmi2FMUstate* state);
fmi2Status fmiGetDirectionalDerivative(fmi2Component c, const fmi2ValueReference vUnknown_ref[], size_t nUnknown,
                                       const fmi2ValueReference vKnown_ref[], size_t nKnown,
                                       const fmi2Real dvKnown[], fmi2Real dvUnknown[]);
fmi2Status fmiEnterEventMode(fmi2Component c);
fmi2Status fmiNewDiscreteStates(fmi2Component c, fmi2EventInfo* eventInfo);
fmi2Status fmiEnterContinuousTimeMode(fmi2Component c);
fmi2Status fmiCompletedIntegratorStep(fmi2Component c, fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                      fmi2Boolean* enterEventMode, fmi2Boolean* terminateSimulation);
fmi2Status fmiSetTime(fmi2Component c, fmi2Real time);
fmi2Status fmiSetContinuousStates(fmi2Component c, const fmi2Real x[], size_t nx);
fmi2Status fmiGetDerivatives(fmi2Component c, fmi2Real derivatives[], size_t nx);
fmi2Status fmiGetEventIndicators(fmi2Component c, fmi2Real eventIndicators[], size_t ni);
fmi2Status fmiGetContinuousStates(fmi2Component c, fmi2Real x[], size_t nx);
fmi2Status fmiGetNominalsOfContinuousStates(fmi2Component c, fmi2Real x_nominal[], size_t nx);
fmi2Status fmiSetRealInputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Integer order[], const fmi2Real value[]);
fmi2Status fmiGetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                       const fmi2Integer order[], fmi2Real value[]);
fmi2Status fmiDoStep(fmi2Component c, fmi2Real currentCommunicationPoint, fmi2Real communicationStepSize,
                     fmi2Boolean noSetFMUStatePriorToCurrentCommunicationPoint);
fmi2Status fmiCancelStep(fmi2Component c);
fmi2Status fmiGetStatus(fmi2Component c, const fmi2StatusKind s, fmi2Status* value);
fmi2Status fmiGetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real* value);
fmi2Status fmiGetIntegerStatus(fmi2Component c, const fmi2StatusKind s, fmi2Integer* value);
fmi2Status fmiGetBooleanStatus(fmi2Component c, const fmi2StatusKind s, fmi2Boolean* value);
fmi2Status fmiGetStringStatus(fmi2Component c, const fmi2StatusKind s, fmi2String* value);

} // extern "C"

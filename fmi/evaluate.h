// The FMI layer's path into the model entry and the lifecycle helpers that
// the access, Model Exchange and Co-Simulation calls share.
#pragma once

#include "instance.h"

// Logs under the instance's own name with the empty category. A message of
// status OK with logging off is dropped here, before its arguments are
// evaluated and passed, as logMessage would drop it: the variable access and
// the directional derivatives log every value they read or write.
#define LOG_INSTANCE(instance, status, ...)                                                                      \
    ((!(instance)->loggingOn && (status) == fmi2OK)                                                              \
         ? (void)0                                                                                               \
         : (void)logMessage((instance), (instance)->instanceName, (status), "", __VA_ARGS__))

extern "C" {

// The levels of the two passes of eventUpdate.
extern const EvaluationLevel dsblockLevelsOfEventUpdate[2];

// Evaluates the model at `level` with the event code that fits the mode.
// Returns QiErr with -995..-990 turned into 0; logs "<name>: dsblock_ failed"
// when `name` is given and the call failed. `converged` (optional) is 1 when
// the event iteration is complete.
int evaluateModel(ModelInstance* instance, EvaluationLevel level, const char* name, int* converged);

// Event handling of Co-Simulation: an update of all continuous equations and
// an event iteration. fmi2OK or fmi2Error (instance terminated).
fmi2Status eventUpdate(ModelInstance* instance, int* terminated);

// One call of the model entry with the instance's arrays (`level` in/out);
// the instance is the one inside a model call for its duration.
void callModelEntry(ModelInstance* instance, int* level);

// Ends the simulation after an error (terminal section when it applies) and
// returns fmi2Error.
fmi2Status terminateOnError(ModelInstance* instance);

// The initial model call shared by both kinds of instance.
fmi2Status fmiInitialize(ModelInstance* instance);
fmi2Status exitInitializationCommon(ModelInstance* instance, const char* name, int newMode);
fmi2Status terminateModelExchange(ModelInstance* instance);
fmi2Status terminateCoSimulation(ModelInstance* instance);
void printBlockProfile(ModelInstance* instance);

// ---- Provided by the Co-Simulation integrator and internal result generation ----
// 0 when the integrator was created; 1 after a logged failure.
int createIntegrator(ModelInstance* instance, double tolerance);
// Logs the integrator statistics and releases the integrator record.
void printIntegratorStatistics(ModelInstance* instance);
// The start value of input `index` for input extrapolation follows u[index].
void setInputStartValue(ModelInstance* instance, int index);
void setupResultGeneration(ModelInstance* instance);
void sampleResult(ModelInstance* instance, int force);
void flushResultBuffer(ModelInstance* instance);
void finishResultGeneration(ModelInstance* instance);

} // extern "C"

// Bodies of FMI functions whose implementation has not landed yet: each tells
// the host so and fails.
#include "evaluate.h"
#include "instance.h"

#define NOT_AVAILABLE(c, function)                                                                                  \
    do {                                                                                                            \
        ModelInstance* instance_ = static_cast<ModelInstance*>(c);                                                  \
        if (instance_) logMessage(instance_, instance_->instanceName, fmi2Error, "", "%s: not available", function); \
        return fmi2Error;                                                                                           \
    } while (0)

void freeIntegratorData(ModelInstance* instance) { (void)instance; }

// The Co-Simulation integrator and internal result generation have not landed
// yet: without them an instance integrates nothing and records no results.
int createIntegrator(ModelInstance* instance, double tolerance) {
    (void)instance;
    (void)tolerance;
    return 0;
}
void printIntegratorStatistics(ModelInstance* instance) { (void)instance; }
void setInputStartValue(ModelInstance* instance, int index) {
    (void)instance;
    (void)index;
}
void setupResultGeneration(ModelInstance* instance) { (void)instance; }
void sampleResult(ModelInstance* instance, int force) {
    (void)instance;
    (void)force;
}
void flushResultBuffer(ModelInstance* instance) { (void)instance; }
void finishResultGeneration(ModelInstance* instance) { (void)instance; }

fmi2Status fmiGetFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    (void)FMUstate;
    NOT_AVAILABLE(c, "fmi2GetFMUstate");
}

fmi2Status fmiSetFMUstate(fmi2Component c, fmi2FMUstate FMUstate) {
    (void)FMUstate;
    NOT_AVAILABLE(c, "fmi2SetFMUstate");
}

fmi2Status fmiFreeFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    (void)FMUstate;
    NOT_AVAILABLE(c, "fmi2FreeFMUstate");
}

fmi2Status fmiSerializedFMUstateSize(fmi2Component c, fmi2FMUstate FMUstate, size_t* size) {
    (void)FMUstate;
    (void)size;
    NOT_AVAILABLE(c, "fmi2SerializedFMUstateSize");
}

fmi2Status fmiSerializeFMUstate(fmi2Component c, fmi2FMUstate FMUstate, fmi2Byte serializedState[], size_t size) {
    (void)FMUstate;
    (void)serializedState;
    (void)size;
    NOT_AVAILABLE(c, "fmi2SerializeFMUstate");
}

fmi2Status fmiDeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[], size_t size, fmi2FMUstate* FMUstate) {
    (void)serializedState;
    (void)size;
    (void)FMUstate;
    NOT_AVAILABLE(c, "fmi2DeSerializeFMUstate");
}

fmi2Status fmiGetDirectionalDerivative(fmi2Component c, const fmi2ValueReference vUnknown_ref[], size_t nUnknown, const fmi2ValueReference vKnown_ref[], size_t nKnown, const fmi2Real dvKnown[], fmi2Real dvUnknown[]) {
    (void)vUnknown_ref;
    (void)nUnknown;
    (void)vKnown_ref;
    (void)nKnown;
    (void)dvKnown;
    (void)dvUnknown;
    NOT_AVAILABLE(c, "fmi2GetDirectionalDerivative");
}

fmi2Status fmiSetRealInputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer order[], const fmi2Real value[]) {
    (void)vr;
    (void)nvr;
    (void)order;
    (void)value;
    NOT_AVAILABLE(c, "fmi2SetRealInputDerivatives");
}

fmi2Status fmiGetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer order[], fmi2Real value[]) {
    (void)vr;
    (void)nvr;
    (void)order;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetRealOutputDerivatives");
}

fmi2Status fmiDoStep(fmi2Component c, fmi2Real currentCommunicationPoint, fmi2Real communicationStepSize, fmi2Boolean noSetFMUStatePriorToCurrentCommunicationPoint) {
    (void)currentCommunicationPoint;
    (void)communicationStepSize;
    (void)noSetFMUStatePriorToCurrentCommunicationPoint;
    NOT_AVAILABLE(c, "fmi2DoStep");
}

fmi2Status fmiCancelStep(fmi2Component c) {
    NOT_AVAILABLE(c, "fmi2CancelStep");
}

fmi2Status fmiGetStatus(fmi2Component c, const fmi2StatusKind s, fmi2Status* value) {
    (void)s;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetStatus");
}

fmi2Status fmiGetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real* value) {
    (void)s;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetRealStatus");
}

fmi2Status fmiGetIntegerStatus(fmi2Component c, const fmi2StatusKind s, fmi2Integer* value) {
    (void)s;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetIntegerStatus");
}

fmi2Status fmiGetBooleanStatus(fmi2Component c, const fmi2StatusKind s, fmi2Boolean* value) {
    (void)s;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetBooleanStatus");
}

fmi2Status fmiGetStringStatus(fmi2Component c, const fmi2StatusKind s, fmi2String* value) {
    (void)s;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetStringStatus");
}

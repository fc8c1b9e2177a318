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

// Internal result generation has not landed yet: without it an instance
// records no results.
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


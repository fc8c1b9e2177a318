// Bodies of FMI functions whose implementation has not landed yet: each tells
// the host so and fails.
#include "instance.h"

#define NOT_AVAILABLE(c, function)                                                                                  \
    do {                                                                                                            \
        ModelInstance* instance_ = static_cast<ModelInstance*>(c);                                                  \
        if (instance_) logMessage(instance_, instance_->instanceName, fmi2Error, "", "%s: not available", function); \
        return fmi2Error;                                                                                           \
    } while (0)

void freeIntegratorData(ModelInstance* instance) { (void)instance; }

fmi2Status fmiSetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories, const fmi2String categories[]) {
    (void)loggingOn;
    (void)nCategories;
    (void)categories;
    NOT_AVAILABLE(c, "fmi2SetDebugLogging");
}

fmi2Status fmiSetupExperiment(fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance, fmi2Real startTime, fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
    (void)toleranceDefined;
    (void)tolerance;
    (void)startTime;
    (void)stopTimeDefined;
    (void)stopTime;
    NOT_AVAILABLE(c, "fmi2SetupExperiment");
}

fmi2Status fmiEnterInitializationMode(fmi2Component c) {
    NOT_AVAILABLE(c, "fmi2EnterInitializationMode");
}

fmi2Status exitInitializationMode(fmi2Component c) {
    NOT_AVAILABLE(c, "fmi2ExitInitializationMode");
}

fmi2Status fmiTerminate(fmi2Component c) {
    NOT_AVAILABLE(c, "fmi2Terminate");
}

fmi2Status fmiReset(fmi2Component c) {
    NOT_AVAILABLE(c, "fmi2Reset");
}

fmi2Status fmiGetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
    (void)vr;
    (void)nvr;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetReal");
}

fmi2Status fmiGetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]) {
    (void)vr;
    (void)nvr;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetInteger");
}

fmi2Status fmiGetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]) {
    (void)vr;
    (void)nvr;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetBoolean");
}

fmi2Status fmiGetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String value[]) {
    (void)vr;
    (void)nvr;
    (void)value;
    NOT_AVAILABLE(c, "fmi2GetString");
}

fmi2Status fmiSetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
    (void)vr;
    (void)nvr;
    (void)value;
    NOT_AVAILABLE(c, "fmi2SetReal");
}

fmi2Status fmiSetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer value[]) {
    (void)vr;
    (void)nvr;
    (void)value;
    NOT_AVAILABLE(c, "fmi2SetInteger");
}

fmi2Status fmiSetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Boolean value[]) {
    (void)vr;
    (void)nvr;
    (void)value;
    NOT_AVAILABLE(c, "fmi2SetBoolean");
}

fmi2Status fmiSetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2String value[]) {
    (void)vr;
    (void)nvr;
    (void)value;
    NOT_AVAILABLE(c, "fmi2SetString");
}

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

fmi2Status fmiEnterEventMode(fmi2Component c) {
    NOT_AVAILABLE(c, "fmi2EnterEventMode");
}

fmi2Status fmiNewDiscreteStates(fmi2Component c, fmi2EventInfo* eventInfo) {
    (void)eventInfo;
    NOT_AVAILABLE(c, "fmi2NewDiscreteStates");
}

fmi2Status fmiEnterContinuousTimeMode(fmi2Component c) {
    NOT_AVAILABLE(c, "fmi2EnterContinuousTimeMode");
}

fmi2Status fmiCompletedIntegratorStep(fmi2Component c, fmi2Boolean noSetFMUStatePriorToCurrentPoint, fmi2Boolean* enterEventMode, fmi2Boolean* terminateSimulation) {
    (void)noSetFMUStatePriorToCurrentPoint;
    (void)enterEventMode;
    (void)terminateSimulation;
    NOT_AVAILABLE(c, "fmi2CompletedIntegratorStep");
}

fmi2Status fmiSetTime(fmi2Component c, fmi2Real time) {
    (void)time;
    NOT_AVAILABLE(c, "fmi2SetTime");
}

fmi2Status fmiSetContinuousStates(fmi2Component c, const fmi2Real x[], size_t nx) {
    (void)x;
    (void)nx;
    NOT_AVAILABLE(c, "fmi2SetContinuousStates");
}

fmi2Status fmiGetDerivatives(fmi2Component c, fmi2Real derivatives[], size_t nx) {
    (void)derivatives;
    (void)nx;
    NOT_AVAILABLE(c, "fmi2GetDerivatives");
}

fmi2Status fmiGetEventIndicators(fmi2Component c, fmi2Real eventIndicators[], size_t ni) {
    (void)eventIndicators;
    (void)ni;
    NOT_AVAILABLE(c, "fmi2GetEventIndicators");
}

fmi2Status fmiGetContinuousStates(fmi2Component c, fmi2Real x[], size_t nx) {
    (void)x;
    (void)nx;
    NOT_AVAILABLE(c, "fmi2GetContinuousStates");
}

fmi2Status fmiGetNominalsOfContinuousStates(fmi2Component c, fmi2Real x_nominal[], size_t nx) {
    (void)x_nominal;
    (void)nx;
    NOT_AVAILABLE(c, "fmi2GetNominalsOfContinuousStates");
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

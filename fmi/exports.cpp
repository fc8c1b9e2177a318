// The 44 exported FMI 2.0 functions. Each forwards to its body; a barrier
// turns anything that escapes a body into an error status, so no exception
// ever reaches the host.
#include "instance.h"

#define FMI_EXPORT extern "C" __attribute__((visibility("default")))

// Reports an escaped failure to the host when the component looks usable.
static fmi2Status barrierFailure(fmi2Component c, const char* function) {
    try {
        ModelInstance* instance = static_cast<ModelInstance*>(c);
        if (instance) logMessage(instance, instance->instanceName, fmi2Error, "", "%s: internal error", function);
    } catch (...) {
    }
    return fmi2Error;
}

FMI_EXPORT const char* fmi2GetTypesPlatform(void) { return fmiGetTypesPlatform(); }

FMI_EXPORT const char* fmi2GetVersion(void) { return fmiGetVersion(); }

FMI_EXPORT fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                                         fmi2String fmuResourceLocation, const fmi2CallbackFunctions* functions,
                                         fmi2Boolean visible, fmi2Boolean loggingOn) {
    try {
        return fmiInstantiate(instanceName, fmuType, fmuGUID, fmuResourceLocation, functions, visible, loggingOn);
    } catch (...) {
        return nullptr;
    }
}

FMI_EXPORT void fmi2FreeInstance(fmi2Component c) {
    try {
        fmiFreeInstance(c);
    } catch (...) {
    }
}

FMI_EXPORT fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories, const fmi2String categories[]) {
    try {
        return fmiSetDebugLogging(c, loggingOn, nCategories, categories);
    } catch (...) {
        return barrierFailure(c, "fmi2SetDebugLogging");
    }
}

FMI_EXPORT fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance, fmi2Real startTime, fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
    try {
        return fmiSetupExperiment(c, toleranceDefined, tolerance, startTime, stopTimeDefined, stopTime);
    } catch (...) {
        return barrierFailure(c, "fmi2SetupExperiment");
    }
}

FMI_EXPORT fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
    try {
        return fmiEnterInitializationMode(c);
    } catch (...) {
        return barrierFailure(c, "fmi2EnterInitializationMode");
    }
}

FMI_EXPORT fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
    try {
        return exitInitializationMode(c);
    } catch (...) {
        return barrierFailure(c, "fmi2ExitInitializationMode");
    }
}

FMI_EXPORT fmi2Status fmi2Terminate(fmi2Component c) {
    try {
        return fmiTerminate(c);
    } catch (...) {
        return barrierFailure(c, "fmi2Terminate");
    }
}

FMI_EXPORT fmi2Status fmi2Reset(fmi2Component c) {
    try {
        return fmiReset(c);
    } catch (...) {
        return barrierFailure(c, "fmi2Reset");
    }
}

FMI_EXPORT fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
    try {
        return fmiGetReal(c, vr, nvr, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetReal");
    }
}

FMI_EXPORT fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]) {
    try {
        return fmiGetInteger(c, vr, nvr, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetInteger");
    }
}

FMI_EXPORT fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]) {
    try {
        return fmiGetBoolean(c, vr, nvr, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetBoolean");
    }
}

FMI_EXPORT fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String value[]) {
    try {
        return fmiGetString(c, vr, nvr, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetString");
    }
}

FMI_EXPORT fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
    try {
        return fmiSetReal(c, vr, nvr, value);
    } catch (...) {
        return barrierFailure(c, "fmi2SetReal");
    }
}

FMI_EXPORT fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer value[]) {
    try {
        return fmiSetInteger(c, vr, nvr, value);
    } catch (...) {
        return barrierFailure(c, "fmi2SetInteger");
    }
}

FMI_EXPORT fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Boolean value[]) {
    try {
        return fmiSetBoolean(c, vr, nvr, value);
    } catch (...) {
        return barrierFailure(c, "fmi2SetBoolean");
    }
}

FMI_EXPORT fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2String value[]) {
    try {
        return fmiSetString(c, vr, nvr, value);
    } catch (...) {
        return barrierFailure(c, "fmi2SetString");
    }
}

FMI_EXPORT fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    try {
        return fmiGetFMUstate(c, FMUstate);
    } catch (...) {
        return barrierFailure(c, "fmi2GetFMUstate");
    }
}

FMI_EXPORT fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate FMUstate) {
    try {
        return fmiSetFMUstate(c, FMUstate);
    } catch (...) {
        return barrierFailure(c, "fmi2SetFMUstate");
    }
}

FMI_EXPORT fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    try {
        return fmiFreeFMUstate(c, FMUstate);
    } catch (...) {
        return barrierFailure(c, "fmi2FreeFMUstate");
    }
}

FMI_EXPORT fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate FMUstate, size_t* size) {
    try {
        return fmiSerializedFMUstateSize(c, FMUstate, size);
    } catch (...) {
        return barrierFailure(c, "fmi2SerializedFMUstateSize");
    }
}

FMI_EXPORT fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate FMUstate, fmi2Byte serializedState[], size_t size) {
    try {
        return fmiSerializeFMUstate(c, FMUstate, serializedState, size);
    } catch (...) {
        return barrierFailure(c, "fmi2SerializeFMUstate");
    }
}

FMI_EXPORT fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[], size_t size, fmi2FMUstate* FMUstate) {
    try {
        return fmiDeSerializeFMUstate(c, serializedState, size, FMUstate);
    } catch (...) {
        return barrierFailure(c, "fmi2DeSerializeFMUstate");
    }
}

FMI_EXPORT fmi2Status fmi2GetDirectionalDerivative(fmi2Component c, const fmi2ValueReference vUnknown_ref[], size_t nUnknown, const fmi2ValueReference vKnown_ref[], size_t nKnown, const fmi2Real dvKnown[], fmi2Real dvUnknown[]) {
    try {
        return fmiGetDirectionalDerivative(c, vUnknown_ref, nUnknown, vKnown_ref, nKnown, dvKnown, dvUnknown);
    } catch (...) {
        return barrierFailure(c, "fmi2GetDirectionalDerivative");
    }
}

FMI_EXPORT fmi2Status fmi2EnterEventMode(fmi2Component c) {
    try {
        return fmiEnterEventMode(c);
    } catch (...) {
        return barrierFailure(c, "fmi2EnterEventMode");
    }
}

FMI_EXPORT fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo* eventInfo) {
    try {
        return fmiNewDiscreteStates(c, eventInfo);
    } catch (...) {
        return barrierFailure(c, "fmi2NewDiscreteStates");
    }
}

FMI_EXPORT fmi2Status fmi2EnterContinuousTimeMode(fmi2Component c) {
    try {
        return fmiEnterContinuousTimeMode(c);
    } catch (...) {
        return barrierFailure(c, "fmi2EnterContinuousTimeMode");
    }
}

FMI_EXPORT fmi2Status fmi2CompletedIntegratorStep(fmi2Component c, fmi2Boolean noSetFMUStatePriorToCurrentPoint, fmi2Boolean* enterEventMode, fmi2Boolean* terminateSimulation) {
    try {
        return fmiCompletedIntegratorStep(c, noSetFMUStatePriorToCurrentPoint, enterEventMode, terminateSimulation);
    } catch (...) {
        return barrierFailure(c, "fmi2CompletedIntegratorStep");
    }
}

FMI_EXPORT fmi2Status fmi2SetTime(fmi2Component c, fmi2Real time) {
    try {
        return fmiSetTime(c, time);
    } catch (...) {
        return barrierFailure(c, "fmi2SetTime");
    }
}

FMI_EXPORT fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real x[], size_t nx) {
    try {
        return fmiSetContinuousStates(c, x, nx);
    } catch (...) {
        return barrierFailure(c, "fmi2SetContinuousStates");
    }
}

FMI_EXPORT fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real derivatives[], size_t nx) {
    try {
        return fmiGetDerivatives(c, derivatives, nx);
    } catch (...) {
        return barrierFailure(c, "fmi2GetDerivatives");
    }
}

FMI_EXPORT fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real eventIndicators[], size_t ni) {
    try {
        return fmiGetEventIndicators(c, eventIndicators, ni);
    } catch (...) {
        return barrierFailure(c, "fmi2GetEventIndicators");
    }
}

FMI_EXPORT fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real x[], size_t nx) {
    try {
        return fmiGetContinuousStates(c, x, nx);
    } catch (...) {
        return barrierFailure(c, "fmi2GetContinuousStates");
    }
}

FMI_EXPORT fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component c, fmi2Real x_nominal[], size_t nx) {
    try {
        return fmiGetNominalsOfContinuousStates(c, x_nominal, nx);
    } catch (...) {
        return barrierFailure(c, "fmi2GetNominalsOfContinuousStates");
    }
}

FMI_EXPORT fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer order[], const fmi2Real value[]) {
    try {
        return fmiSetRealInputDerivatives(c, vr, nvr, order, value);
    } catch (...) {
        return barrierFailure(c, "fmi2SetRealInputDerivatives");
    }
}

FMI_EXPORT fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer order[], fmi2Real value[]) {
    try {
        return fmiGetRealOutputDerivatives(c, vr, nvr, order, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetRealOutputDerivatives");
    }
}

FMI_EXPORT fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint, fmi2Real communicationStepSize, fmi2Boolean noSetFMUStatePriorToCurrentCommunicationPoint) {
    try {
        return fmiDoStep(c, currentCommunicationPoint, communicationStepSize, noSetFMUStatePriorToCurrentCommunicationPoint);
    } catch (...) {
        return barrierFailure(c, "fmi2DoStep");
    }
}

FMI_EXPORT fmi2Status fmi2CancelStep(fmi2Component c) {
    try {
        return fmiCancelStep(c);
    } catch (...) {
        return barrierFailure(c, "fmi2CancelStep");
    }
}

FMI_EXPORT fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind s, fmi2Status* value) {
    try {
        return fmiGetStatus(c, s, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetStatus");
    }
}

FMI_EXPORT fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real* value) {
    try {
        return fmiGetRealStatus(c, s, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetRealStatus");
    }
}

FMI_EXPORT fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind s, fmi2Integer* value) {
    try {
        return fmiGetIntegerStatus(c, s, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetIntegerStatus");
    }
}

FMI_EXPORT fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind s, fmi2Boolean* value) {
    try {
        return fmiGetBooleanStatus(c, s, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetBooleanStatus");
    }
}

FMI_EXPORT fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind s, fmi2String* value) {
    try {
        return fmiGetStringStatus(c, s, value);
    } catch (...) {
        return barrierFailure(c, "fmi2GetStringStatus");
    }
}

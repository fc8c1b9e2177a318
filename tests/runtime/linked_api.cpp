// Binds the fmi2 functions of the test model's runtime linked into this executable.
#include "test_host.h"

extern "C" {
const char* fmi2GetTypesPlatform(void);
const char* fmi2GetVersion(void);
fmi2Status fmi2SetDebugLogging(fmi2Component, fmi2Boolean, size_t, const fmi2String[]);
fmi2Component fmi2Instantiate(fmi2String, fmi2Type, fmi2String, fmi2String, const fmi2CallbackFunctions*,
                              fmi2Boolean, fmi2Boolean);
void fmi2FreeInstance(fmi2Component);
fmi2Status fmi2SetupExperiment(fmi2Component, fmi2Boolean, fmi2Real, fmi2Real, fmi2Boolean, fmi2Real);
fmi2Status fmi2EnterInitializationMode(fmi2Component);
fmi2Status fmi2ExitInitializationMode(fmi2Component);
fmi2Status fmi2Terminate(fmi2Component);
fmi2Status fmi2Reset(fmi2Component);
fmi2Status fmi2GetReal(fmi2Component, const fmi2ValueReference[], size_t, fmi2Real[]);
fmi2Status fmi2GetInteger(fmi2Component, const fmi2ValueReference[], size_t, fmi2Integer[]);
fmi2Status fmi2GetBoolean(fmi2Component, const fmi2ValueReference[], size_t, fmi2Boolean[]);
fmi2Status fmi2GetString(fmi2Component, const fmi2ValueReference[], size_t, fmi2String[]);
fmi2Status fmi2SetReal(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Real[]);
fmi2Status fmi2SetInteger(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[]);
fmi2Status fmi2SetBoolean(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Boolean[]);
fmi2Status fmi2SetString(fmi2Component, const fmi2ValueReference[], size_t, const fmi2String[]);
fmi2Status fmi2GetFMUstate(fmi2Component, fmi2FMUstate*);
fmi2Status fmi2SetFMUstate(fmi2Component, fmi2FMUstate);
fmi2Status fmi2FreeFMUstate(fmi2Component, fmi2FMUstate*);
fmi2Status fmi2SerializedFMUstateSize(fmi2Component, fmi2FMUstate, size_t*);
fmi2Status fmi2SerializeFMUstate(fmi2Component, fmi2FMUstate, fmi2Byte[], size_t);
fmi2Status fmi2DeSerializeFMUstate(fmi2Component, const fmi2Byte[], size_t, fmi2FMUstate*);
fmi2Status fmi2GetDirectionalDerivative(fmi2Component, const fmi2ValueReference[], size_t,
                                        const fmi2ValueReference[], size_t, const fmi2Real[], fmi2Real[]);
fmi2Status fmi2EnterEventMode(fmi2Component);
fmi2Status fmi2NewDiscreteStates(fmi2Component, fmi2EventInfo*);
fmi2Status fmi2EnterContinuousTimeMode(fmi2Component);
fmi2Status fmi2CompletedIntegratorStep(fmi2Component, fmi2Boolean, fmi2Boolean*, fmi2Boolean*);
fmi2Status fmi2SetTime(fmi2Component, fmi2Real);
fmi2Status fmi2SetContinuousStates(fmi2Component, const fmi2Real[], size_t);
fmi2Status fmi2GetDerivatives(fmi2Component, fmi2Real[], size_t);
fmi2Status fmi2GetEventIndicators(fmi2Component, fmi2Real[], size_t);
fmi2Status fmi2GetContinuousStates(fmi2Component, fmi2Real[], size_t);
fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component, fmi2Real[], size_t);
fmi2Status fmi2SetRealInputDerivatives(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[],
                                       const fmi2Real[]);
fmi2Status fmi2GetRealOutputDerivatives(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[],
                                        fmi2Real[]);
fmi2Status fmi2DoStep(fmi2Component, fmi2Real, fmi2Real, fmi2Boolean);
fmi2Status fmi2CancelStep(fmi2Component);
fmi2Status fmi2GetStatus(fmi2Component, const fmi2StatusKind, fmi2Status*);
fmi2Status fmi2GetRealStatus(fmi2Component, const fmi2StatusKind, fmi2Real*);
fmi2Status fmi2GetIntegerStatus(fmi2Component, const fmi2StatusKind, fmi2Integer*);
fmi2Status fmi2GetBooleanStatus(fmi2Component, const fmi2StatusKind, fmi2Boolean*);
fmi2Status fmi2GetStringStatus(fmi2Component, const fmi2StatusKind, fmi2String*);
}

FmiApi linkedFmiApi() {
    return FmiApi{fmi2GetTypesPlatform, fmi2GetVersion, fmi2SetDebugLogging, fmi2Instantiate, fmi2FreeInstance,
                  fmi2SetupExperiment, fmi2EnterInitializationMode, fmi2ExitInitializationMode, fmi2Terminate,
                  fmi2Reset, fmi2GetReal, fmi2GetInteger, fmi2GetBoolean, fmi2GetString, fmi2SetReal,
                  fmi2SetInteger, fmi2SetBoolean, fmi2SetString, fmi2GetFMUstate, fmi2SetFMUstate,
                  fmi2FreeFMUstate, fmi2SerializedFMUstateSize, fmi2SerializeFMUstate, fmi2DeSerializeFMUstate,
                  fmi2GetDirectionalDerivative, fmi2EnterEventMode, fmi2NewDiscreteStates,
                  fmi2EnterContinuousTimeMode, fmi2CompletedIntegratorStep, fmi2SetTime, fmi2SetContinuousStates,
                  fmi2GetDerivatives, fmi2GetEventIndicators, fmi2GetContinuousStates,
                  fmi2GetNominalsOfContinuousStates, fmi2SetRealInputDerivatives, fmi2GetRealOutputDerivatives,
                  fmi2DoStep, fmi2CancelStep, fmi2GetStatus, fmi2GetRealStatus, fmi2GetIntegerStatus,
                  fmi2GetBooleanStatus, fmi2GetStringStatus};
}

// A small FMI host for the tests: loads an FMU with dlopen (or binds the
// functions linked into the test executable), records every log message and
// counts every allocation, with optional failure injection.
#pragma once

#include <string>
#include <vector>

#include "fmi2_abi.h"

// The 44 functions of an FMU.
struct FmiApi {
    const char* (*GetTypesPlatform)(void);
    const char* (*GetVersion)(void);
    fmi2Status (*SetDebugLogging)(fmi2Component, fmi2Boolean, size_t, const fmi2String[]);
    fmi2Component (*Instantiate)(fmi2String, fmi2Type, fmi2String, fmi2String, const fmi2CallbackFunctions*,
                                 fmi2Boolean, fmi2Boolean);
    void (*FreeInstance)(fmi2Component);
    fmi2Status (*SetupExperiment)(fmi2Component, fmi2Boolean, fmi2Real, fmi2Real, fmi2Boolean, fmi2Real);
    fmi2Status (*EnterInitializationMode)(fmi2Component);
    fmi2Status (*ExitInitializationMode)(fmi2Component);
    fmi2Status (*Terminate)(fmi2Component);
    fmi2Status (*Reset)(fmi2Component);
    fmi2Status (*GetReal)(fmi2Component, const fmi2ValueReference[], size_t, fmi2Real[]);
    fmi2Status (*GetInteger)(fmi2Component, const fmi2ValueReference[], size_t, fmi2Integer[]);
    fmi2Status (*GetBoolean)(fmi2Component, const fmi2ValueReference[], size_t, fmi2Boolean[]);
    fmi2Status (*GetString)(fmi2Component, const fmi2ValueReference[], size_t, fmi2String[]);
    fmi2Status (*SetReal)(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Real[]);
    fmi2Status (*SetInteger)(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[]);
    fmi2Status (*SetBoolean)(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Boolean[]);
    fmi2Status (*SetString)(fmi2Component, const fmi2ValueReference[], size_t, const fmi2String[]);
    fmi2Status (*GetFMUstate)(fmi2Component, fmi2FMUstate*);
    fmi2Status (*SetFMUstate)(fmi2Component, fmi2FMUstate);
    fmi2Status (*FreeFMUstate)(fmi2Component, fmi2FMUstate*);
    fmi2Status (*SerializedFMUstateSize)(fmi2Component, fmi2FMUstate, size_t*);
    fmi2Status (*SerializeFMUstate)(fmi2Component, fmi2FMUstate, fmi2Byte[], size_t);
    fmi2Status (*DeSerializeFMUstate)(fmi2Component, const fmi2Byte[], size_t, fmi2FMUstate*);
    fmi2Status (*GetDirectionalDerivative)(fmi2Component, const fmi2ValueReference[], size_t,
                                           const fmi2ValueReference[], size_t, const fmi2Real[], fmi2Real[]);
    fmi2Status (*EnterEventMode)(fmi2Component);
    fmi2Status (*NewDiscreteStates)(fmi2Component, fmi2EventInfo*);
    fmi2Status (*EnterContinuousTimeMode)(fmi2Component);
    fmi2Status (*CompletedIntegratorStep)(fmi2Component, fmi2Boolean, fmi2Boolean*, fmi2Boolean*);
    fmi2Status (*SetTime)(fmi2Component, fmi2Real);
    fmi2Status (*SetContinuousStates)(fmi2Component, const fmi2Real[], size_t);
    fmi2Status (*GetDerivatives)(fmi2Component, fmi2Real[], size_t);
    fmi2Status (*GetEventIndicators)(fmi2Component, fmi2Real[], size_t);
    fmi2Status (*GetContinuousStates)(fmi2Component, fmi2Real[], size_t);
    fmi2Status (*GetNominalsOfContinuousStates)(fmi2Component, fmi2Real[], size_t);
    fmi2Status (*SetRealInputDerivatives)(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[],
                                          const fmi2Real[]);
    fmi2Status (*GetRealOutputDerivatives)(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[],
                                           fmi2Real[]);
    fmi2Status (*DoStep)(fmi2Component, fmi2Real, fmi2Real, fmi2Boolean);
    fmi2Status (*CancelStep)(fmi2Component);
    fmi2Status (*GetStatus)(fmi2Component, const fmi2StatusKind, fmi2Status*);
    fmi2Status (*GetRealStatus)(fmi2Component, const fmi2StatusKind, fmi2Real*);
    fmi2Status (*GetIntegerStatus)(fmi2Component, const fmi2StatusKind, fmi2Integer*);
    fmi2Status (*GetBooleanStatus)(fmi2Component, const fmi2StatusKind, fmi2Boolean*);
    fmi2Status (*GetStringStatus)(fmi2Component, const fmi2StatusKind, fmi2String*);
};

// A value reference: index in bits 0-23, kind in bits 24-27, the level the
// value needs in bits 28-31.
constexpr fmi2ValueReference ref(unsigned kind, unsigned index, unsigned level = 0) {
    return (level << 28) | (kind << 24) | index;
}

// Names of the 44 functions in the order of FmiApi.
extern const char* const kFmiFunctionNames[44];

struct LogRecord {
    std::string instanceName;
    fmi2Status status;
    std::string category;
    std::string message; // the logger's format applied to its arguments
};

// Counts live blocks of the host allocator; failAt = n makes the n-th
// allocation from now on (1-based) fail, 0 never.
struct CountingAllocator {
    long live = 0;
    long total = 0;
    long failAt = 0;
    long failed = 0;
};

class TestHost {
public:
    // Loads the FMU at `path`; on failure error() tells why.
    explicit TestHost(const std::string& path);
    // Binds the fmi2 functions linked into this executable (null `api`: none).
    explicit TestHost(const FmiApi& api);
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    bool loaded() const { return loaded_; }
    const std::string& error() const { return error_; }
    const FmiApi& api() const { return api_; }
    const FmiApi* operator->() const { return &api_; }

    // The callback record handed to fmi2Instantiate (componentEnvironment = this).
    fmi2CallbackFunctions* callbacks() { return &callbacks_; }

    // Instantiates with this host's callbacks.
    fmi2Component instantiate(const char* name, fmi2Type type, const char* guid, bool loggingOn = true,
                              const char* resourceLocation = "file:///tmp/resources");

    std::vector<LogRecord> log;
    void clearLog() { log.clear(); }
    // The messages logged so far, one per line: "<status>|<instance>|<message>".
    std::string logText() const;
    bool logContains(const std::string& message) const;

    static CountingAllocator allocator;

private:
    void initCallbacks();
    static void logger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                       fmi2String category, fmi2String message, ...);
    static void* allocate(size_t n, size_t size);
    static void release(void* p);

    void* handle_ = nullptr;
    bool loaded_ = false;
    std::string error_;
    FmiApi api_{};
    fmi2CallbackFunctions callbacks_{};
};

const char* statusName(fmi2Status status);

// The FmiApi of the functions linked into the executable (runtime tests).
FmiApi linkedFmiApi();

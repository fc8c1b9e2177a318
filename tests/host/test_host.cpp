#include "test_host.h"

#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

const char* const kFmiFunctionNames[44] = {
    "fmi2GetTypesPlatform", "fmi2GetVersion", "fmi2SetDebugLogging", "fmi2Instantiate", "fmi2FreeInstance",
    "fmi2SetupExperiment", "fmi2EnterInitializationMode", "fmi2ExitInitializationMode", "fmi2Terminate",
    "fmi2Reset", "fmi2GetReal", "fmi2GetInteger", "fmi2GetBoolean", "fmi2GetString", "fmi2SetReal",
    "fmi2SetInteger", "fmi2SetBoolean", "fmi2SetString", "fmi2GetFMUstate", "fmi2SetFMUstate",
    "fmi2FreeFMUstate", "fmi2SerializedFMUstateSize", "fmi2SerializeFMUstate", "fmi2DeSerializeFMUstate",
    "fmi2GetDirectionalDerivative", "fmi2EnterEventMode", "fmi2NewDiscreteStates",
    "fmi2EnterContinuousTimeMode", "fmi2CompletedIntegratorStep", "fmi2SetTime", "fmi2SetContinuousStates",
    "fmi2GetDerivatives", "fmi2GetEventIndicators", "fmi2GetContinuousStates",
    "fmi2GetNominalsOfContinuousStates", "fmi2SetRealInputDerivatives", "fmi2GetRealOutputDerivatives",
    "fmi2DoStep", "fmi2CancelStep", "fmi2GetStatus", "fmi2GetRealStatus", "fmi2GetIntegerStatus",
    "fmi2GetBooleanStatus", "fmi2GetStringStatus"};

static_assert(sizeof(FmiApi) == 44 * sizeof(void*), "FmiApi holds exactly the 44 functions");

CountingAllocator TestHost::allocator;

TestHost::TestHost(const std::string& path) {
    initCallbacks();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* e = dlerror();
        error_ = e ? e : "dlopen failed";
        return;
    }
    void** slots = reinterpret_cast<void**>(&api_);
    for (int i = 0; i < 44; ++i) {
        slots[i] = dlsym(handle_, kFmiFunctionNames[i]);
        if (!slots[i]) {
            error_ = std::string("missing symbol ") + kFmiFunctionNames[i];
            return;
        }
    }
    loaded_ = true;
}

TestHost::TestHost(const FmiApi& api) : api_(api) {
    initCallbacks();
    loaded_ = true;
}

TestHost::~TestHost() {
    if (handle_) dlclose(handle_);
}

void TestHost::initCallbacks() {
    callbacks_.logger = &TestHost::logger;
    callbacks_.allocateMemory = &TestHost::allocate;
    callbacks_.freeMemory = &TestHost::release;
    callbacks_.stepFinished = nullptr;
    callbacks_.componentEnvironment = this;
}

fmi2Component TestHost::instantiate(const char* name, fmi2Type type, const char* guid, bool loggingOn,
                                    const char* resourceLocation) {
    return api_.Instantiate(name, type, guid, resourceLocation, &callbacks_, fmi2False,
                            loggingOn ? fmi2True : fmi2False);
}

void TestHost::logger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                      fmi2String category, fmi2String message, ...) {
    // The message is a printf format: apply it as a real host does.
    char buffer[8192];
    va_list args;
    va_start(args, message);
    vsnprintf(buffer, sizeof buffer, message ? message : "", args);
    va_end(args);
    LogRecord record{instanceName ? instanceName : "<null>", status, category ? category : "<null>", buffer};
    if (env) static_cast<TestHost*>(env)->log.push_back(record);
}

void* TestHost::allocate(size_t n, size_t size) {
    allocator.total++;
    if (allocator.failAt > 0 && --allocator.failAt == 0) {
        allocator.failed++;
        return nullptr;
    }
    void* p = calloc(n ? n : 1, size ? size : 1);
    if (p) allocator.live++;
    return p;
}

void TestHost::release(void* p) {
    if (!p) return;
    allocator.live--;
    free(p);
}

std::string TestHost::logText() const {
    std::string text;
    for (const LogRecord& r : log) text += std::string(statusName(r.status)) + "|" + r.instanceName + "|" + r.message + "\n";
    return text;
}

bool TestHost::logContains(const std::string& message) const {
    for (const LogRecord& r : log)
        if (r.message == message) return true;
    return false;
}

const char* statusName(fmi2Status status) {
    switch (status) {
    case fmi2OK: return "OK";
    case fmi2Warning: return "Warning";
    case fmi2Discard: return "Discard";
    case fmi2Error: return "Error";
    case fmi2Fatal: return "Fatal";
    case fmi2Pending: return "Pending";
    }
    return "?";
}

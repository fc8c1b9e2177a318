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

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

// Variable access by value reference. A value reference encodes the array of
// the instance that holds the variable (its kind, bits 24-27), the position in
// that array (bits 0-23) and the evaluation level the model must have reached
// before the value is valid (bits 28-31); all bits set name the model time.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "evaluate.h"
#include "runtime.h"

namespace {

enum ValueReferenceKind {
    kindParameter = 1,
    kindState = 2,
    kindDerivative = 3,
    kindOutput = 4,
    kindInput = 5,
    kindAuxiliary = 6,
    kindString = 8,
    kindInputReadOnly = 10,
    kindExtra1 = 11,
    kindExtra2 = 12,
    kindStringReadOnly = 13,
    kindParameterReadOnly = 14,
};

const fmi2ValueReference kTimeReference = 0xFFFFFFFFu;

} // namespace

static uint32_t referenceIndex(fmi2ValueReference vr) { return vr & 0xFFFFFFu; }
static int referenceKind(fmi2ValueReference vr) { return static_cast<int>((vr >> 24) & 0xFu); }
static EvaluationLevel referenceLevel(fmi2ValueReference vr) { return static_cast<EvaluationLevel>(vr >> 28); }

static ModelInstance* asInstance(fmi2Component c) { return static_cast<ModelInstance*>(c); }

// The time is no model result: its all-ones bits ask for no evaluation.
static EvaluationLevel requiredLevel(const fmi2ValueReference vr[], size_t nvr) {
    EvaluationLevel level = levelInitial;
    for (size_t i = 0; i < nvr; ++i)
        if (vr[i] != kTimeReference && referenceLevel(vr[i]) > level) level = referenceLevel(vr[i]);
    return level;
}

// The element of `array` at `index`, or NULL when the index lies beyond its `count` elements.
static double* element(double* array, uint64_t count, uint32_t index) { return index < count ? &array[index] : nullptr; }

// The double that a Real, Integer or Boolean read delivers; NULL when the
// value reference names nothing these calls can read.
static double* readableSlot(ModelInstance* instance, fmi2ValueReference vr) {
    if (vr == kTimeReference) return &instance->time;
    const uint32_t index = referenceIndex(vr);
    switch (referenceKind(vr)) {
    case kindParameter:
    case kindParameterReadOnly: return element(instance->p, instance->np, index);
    case kindState: return element(instance->x, instance->nx, index);
    case kindDerivative: return element(instance->xdot, instance->nx, index);
    case kindOutput: return element(instance->y, instance->ny, index);
    case kindInput:
    case kindInputReadOnly: return element(instance->u, instance->nu, index);
    case kindAuxiliary: return element(instance->w, instance->nw, index);
    case kindExtra1: return element(instance->extraVars1, instance->nExtra1, index);
    case kindExtra2: return element(instance->extraVars2, instance->nExtra2, index);
    default: return nullptr;
    }
}

// Truncation toward zero; NaN and values outside the 32-bit range give INT32_MIN.
static int32_t truncateToInteger(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(value);
}

namespace {

// What distinguishes the Real, Integer and Boolean calls.
struct NumericAccess {
    const char* body;  // the name the messages begin with
    char marker;       // 'r', 'i' or 'b'
    bool discardOnError; // a failed evaluation while reading gives fmi2Discard
};

const NumericAccess kReal = {"fmiGetReal", 'r', true};
const NumericAccess kInteger = {"fmiGetInteger", 'i', false};
const NumericAccess kBoolean = {"fmiGetBoolean", 'b', false};
const NumericAccess kSetReal = {"fmiSetReal", 'r', false};
const NumericAccess kSetInteger = {"fmiSetInteger", 'i', false};
const NumericAccess kSetBoolean = {"fmiSetBoolean", 'b', false};

} // namespace

static double deliver(double value, double*) { return value; }
static int32_t deliver(double value, int32_t*) { return truncateToInteger(value); }

template <typename T>
static fmi2Status getNumeric(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, T value[],
                             const NumericAccess& access) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (nvr > 0 && (!vr || !value)) return fmi2Error;
    const EvaluationLevel level = requiredLevel(vr, nvr);
    if (instance->mode == modeInstantiated) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: Not allowed before call of %s", access.body,
                     "fmi2EnterInitializationMode");
        return fmi2Warning;
    }
    if (instance->mode != modeTerminated) {
        const bool evaluate = (instance->computedLevel < level && instance->mode != modeInitialization) ||
                              (instance->mode == modeInitialization && instance->dirty) ||
                              instance->directionalDerivativeActive;
        if (evaluate) {
            const EvaluationLevel callLevel =
                (instance->directionalDerivativeActive && level == levelInitial) ? levelAllEquations : level;
            const int qiErr = evaluateModel(instance, callLevel, nullptr, nullptr);
            if (qiErr != 0) {
                if (access.discardOnError && qiErr == 1) {
                    LOG_INSTANCE(instance, fmi2Discard, "%s: dsblock_ failed, QiErr = %d", access.body, qiErr);
                    return fmi2Discard;
                }
                LOG_INSTANCE(instance, fmi2Error, "%s: dsblock_ failed, QiErr = %d", access.body, qiErr);
                return terminateOnError(instance);
            }
        }
    }
    for (size_t i = 0; i < nvr; ++i) {
        const double* slot = readableSlot(instance, vr[i]);
        if (!slot) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: cannot get #%c%u#", access.body, access.marker, vr[i]);
            return fmi2Warning;
        }
        value[i] = deliver(*slot, static_cast<T*>(nullptr));
        LOG_INSTANCE(instance, fmi2OK, "%s: #%c%u# = %g", access.body, access.marker, vr[i],
                     static_cast<double>(value[i]));
    }
    return fmi2OK;
}

fmi2Status fmiGetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
    return getNumeric<double>(c, vr, nvr, value, kReal);
}

fmi2Status fmiGetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]) {
    static_assert(sizeof(fmi2Integer) == sizeof(int32_t), "fmi2Integer is 32 bits");
    return getNumeric<int32_t>(c, vr, nvr, reinterpret_cast<int32_t*>(value), kInteger);
}

fmi2Status fmiGetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]) {
    static_assert(sizeof(fmi2Boolean) == sizeof(int32_t), "fmi2Boolean is 32 bits");
    return getNumeric<int32_t>(c, vr, nvr, reinterpret_cast<int32_t*>(value), kBoolean);
}

fmi2Status fmiGetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String value[]) {
    static const char* const name = "fmi2GetString";
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (nvr > 0 && (!vr || !value)) return fmi2Error;
    const EvaluationLevel level = requiredLevel(vr, nvr);
    if (instance->mode == modeInstantiated) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: Not allowed before call of %s", name, "fmi2EnterInitializationMode");
        return fmi2Warning;
    }
    if (instance->computedLevel < level || (instance->mode == modeInitialization && instance->dirty)) {
        const int qiErr = evaluateModel(instance, level, nullptr, nullptr);
        if (qiErr != 0) {
            LOG_INSTANCE(instance, fmi2Error, "%s: dsblock_ failed, QiErr = %d", name, qiErr);
            return terminateOnError(instance);
        }
    }
    for (size_t i = 0; i < nvr; ++i) {
        const int kind = referenceKind(vr[i]);
        const uint32_t index = referenceIndex(vr[i]);
        const bool readable = vr[i] != kTimeReference && (kind == kindString || kind == kindStringReadOnly) &&
                              index < instance->nstr && instance->strings[index];
        if (!readable) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: cannot get #s%u#", name, vr[i]);
            return fmi2Warning;
        }
        value[i] = instance->strings[index];
        LOG_INSTANCE(instance, fmi2OK, "%s: #s%u# = %s", name, vr[i], value[i]);
    }
    return fmi2OK;
}

// ---- Writing ----

namespace {
enum class SetOutcome { stored, cannotSet, mayNotChange };
}

// Stores `v` when it differs from the stored value (NaN always differs).
static bool storeIfChanged(double* slot, double v) {
    if (*slot == v) return false;
    *slot = v;
    return true;
}

// Writes one Real, Integer or Boolean element (converted to double).
static SetOutcome setOne(ModelInstance* instance, fmi2ValueReference vr, double v, bool* changed) {
    if (vr == kTimeReference) return SetOutcome::cannotSet;
    const uint32_t index = referenceIndex(vr);
    const int kind = referenceKind(vr);
    switch (kind) {
    case kindParameter: {
        double* slot = element(instance->p, instance->np, index);
        if (!slot) return SetOutcome::cannotSet;
        if (storeIfChanged(slot, v)) {
            instance->flags[kFlagParameterCounter] += 1;
            *changed = true;
        }
        return SetOutcome::stored;
    }
    case kindState:
    case kindExtra1:
    case kindExtra2: {
        double* slot = kind == kindState    ? element(instance->x, instance->nx, index)
                       : kind == kindExtra1 ? element(instance->extraVars1, instance->nExtra1, index)
                                            : element(instance->extraVars2, instance->nExtra2, index);
        if (!slot) return SetOutcome::cannotSet;
        if (storeIfChanged(slot, v)) *changed = true;
        return SetOutcome::stored;
    }
    case kindDerivative:
    case kindOutput: {
        double* slot = kind == kindDerivative ? element(instance->xdot, instance->nx, index)
                                              : element(instance->y, instance->ny, index);
        if (!slot) return SetOutcome::cannotSet;
        if (instance->mode != modeInstantiated) return SetOutcome::mayNotChange;
        if (storeIfChanged(slot, v)) *changed = true;
        return SetOutcome::stored;
    }
    case kindInput: {
        double* slot = element(instance->u, instance->nu, index);
        if (!slot) return SetOutcome::cannotSet;
        if (storeIfChanged(slot, v)) *changed = true;
        if (instance->fmuType == fmi2CoSimulation) {
            // Input extrapolation exists only with an integrator record.
            if (instance->integrator) setInputStartValue(instance, static_cast<int>(index));
        }
        return SetOutcome::stored;
    }
    case kindAuxiliary: {
        double* slot = element(instance->w, instance->nw, index);
        if (!slot) return SetOutcome::cannotSet;
        if (!(instance->mode < 2 || instance->flags[kFlagInlineRequested] || instance->perturbByState))
            return SetOutcome::mayNotChange;
        if (storeIfChanged(slot, v)) *changed = true;
        return SetOutcome::stored;
    }
    case kindInputReadOnly:
    case kindParameterReadOnly:
        if (!readableSlot(instance, vr)) return SetOutcome::cannotSet;
        return SetOutcome::mayNotChange;
    default: return SetOutcome::cannotSet;
    }
}

// Marks the instance so that the next read evaluates the model again and, in
// Co-Simulation, the next step restarts the integrator from the change.
static void markChanged(ModelInstance* instance) {
    instance->computedLevel = 0;
    instance->dirty = 1;
    instance->linearizationDirty = 1;
    if (instance->fmuType == fmi2CoSimulation) instance->inputsChanged = 1;
}

template <typename T>
static fmi2Status setNumeric(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const T value[],
                             const NumericAccess& access) {
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (nvr == 0) return fmi2OK;
    if (!vr || !value) return fmi2Error;
    bool changed = false;
    for (size_t i = 0; i < nvr; ++i) {
        const double v = static_cast<double>(value[i]);
        const SetOutcome outcome = setOne(instance, vr[i], v, &changed);
        if (outcome != SetOutcome::stored) {
            if (outcome == SetOutcome::mayNotChange)
                LOG_INSTANCE(instance, fmi2Warning, "%s: may not change #%c%u# at this stage, setting of variable ignored",
                             access.body, access.marker, vr[i]);
            else
                LOG_INSTANCE(instance, fmi2Warning, "%s: cannot set #%c%u#  ", access.body, access.marker, vr[i]);
            // The elements before the refused one keep their new values; the
            // next read must see them.
            if (changed) markChanged(instance);
            return fmi2Warning;
        }
        LOG_INSTANCE(instance, fmi2OK, "%s: #%c%u# = %g", access.body, access.marker, vr[i], v);
    }
    if (changed) markChanged(instance);
    return fmi2OK;
}

fmi2Status fmiSetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
    return setNumeric<double>(c, vr, nvr, value, kSetReal);
}

fmi2Status fmiSetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer value[]) {
    return setNumeric<fmi2Integer>(c, vr, nvr, value, kSetInteger);
}

fmi2Status fmiSetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Boolean value[]) {
    return setNumeric<fmi2Boolean>(c, vr, nvr, value, kSetBoolean);
}

fmi2Status fmiSetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2String value[]) {
    static const char* const name = "fmi2SetString";
    ModelInstance* instance = asInstance(c);
    if (!instance) return fmi2Error;
    if (nvr > 0 && (!vr || !value)) return fmi2Error;
    bool changed = false;
    for (size_t i = 0; i < nvr; ++i) {
        const uint32_t index = referenceIndex(vr[i]);
        const bool writable = vr[i] != kTimeReference && referenceKind(vr[i]) == kindString &&
                              index < instance->nstr && instance->strings[index];
        if (!writable) {
            LOG_INSTANCE(instance, fmi2Warning, "%s: cannot set #s%u#  ", name, vr[i]);
            if (changed) markChanged(instance);
            return fmi2Warning;
        }
        const char* text = value[i] ? value[i] : "";
        char* slot = instance->strings[index];
        // A slot holds at most 500 characters and its terminator.
        const size_t length = strnlen(text, kStringSlotSize - 1);
        if (strncmp(slot, text, length) != 0 || slot[length] != '\0') changed = true;
        memmove(slot, text, length);
        slot[length] = '\0';
        slot[kStringSlotSize - 1] = '\0';
        instance->flags[kFlagParameterCounter] += 1;
        LOG_INSTANCE(instance, fmi2OK, "%s: #s%u# = %s", name, vr[i], text);
    }
    // The next read evaluates the model with the new text.
    if (changed) markChanged(instance);
    return fmi2OK;
}

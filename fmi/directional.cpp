// Directional derivatives by central differences: the known variables are
// moved one step along the seed in both directions through the ordinary
// variable access, the unknowns read at both points, and the known variables
// put back.
#include <math.h>

#include "evaluate.h"
#include "runtime.h"

static const char* const kDirectionalDerivative = "fmi2GetDirectionalDerivative";

static const double kInitialStep = 1e6;
static const double kRelativeStep = 1e-5;

static void releaseVector(ModelInstance* instance, double*& vector) {
    if (vector) instance->functions->freeMemory(vector);
    vector = nullptr;
}

// Makes the three work vectors of one family hold at least n doubles; they
// only grow. A count of 0 needs none. Returns false when memory runs out (the
// family is then left empty).
static bool reserveWorkVectors(ModelInstance* instance, uint64_t n, uint64_t* capacity, double** a, double** b,
                               double** c) {
    if (n == 0 || *capacity >= n) return true;
    releaseVector(instance, *a);
    releaseVector(instance, *b);
    releaseVector(instance, *c);
    *capacity = 0;
    const fmi2CallbackAllocateMemory allocate = instance->functions->allocateMemory;
    *a = static_cast<double*>(allocate(static_cast<size_t>(n), sizeof(double)));
    *b = static_cast<double*>(allocate(static_cast<size_t>(n), sizeof(double)));
    *c = static_cast<double*>(allocate(static_cast<size_t>(n), sizeof(double)));
    if (!*a || !*b || !*c) {
        releaseVector(instance, *a);
        releaseVector(instance, *b);
        releaseVector(instance, *c);
        return false;
    }
    *capacity = n;
    return true;
}

// The largest step that moves no known variable by more than the relative
// step factor of its own size (plus one) along its seed.
static double perturbationStep(const double* reference, const double* seed, size_t n) {
    double h = kInitialStep;
    for (size_t j = 0; j < n; ++j) {
        if (seed[j] == 0) continue; // NaN seeds are not 0 and take part
        const double candidate = (fabs(reference[j]) + 1) * kRelativeStep / fabs(seed[j]);
        // A NaN candidate, or a zero one from an infinite seed, leaves the step as it is.
        if (candidate > 0 && candidate < h) h = candidate;
    }
    return h;
}

// Puts the known variables back to their reference values. With state
// perturbation the saved state is restored instead.
static fmi2Status restoreKnown(ModelInstance* instance, const fmi2ValueReference vKnown_ref[], size_t nKnown) {
    if (instance->perturbByState && instance->perturbationState) {
        const fmi2Status status = fmiSetFMUstate(instance, instance->perturbationState);
        setStatePerturbationFlag(instance->modelData, 0);
        return status;
    }
    if (nKnown == 0) return fmi2OK;
    return fmiSetReal(instance, vKnown_ref, nKnown, instance->vRef);
}

// One evaluation of the unknowns at the perturbed values `v`.
static fmi2Status evaluatePerturbed(ModelInstance* instance, const fmi2ValueReference vKnown_ref[], size_t nKnown,
                                    const double* v, const fmi2ValueReference vUnknown_ref[], size_t nUnknown,
                                    double* z, fmi2Status* setStatus) {
    *setStatus = fmiSetReal(instance, vKnown_ref, nKnown, v);
    if (*setStatus != fmi2OK) return *setStatus;
    instance->directionalDerivativeActive = 1;
    const fmi2Status status = fmiGetReal(instance, vUnknown_ref, nUnknown, z);
    instance->directionalDerivativeActive = 0;
    return status;
}

// The numeric computation between raising and lowering the "derivative in
// progress" flag. `perturbed` tells the caller whether the known variables
// may have left their reference values.
static fmi2Status centralDifferences(ModelInstance* instance, const fmi2ValueReference vUnknown_ref[],
                                     size_t nUnknown, const fmi2ValueReference vKnown_ref[], size_t nKnown,
                                     const fmi2Real dvKnown[], fmi2Real dvUnknown[], bool* perturbed) {
    *perturbed = false;
    if (!reserveWorkVectors(instance, nKnown, &instance->vCapacity, &instance->vRef, &instance->vPlus,
                            &instance->vMinus) ||
        !reserveWorkVectors(instance, nUnknown, &instance->zCapacity, &instance->zRef, &instance->zPlus,
                            &instance->zMinus)) {
        LOG_INSTANCE(instance, fmi2Error, "%s: memory allocation failed", kDirectionalDerivative);
        return fmi2Error;
    }

    fmi2Status status = fmiGetReal(instance, vKnown_ref, nKnown, instance->vRef);
    if (status != fmi2OK) return status;
    status = fmiGetReal(instance, vUnknown_ref, nUnknown, instance->zRef);
    if (status != fmi2OK) return status;

    if (instance->perturbByState) {
        status = fmiGetFMUstate(instance, &instance->perturbationState);
        if (status != fmi2OK) return status;
        setStatePerturbationFlag(instance->modelData, 1);
        instance->computedLevel = 0;
    }

    const double h = perturbationStep(instance->vRef, dvKnown, nKnown);
    for (size_t j = 0; j < nKnown; ++j) {
        if (dvKnown[j] != 0) {
            instance->vPlus[j] = instance->vRef[j] + h * dvKnown[j];
            instance->vMinus[j] = instance->vRef[j] - h * dvKnown[j];
        } else {
            instance->vPlus[j] = instance->vRef[j];
            instance->vMinus[j] = instance->vRef[j];
        }
    }

    // From here on a failure still puts the known variables back.
    *perturbed = true;
    fmi2Status setStatus = fmi2OK;
    const fmi2Status plus =
        evaluatePerturbed(instance, vKnown_ref, nKnown, instance->vPlus, vUnknown_ref, nUnknown, instance->zPlus,
                          &setStatus);
    if (setStatus != fmi2OK) return setStatus;
    // An evaluation that ended the simulation leaves nothing to compare with.
    if (plus >= fmi2Error) return plus;
    if (instance->perturbByState) {
        status = fmiSetFMUstate(instance, instance->perturbationState);
        if (status != fmi2OK) return status;
        setStatePerturbationFlag(instance->modelData, 1);
    }

    const fmi2Status minus =
        evaluatePerturbed(instance, vKnown_ref, nKnown, instance->vMinus, vUnknown_ref, nUnknown, instance->zMinus,
                          &setStatus);
    if (setStatus != fmi2OK) return setStatus;
    if (minus >= fmi2Error) return minus;
    if (plus != fmi2OK && minus != fmi2OK) return minus;

    for (size_t i = 0; i < nUnknown; ++i) {
        if (plus == fmi2OK && minus == fmi2OK)
            dvUnknown[i] = (instance->zPlus[i] - instance->zMinus[i]) / (2 * h);
        else if (minus == fmi2OK)
            dvUnknown[i] = (instance->zRef[i] - instance->zMinus[i]) / h;
        else
            dvUnknown[i] = (instance->zPlus[i] - instance->zRef[i]) / h;
    }
    *perturbed = false;
    return restoreKnown(instance, vKnown_ref, nKnown);
}

fmi2Status fmiGetDirectionalDerivative(fmi2Component c, const fmi2ValueReference vUnknown_ref[], size_t nUnknown,
                                       const fmi2ValueReference vKnown_ref[], size_t nKnown,
                                       const fmi2Real dvKnown[], fmi2Real dvUnknown[]) {
    ModelInstance* instance = static_cast<ModelInstance*>(c);
    if (!instance) return fmi2Error;
    if ((nUnknown > 0 && (!vUnknown_ref || !dvUnknown)) || (nKnown > 0 && (!vKnown_ref || !dvKnown)))
        return fmi2Error;
    LOG_INSTANCE(instance, fmi2OK, "%s", kDirectionalDerivative);
    LOG_INSTANCE(instance, fmi2OK, "%s", kDirectionalDerivative);
    // Whatever the outcome, the host's array holds no numbers of an earlier call.
    for (size_t i = 0; i < nUnknown; ++i) dvUnknown[i] = 0;
    // After termination the model is no longer evaluated: differences of the
    // frozen values would be reported as derivatives.
    if (instance->mode == modeTerminated) {
        LOG_INSTANCE(instance, fmi2Warning, "%s: not allowed after termination", kDirectionalDerivative);
        return fmi2Warning;
    }
    // No unknowns: nothing to compute; no known variables: every derivative is 0.
    if (nUnknown == 0 || nKnown == 0) return fmi2OK;

    // The perturbations go through the ordinary set calls, which mark the
    // instance changed; once the known variables are back, the query leaves
    // no change of its own behind (in Co-Simulation it would restart the
    // integrator at the next step). In initialization mode reads are driven
    // by `dirty` alone, and the arrays now hold the perturbed results.
    const int32_t dirty = instance->dirty;
    const int32_t inputsChanged = instance->inputsChanged;

    instance->flags[kFlagDirectional] = 1;
    bool perturbed = false;
    fmi2Status status =
        centralDifferences(instance, vUnknown_ref, nUnknown, vKnown_ref, nKnown, dvKnown, dvUnknown, &perturbed);
    instance->directionalDerivativeActive = 0;
    if (perturbed) {
        // The known variables always get their reference values back; the
        // failure that stopped the computation stays the result.
        const fmi2Status restored = restoreKnown(instance, vKnown_ref, nKnown);
        if (restored > status) status = restored;
    }
    if (instance->flags) instance->flags[kFlagDirectional] = 0;
    if (status == fmi2Error) return terminateOnError(instance);
    if (status < fmi2Error) {
        if (instance->mode != modeInitialization) instance->dirty = dirty;
        instance->inputsChanged = inputsChanged;
    }
    return status;
}

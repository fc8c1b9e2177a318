// Directional derivatives by central differences: the known variables are
// moved one step along the seed in both directions through the ordinary
// variable access, the unknowns read at both points, and the instance put
// back as the query found it.
#include <math.h>

#include "evaluate.h"
#include "fmu_state.h"
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

// Puts the instance back as the query found it: the known variables, the
// values the evaluations computed, the flags and the input extrapolation,
// without touching the integrator.
static void restoreInstance(ModelInstance* instance) {
    restoreSnapshot(instance, instance->perturbationState);
    setStatePerturbationFlag(instance->modelData, 0);
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

// How far a computation came: what the caller has to put back.
enum class Stage { started, snapshotTaken, perturbed };

// The numeric computation between raising and lowering the "derivative in
// progress" flag. `stage` tells the caller whether the snapshot was taken and
// whether the known variables may have left their reference values.
static fmi2Status centralDifferences(ModelInstance* instance, const fmi2ValueReference vUnknown_ref[],
                                     size_t nUnknown, const fmi2ValueReference vKnown_ref[], size_t nKnown,
                                     const fmi2Real dvKnown[], fmi2Real dvUnknown[], Stage* stage) {
    *stage = Stage::started;
    if (!reserveWorkVectors(instance, nKnown, &instance->vCapacity, &instance->vRef, &instance->vPlus,
                            &instance->vMinus) ||
        !reserveWorkVectors(instance, nUnknown, &instance->zCapacity, &instance->zRef, &instance->zPlus,
                            &instance->zMinus)) {
        LOG_INSTANCE(instance, fmi2Error, "%s: memory allocation failed", kDirectionalDerivative);
        return fmi2Error;
    }

    // The instance as the query finds it, put back at the end (and, with
    // state perturbation, between the two evaluations). Reading the
    // reference values below may already evaluate the model.
    if (takeSnapshot(instance, &instance->perturbationState) != 0) {
        LOG_INSTANCE(instance, fmi2Error, "%s: memory allocation failed", kDirectionalDerivative);
        return fmi2Error;
    }
    *stage = Stage::snapshotTaken;

    fmi2Status status = fmiGetReal(instance, vKnown_ref, nKnown, instance->vRef);
    if (status != fmi2OK) return status;
    status = fmiGetReal(instance, vUnknown_ref, nUnknown, instance->zRef);
    if (status != fmi2OK) return status;

    if (instance->perturbByState) {
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

    *stage = Stage::perturbed;
    fmi2Status setStatus = fmi2OK;
    const fmi2Status plus =
        evaluatePerturbed(instance, vKnown_ref, nKnown, instance->vPlus, vUnknown_ref, nUnknown, instance->zPlus,
                          &setStatus);
    if (setStatus != fmi2OK) return setStatus;
    // An evaluation that ended the simulation leaves nothing to compare with.
    if (plus >= fmi2Error) return plus;
    if (instance->perturbByState) {
        restoreInstance(instance);
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
    return fmi2OK;
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

    // The perturbations go through the ordinary set and get calls, which mark
    // the instance changed and leave the perturbed results in its arrays and
    // its ModelData. The query puts back everything it found, so that it
    // changes nothing a later read, step or initialization sees: no pending
    // change, no restart of the integrator, no value of a perturbed
    // evaluation.
    instance->flags[kFlagDirectional] = 1;
    Stage stage = Stage::started;
    fmi2Status status =
        centralDifferences(instance, vUnknown_ref, nUnknown, vKnown_ref, nKnown, dvKnown, dvUnknown, &stage);
    instance->directionalDerivativeActive = 0;
    // The failure that stopped the computation stays the result. An
    // evaluation that terminated the instance leaves only the known
    // variables to put back.
    fmi2Status restored = fmi2OK;
    if (instance->mode != modeTerminated && stage != Stage::started)
        restoreInstance(instance);
    else if (stage == Stage::perturbed)
        restored = fmiSetReal(instance, vKnown_ref, nKnown, instance->vRef);
    if (restored > status) status = restored;
    if (instance->flags) instance->flags[kFlagDirectional] = 0;
    if (status == fmi2Error) return terminateOnError(instance);
    return status;
}

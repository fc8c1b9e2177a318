// The Co-Simulation integrator driver on CVODE (BDF, Newton iteration, dense
// direct solver with a difference-quotient Jacobian): creation with every
// solver setting, the callbacks CVODE calls back into the model through,
// integration to a target with root and per-step-hook events, the statistics
// printed at terminate and the release of everything.
//
// No exception and no termination of the instance may happen while CVODE
// runs: every callback catches everything, and a model failure that CVODE
// cannot recover from is only recorded in `callbackFailure`; the instance is
// terminated by the caller after CVode has returned.
#include "integrator.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <cvode/cvode.h>
#include <cvode/cvode_ls.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "evaluate.h"
#include "locale_c.h"
#include "runtime.h"

// 2^-52, 2^-51 and 2^-50.
static const double kEpsilon = 2.220446049250313e-16;
static const double kTinyStepFactor = 4.440892098500626e-16;
static const double kTimeFuzz = 8.881784197001252e-16;

static const char* const kGetDerivatives = "fmi2GetDerivatives";
static const char* const kGetEventIndicators = "fmi2GetEventIndicators";

// ---- SUNDIALS checks ----

int checkSundialsPointer(const void* value, const char* name, ModelInstance* instance) {
    if (value) return 0;
    LOG_INSTANCE(instance, fmi2Error, "SUNDIALS_ERROR: %s() failed - returned NULL pointer", name);
    return 1;
}

int checkSundialsFlag(int flag, const char* name, ModelInstance* instance) {
    if (flag >= 0) return 0;
    char* flagName = CVodeGetReturnFlagName(flag);
    LOG_INSTANCE(instance, fmi2Error, "SUNDIALS_ERROR: %s() failed with flag = %s", name,
                 flagName ? flagName : "?");
    free(flagName);
    return 1;
}

// ---- Additions to CVODE ----

// CVODE's own report for a missing memory: it has no handler to go to.
static void reportNullMemory(const char* function) {
    fprintf(stderr, "\n[CVODE ERROR]  %s\n  cvode_mem = NULL illegal.\n\n", function);
}

// The integrator record behind a CVODE memory of this library (its user data is the instance).
static IntegratorData* recordOfMemory(void* cvode_mem) {
    void* userData = nullptr;
    if (CVodeGetUserData(cvode_mem, &userData) != CV_SUCCESS || !userData) return nullptr;
    return static_cast<ModelInstance*>(userData)->integrator;
}

int CVodeStepRootInit(void* cvode_mem, StepHookFn hook) {
    if (!cvode_mem) {
        reportNullMemory("CVodeStepRootInit");
        return CV_MEM_NULL;
    }
    IntegratorData* d = recordOfMemory(cvode_mem);
    if (!d) {
        fprintf(stderr, "\n[CVODE ERROR]  CVodeStepRootInit\n  user data without an integrator record.\n\n");
        return CV_ILL_INPUT;
    }
    d->stepHook = hook;
    return CV_SUCCESS;
}

int CVodeReInitSuperLUMT(void* cvode_mem) {
    if (!cvode_mem) {
        reportNullMemory("CVodeReInitSuperLUMT");
        return CV_MEM_NULL;
    }
    IntegratorData* d = recordOfMemory(cvode_mem);
    if (d && d->linearSolverReinit) d->linearSolverReinit(cvode_mem);
    return CV_SUCCESS;
}

int cvodeStepwise(void* cvode_mem, double tout, N_Vector yout, double* tret, StepHookFn hook, void* userData,
                  long maxSteps, int32_t* stepping) {
    // With one step per call, CVode ends each call after its step either at
    // tout (interpolated, CV_SUCCESS) or, tout not yet reached, at the step's
    // end with the step-limit flag; between these calls it keeps the state in
    // which its own loop would take the next step. Root returns, failures and
    // returns without a step pass straight through.
    long steps = 0;
    for (;;) {
        long before = 0;
        long after = 0;
        CVodeGetNumSteps(cvode_mem, &before);
        *stepping = 1;
        const int flag = CVode(cvode_mem, tout, yout, tret, CV_NORMAL);
        *stepping = 0;
        CVodeGetNumSteps(cvode_mem, &after);
        const bool stepped = after > before;
        if (flag != CV_SUCCESS && flag != CV_TOO_MUCH_WORK) return flag;
        if (!stepped) return flag;
        // After a step, as CVode's loop would: the hook, then the test for tout, then the step limit.
        if (hook && hook(userData)) return CV_ROOT_RETURN;
        if (flag == CV_SUCCESS) return CV_SUCCESS;
        if (maxSteps > 0 && ++steps >= maxSteps) return CV_TOO_MUCH_WORK;
    }
}

// ---- Input extrapolation ----

void interpolateInputs(ModelInstance* instance, double t) {
    IntegratorData* d = instance->integrator;
    if (!d || !d->extrapolateInputs || !d->inputDerivatives || !d->inputStartValues) return;
    for (uint64_t i = 0; i < instance->nu; ++i)
        instance->u[i] = (t - d->inputStartTime) * d->inputDerivatives[i] + d->inputStartValues[i];
}

void recordIntegratedInputs(ModelInstance* instance) {
    IntegratorData* d = instance->integrator;
    if (!d || !d->integratedInputDerivatives || !d->integratedInputStartValues) return;
    d->integratedTime = instance->time;
    d->integratedExtrapolation = d->extrapolateInputs;
    d->integratedInputStartTime = d->inputStartTime;
    for (uint64_t i = 0; i < instance->nu; ++i) {
        d->integratedInputDerivatives[i] = d->extrapolateInputs ? d->inputDerivatives[i] : 0.0;
        d->integratedInputStartValues[i] = d->inputStartValues[i];
    }
}

void setInputStartValue(ModelInstance* instance, int index) {
    IntegratorData* d = instance->integrator;
    if (!d || !d->inputStartValues || index < 0 || static_cast<uint64_t>(index) >= instance->nu) return;
    d->inputStartValues[index] = instance->u[index];
}

// ---- Callbacks ----

namespace {

// Evaluates the model at a trial point of CVODE: the instance's states are
// CVODE's vector and its time is t for the duration, inputs extrapolated to t;
// everything is put back on every exit.
struct TrialPoint {
    ModelInstance* instance;
    double* savedStates;
    double savedTime;

    TrialPoint(ModelInstance* i, double t, N_Vector y) : instance(i), savedStates(i->x), savedTime(i->time) {
        interpolateInputs(instance, t);
        instance->x = N_VGetArrayPointer(y);
        instance->computedLevel = 0;
        instance->time = t;
    }
    ~TrialPoint() {
        interpolateInputs(instance, savedTime);
        instance->time = savedTime;
        instance->x = savedStates;
    }
    TrialPoint(const TrialPoint&) = delete;
    TrialPoint& operator=(const TrialPoint&) = delete;
};

} // namespace

// Records a failure that CVODE cannot recover from (the first one counts).
static void recordCallbackFailure(ModelInstance* instance, int code) {
    IntegratorData* d = instance->integrator;
    if (d && d->callbackFailure == 0) d->callbackFailure = code != 0 ? code : 1;
}

// The model evaluation of a callback: evaluates at `level` when the computed
// level is below it, with the failure message of the FMI call named. QiErr 1
// is a plain failure; any other failure is recorded for after CVode.
static int evaluateForIntegrator(ModelInstance* instance, EvaluationLevel level, const char* name) {
    const int qiErr = evaluateModel(instance, level, name, nullptr);
    if (qiErr != 0 && qiErr != 1) recordCallbackFailure(instance, qiErr);
    return qiErr;
}

// Right-hand side f(t, y): 0, 1 after a model failure CVODE may retry with a
// smaller step, -1 after one it cannot.
static int rhsAt(ModelInstance* instance, double t, N_Vector y, N_Vector ydot) {
    // Steps grown without limit (states near the largest double make every
    // error weight vanish) reach an infinite time, where CVODE never ends its step.
    if (!isfinite(t)) return -1;
    TrialPoint point(instance, t, y);
    if (instance->computedLevel < levelDerivatives) {
        const int qiErr = evaluateForIntegrator(instance, levelDerivatives, kGetDerivatives);
        if (qiErr != 0) return qiErr == 1 ? 1 : -1;
    }
    double* out = N_VGetArrayPointer(ydot);
    const uint64_t n = static_cast<uint64_t>(N_VGetLength_Serial(ydot));
    for (uint64_t i = 0; i < n && i < instance->nx; ++i) out[i] = instance->xdot[i];
    LOG_INSTANCE(instance, fmi2OK, "%s", kGetDerivatives);
    return 0;
}

static int integratorRhs(double t, N_Vector y, N_Vector ydot, void* userData) {
    ModelInstance* instance = static_cast<ModelInstance*>(userData);
    try {
        return rhsAt(instance, t, y, ydot);
    } catch (...) {
        recordCallbackFailure(instance, 1);
        return -1;
    }
}

static int eventIndicatorRoots(double t, N_Vector y, double* gout, void* userData) {
    ModelInstance* instance = static_cast<ModelInstance*>(userData);
    if (!isfinite(t)) return -1;
    try {
        TrialPoint point(instance, t, y);
        if (instance->computedLevel < levelEventIndicators && !instance->terminatedByModel) {
            if (evaluateForIntegrator(instance, levelEventIndicators, kGetEventIndicators) != 0) return -1;
        }
        for (uint64_t i = 0; i < instance->ni; ++i) gout[i] = instance->eventIndicators[i];
        LOG_INSTANCE(instance, fmi2OK, "%s", kGetEventIndicators);
        return 0;
    } catch (...) {
        recordCallbackFailure(instance, 1);
        return -1;
    }
}

// ewt_i = 1 / (r_i |y_i| + q_i).
static int errorWeights(N_Vector y, N_Vector ewt, void* userData) {
    ModelInstance* instance = static_cast<ModelInstance*>(userData);
    IntegratorData* d = instance ? instance->integrator : nullptr;
    if (!d || !d->absTol || !d->relTol) return -1;
    const sunindextype n = N_VGetLength(y);
    if (N_VGetLength(ewt) != n || N_VGetLength(d->relTol) != n || N_VGetLength(d->absTol) != n) return -1;
    N_VAbs(y, ewt);
    N_VProd(d->relTol, ewt, ewt);
    N_VLinearSum(1.0, d->absTol, 1.0, ewt, ewt);
    if (N_VMin(ewt) <= 0) return -1;
    N_VInv(ewt, ewt);
    return 0;
}

static int stepRootCheck(void* userData) {
    ModelInstance* instance = static_cast<ModelInstance*>(userData);
    return instance->flags[kFlagStateEvent] != 0 ? 1 : 0;
}

static void integratorErrorHandler(int errorCode, const char* module, const char* function, char* message,
                                   void* userData) {
    ModelInstance* instance = static_cast<ModelInstance*>(userData);
    if (!instance) return;
    try {
        IntegratorData* d = instance->integrator;
        // One internal step per call ends each call with the step limit: expected, not an error.
        if (d && d->singleStepping && errorCode == CV_TOO_MUCH_WORK) return;
        // A model that asked to terminate is no integrator failure.
        if (d && d->callbackFailure == -999) return;
        char* flagName = CVodeGetReturnFlagName(errorCode);
        LOG_INSTANCE(instance, fmi2Warning, "%s: %s failed with %s:\n %s", module ? module : "",
                     function ? function : "", flagName ? flagName : "?", message ? message : "");
        free(flagName);
    } catch (...) {
        // Nothing may cross CVODE; the flag CVode returns carries the failure.
    }
}

// Increments of the difference quotients: srur for the relative size, minInc for the absolute one.
static int jacobianIncrements(ModelInstance* instance, N_Vector fy, double* srur, double* minInc) {
    IntegratorData* d = instance->integrator;
    if (checkSundialsFlag(CVodeGetErrWeights(d->cvodeMem, d->errorWeightsVector), "CVodeGetErrWeights", instance))
        return 1;
    *srur = sqrt(kEpsilon);
    const double fnorm = N_VWrmsNorm(fy, d->errorWeightsVector);
    double h = 0;
    if (checkSundialsFlag(CVodeGetCurrentStep(d->cvodeMem, &h), "CVodeGetCurrentStep", instance)) return 1;
    *minInc = fnorm != 0 ? 1000 * fabs(h) * kEpsilon * static_cast<double>(instance->nx) * fnorm : 1.0;
    return 0;
}

static int denseColumns(ModelInstance* instance, double t, N_Vector y, N_Vector fy, SUNMatrix J, N_Vector tmp1,
                        N_Vector tmp2) {
    IntegratorData* d = instance->integrator;
    double srur = 0;
    double minInc = 0;
    if (jacobianIncrements(instance, fy, &srur, &minInc)) return 1;
    double* ydata = N_VGetArrayPointer(y);
    const double* ewt = N_VGetArrayPointer(d->errorWeightsVector);
    const sunindextype n = SUNDenseMatrix_Columns(J);
    for (sunindextype j = 0; j < n; ++j) {
        N_VSetArrayPointer(SUNDenseMatrix_Column(J, j), tmp2);
        const double yj = ydata[j];
        double inc = srur * fabs(yj);
        if (minInc / ewt[j] >= inc) inc = minInc / ewt[j];
        if (yj < 0) inc = -inc;
        int rhs = 1;
        for (int attempt = 0; attempt < 5 && rhs != 0; ++attempt) {
            ydata[j] = yj + inc;
            inc = ydata[j] - yj;
            rhs = rhsAt(instance, t, y, tmp1);
            if (rhs < 0) {
                ydata[j] = yj;
                return -1;
            }
            if (rhs != 0) inc = inc / -5;
        }
        ydata[j] = yj;
        if (rhs != 0) return 1;
        N_VLinearSum(1.0 / inc, tmp1, -1.0 / inc, fy, tmp2);
    }
    return 0;
}

static int denseJacobianFn(double t, N_Vector y, N_Vector fy, SUNMatrix J, void* userData, N_Vector tmp1,
                           N_Vector tmp2, N_Vector tmp3) {
    (void)tmp3;
    ModelInstance* instance = static_cast<ModelInstance*>(userData);
    double* ownData = N_VGetArrayPointer(tmp2);
    int result = -1;
    instance->flags[kFlagDirectional] = 1;
    try {
        result = denseColumns(instance, t, y, fy, J, tmp1, tmp2);
    } catch (...) {
        recordCallbackFailure(instance, 1);
        result = -1;
    }
    instance->flags[kFlagDirectional] = 0;
    N_VSetArrayPointer(ownData, tmp2);
    return result;
}

// ---- Creation and release ----

template <typename T>
static T* allocateFromHost(ModelInstance* instance, uint64_t n) {
    return static_cast<T*>(instance->functions->allocateMemory(static_cast<size_t>(n), sizeof(T)));
}

static void destroyVector(N_Vector& v) {
    if (v) N_VDestroy(v);
    v = nullptr;
}

void freeIntegratorRecord(ModelInstance* owner, ModelInstance* holder) {
    if (!holder || !holder->integrator) return;
    IntegratorData* d = holder->integrator;
    if (d->cvodeMem) CVodeFree(&d->cvodeMem);
    d->cvodeMem = nullptr;
    destroyVector(d->stateVector);
    destroyVector(d->absTol);
    destroyVector(d->relTol);
    destroyVector(d->errorWeightsVector);
    destroyVector(d->jacWork1);
    destroyVector(d->jacWork2);
    if (d->linearSolver) SUNLinSolFree(d->linearSolver);
    d->linearSolver = nullptr;
    if (d->jacobianMatrix) SUNMatDestroy(d->jacobianMatrix);
    d->jacobianMatrix = nullptr;
    fmi2CallbackFreeMemory freeMemory = owner->functions->freeMemory;
    if (d->colPointers) freeMemory(d->colPointers);
    if (d->slotMap) freeMemory(d->slotMap);
    d->colPointers = nullptr;
    d->slotMap = nullptr;
    d->nonZeros = 0;
    d->patternTables = 0;
    if (d->previousOutputs) freeMemory(d->previousOutputs);
    if (d->inputDerivatives) freeMemory(d->inputDerivatives);
    if (d->inputStartValues) freeMemory(d->inputStartValues);
    if (d->integratedInputDerivatives) freeMemory(d->integratedInputDerivatives);
    if (d->integratedInputStartValues) freeMemory(d->integratedInputStartValues);
    freeMemory(d);
    holder->integrator = nullptr;
}

void freeIntegratorData(ModelInstance* instance) {
    if (!instance) return;
    freeIntegratorRecord(instance, instance);
    if (instance->sunContext) {
        SUNContext context = static_cast<SUNContext>(instance->sunContext);
        SUNContext_Free(&context);
        instance->sunContext = nullptr;
    }
}

// The number of Jacobian non-zeros of the sparse path: the model asks for it
// through its capability 1, and neither model does; without a sparse solver
// the dense solver is always used.
static int countJacobianNonzeros(IntegratorData* d) {
    d->coresRequested = modelCapability(1);
    return 0;
}

static SUNContext contextOf(ModelInstance* instance) {
    if (!instance->sunContext) {
        SUNContext context = nullptr;
        if (SUNContext_Create(nullptr, &context) != 0) context = nullptr;
        instance->sunContext = context;
    }
    return static_cast<SUNContext>(instance->sunContext);
}

// Steps 3 to 17 of the creation; returns 0, or 1 with `*memory` holding the
// CVODE memory when it was not stored in the record yet.
static int buildIntegrator(ModelInstance* instance, IntegratorData* d, double rtol, void** memory) {
    const sunindextype nx = static_cast<sunindextype>(instance->nx);
    SUNContext context = contextOf(instance);
    if (checkSundialsPointer(context, "SUNContext_Create", instance)) return 1;

    d->stateVector = N_VMake_Serial(nx, instance->x, context);
    if (checkSundialsPointer(d->stateVector, "N_VMake_Serial", instance)) return 1;
    void* mem = CVodeCreate(CV_BDF, context);
    if (checkSundialsPointer(mem, "CVodeCreate", instance)) return 1;
    *memory = mem;
    if (checkSundialsFlag(CVodeInit(mem, integratorRhs, instance->time, d->stateVector), "CVodeInit", instance))
        return 1;
    if (checkSundialsFlag(CVodeSetUserData(mem, instance), "CVodeSetUserData", instance)) return 1;

    d->absTol = N_VNew_Serial(nx, context);
    if (checkSundialsPointer(d->absTol, "N_VNew_Serial", instance)) return 1;
    d->relTol = N_VNew_Serial(nx, context);
    if (checkSundialsPointer(d->relTol, "N_VNew_Serial", instance)) return 1;
    double* q = N_VGetArrayPointer(d->absTol);
    double* r = N_VGetArrayPointer(d->relTol);
    for (sunindextype i = 0; i < nx; ++i) {
        const double m = instance->nominals[i];
        // A negative nominal switches the relative tolerance of its state off.
        q[i] = m >= 0 ? m * rtol : -m * rtol;
        r[i] = m >= 0 ? rtol : 0.0;
    }

    if (checkSundialsFlag(CVodeWFtolerances(mem, errorWeights), "CVodeWFtolerances", instance)) return 1;
    if (checkSundialsFlag(CVodeSetNonlinConvCoef(mem, 0.1), "CVodeSetNonlinConvCoef", instance)) return 1;
    if (checkSundialsFlag(CVodeRootInit(mem, static_cast<int>(instance->ni), eventIndicatorRoots), "CVodeRootInit",
                          instance))
        return 1;
    if (checkSundialsFlag(CVodeStepRootInit(mem, stepRootCheck), "CVodeStepRootInit", instance)) return 1;

    d->jacobianGroupCount = 0;
    if (countJacobianNonzeros(d) > 0) return 1; // no sparse solver to attach
    d->sparseSetupPending = 0;
    d->nonZeros = 0;
    d->jacobianMatrix = SUNDenseMatrix(nx, nx, context);
    if (checkSundialsPointer(d->jacobianMatrix, "SUNDenseMatrix", instance)) return 1;
    d->linearSolver = SUNLinSol_Dense(d->stateVector, d->jacobianMatrix, context);
    if (checkSundialsPointer(d->linearSolver, "SUNLinSol_Dense", instance)) return 1;
    if (checkSundialsFlag(CVodeSetLinearSolver(mem, d->linearSolver, d->jacobianMatrix), "CVodeSetLinearSolver",
                          instance))
        return 1;
    if (checkSundialsFlag(CVodeSetJacFn(mem, denseJacobianFn), "CVodeSetJacFn", instance)) return 1;

    // One internal step per CVode call, so that the per-step hook can end an
    // integration after any step; the step limit of one integration
    // (kIntegratorMaxSteps) is kept by cvodeStepwise.
    if (checkSundialsFlag(CVodeSetMaxNumSteps(mem, 1), "CVodeSetMaxNumSteps", instance)) return 1;
    if (checkSundialsFlag(CVodeSetMaxNonlinIters(mem, 3), "CVodeSetMaxNonlinIters", instance)) return 1;
    if (checkSundialsFlag(CVodeSetMaxErrTestFails(mem, 15), "CVodeSetMaxErrTestFails", instance)) return 1;

    d->jacWork1 = N_VNew_Serial(nx, context);
    if (checkSundialsPointer(d->jacWork1, "N_VNew_Serial", instance)) return 1;
    d->jacWork2 = N_VNew_Serial(nx, context);
    if (checkSundialsPointer(d->jacWork2, "N_VNew_Serial", instance)) return 1;
    N_VConst(0.0, d->jacWork1);
    N_VConst(0.0, d->jacWork2);
    d->cvodeMem = mem;
    *memory = nullptr;

    d->errorWeightsVector = N_VNew_Serial(nx, context);
    if (checkSundialsPointer(d->errorWeightsVector, "N_VNew_Serial", instance)) return 1;
    N_VConst(0.0, d->errorWeightsVector);
    if (checkSundialsFlag(CVodeSetErrHandlerFn(mem, integratorErrorHandler, instance), "CVodeSetErrHandlerFn",
                          instance))
        return 1;

    instance->flags[kFlagHeldArg] = 0;
    d->inputDerivatives = allocateFromHost<double>(instance, instance->nu + 1);
    d->inputStartValues = allocateFromHost<double>(instance, instance->nu + 1);
    d->previousOutputs = allocateFromHost<double>(instance, instance->ny + 1);
    d->integratedInputDerivatives = allocateFromHost<double>(instance, instance->nu + 1);
    d->integratedInputStartValues = allocateFromHost<double>(instance, instance->nu + 1);
    if (!d->inputDerivatives || !d->inputStartValues || !d->previousOutputs || !d->integratedInputDerivatives ||
        !d->integratedInputStartValues)
        return 1;
    return 0;
}

int createIntegrator(ModelInstance* instance, double tolerance) {
    if (instance->nx == 0) {
        // One dummy state (its array has room from instantiation) keeps CVODE
        // usable; the instance reports it from now on.
        instance->nx = 1;
        instance->x[0] = 0;
        instance->nominals[0] = 1.0;
    }
    const double rtol = tolerance > 0 ? tolerance : 1e-5;
    IntegratorData* d = allocateFromHost<IntegratorData>(instance, 1);
    if (!d) {
        LOG_INSTANCE(instance, fmi2Error, "memory allocation failed");
        return 1;
    }
    memset(d, 0, sizeof *d);
    instance->integrator = d;

    void* memory = nullptr;
    if (buildIntegrator(instance, d, rtol, &memory) != 0) {
        if (memory) CVodeFree(&memory);
        // Prints only once the CVODE memory was stored; releases everything.
        printIntegratorStatistics(instance);
        freeIntegratorRecord(instance, instance);
        return 1;
    }
    d->extrapolateInputs = 0;
    recordIntegratedInputs(instance);
    // Until the first step the derivative estimate starts from the start time and outputs.
    for (uint64_t i = 0; i < instance->ny; ++i) d->previousOutputs[i] = instance->y[i];
    d->previousOutputsTime = instance->time;
    d->rhsEvaluations = 0;
    d->rejectedExternalSteps = 0;
    d->rejectedInternalSteps = 0;
    d->rejectedRhsEvaluations = 0;
    d->rejectedJacobianEvaluations = 0;
    d->cpuSeconds = static_cast<double>(clock());
    return 0;
}

int setupSparseSolver(ModelInstance* instance) {
    IntegratorData* d = instance->integrator;
    if (checkSundialsFlag(CVSuperLUMT(d->cvodeMem, d->solverCores, static_cast<int>(instance->nx), d->nonZeros),
                          "CVSuperLUMT", instance))
        return 1;
    if (checkSundialsFlag(CVSlsSetSparseJacFn(d->cvodeMem, nullptr), "CVSlsSetSparseJacFn", instance)) return 1;
    d->sparseSetupPending = 0;
    return 0;
}

// ---- Counters and statistics ----

static void addCount(ModelInstance* instance, int flag, long value, const char* name, long* total) {
    *total += checkSundialsFlag(flag, name, instance) ? -1 : value;
}

void accumulateIntegratorCounters(ModelInstance* instance, IntegratorData* counters) {
    IntegratorData* d = instance->integrator;
    if (!d || !d->cvodeMem || !counters) return;
    void* mem = d->cvodeMem;
    long value = 0;
    int flag = CVodeGetNumRhsEvals(mem, &value);
    addCount(instance, flag, value, "CVodeGetNumRhsEvals", &counters->rhsEvaluations);
    value = 0;
    flag = CVodeGetNumNonlinSolvIters(mem, &value);
    addCount(instance, flag, value, "CVodeGetNumNonlinSolvIters", &counters->nonlinearIterations);
    value = 0;
    flag = CVodeGetNumStepSolveFails(mem, &value);
    addCount(instance, flag, value, "CVodeGetNumStepSolveFails", &counters->convergenceFailures);
    value = 0;
    flag = CVodeGetNumGEvals(mem, &value);
    addCount(instance, flag, value, "CVodeGetNumGEvals", &counters->rootEvaluations);
    if (d->nonZeros == 0) {
        value = 0;
        flag = CVodeGetNumJacEvals(mem, &value);
        addCount(instance, flag, value, "CVodeGetNumJacEvals", &counters->jacobianEvaluations);
    } else if (!d->sparseSetupPending) {
        value = 0;
        flag = CVSlsGetNumJacEvals(mem, &value);
        addCount(instance, flag, value, "CVSlsGetNumJacEvals", &counters->jacobianEvaluations);
    }
    value = 0;
    flag = CVodeGetNumSteps(mem, &value);
    addCount(instance, flag, value, "CVodeGetNumSteps", &counters->internalSteps);
}

void printIntegratorStatistics(ModelInstance* instance) {
    if (!instance || !instance->integrator) return;
    IntegratorData* d = instance->integrator;
    if (d->cvodeMem) {
        d->cpuSeconds = (static_cast<double>(clock()) - d->cpuSeconds) / CLOCKS_PER_SEC;
        accumulateIntegratorCounters(instance, d);
        double factor = -1.0;
        if (checkSundialsFlag(CVodeGetTolScaleFactor(d->cvodeMem, &factor), "CVodeGetTolScaleFactor", instance))
            factor = -1.0;
        LOG_INSTANCE(instance, fmi2OK,
                     "Sundials CVode Statistics\n"
                     "    Stop time                                : %.2f s\n"
                     "    Simulation time                          : %.2f s\n"
                     "    Number of external steps                 : %ld\n"
                     "    Number of internal steps                 : %ld\n"
                     "    Number of non-linear iterations          : %ld\n"
                     "    Number of non-linear convergence failures: %ld\n"
                     "    Number of f function evaluations         : %ld\n"
                     "    Number of g function evaluations         : %ld\n"
                     "    Number of Jacobian-evaluations (direct)  : %ld\n"
                     "    Suggested tolerance scale factor         : %.1f\n"
                     "    Grouping used                            : %s\n",
                     instance->time, d->cpuSeconds, d->externalSteps, d->internalSteps, d->nonlinearIterations,
                     d->convergenceFailures, d->rhsEvaluations, d->rootEvaluations, d->jacobianEvaluations, factor,
                     d->jacobianGroupCount > 0 ? "yes" : "no");
        // The seconds estimated for the discarded evaluations, at the mean cost of one evaluation.
        const double rejectedSeconds =
            d->rhsEvaluations > 0
                ? d->cpuSeconds * static_cast<double>(d->rejectedRhsEvaluations) / static_cast<double>(d->rhsEvaluations)
                : 0.0;
        LOG_INSTANCE(instance, fmi2OK,
                     "Rejected count\n"
                     "    Number of external steps                 : %ld\n"
                     "    Number of internal steps                 : %ld\n"
                     "    Number of f function evaluations         : %ld (%.2f s)\n"
                     "    Number of Jac function evaluations       : %ld\n",
                     d->rejectedExternalSteps, d->rejectedInternalSteps, d->rejectedRhsEvaluations, rejectedSeconds,
                     d->rejectedJacobianEvaluations);
    }
    freeIntegratorRecord(instance, instance);
}

// ---- Re-initialisation ----

int reinitIntegrator(ModelInstance* instance, int accumulate) {
    IntegratorData* d = instance->integrator;
    if (!d || !d->cvodeMem) {
        LOG_INSTANCE(instance, fmi2Error, "SUNDIALS_ERROR: %s() failed - returned NULL pointer", "CVodeReInit");
        return 1;
    }
    if (accumulate) accumulateIntegratorCounters(instance, d);
    const int flag = CVodeReInit(d->cvodeMem, instance->time, d->stateVector);
    if (d->nonZeros != 0) CVodeReInitSuperLUMT(d->cvodeMem);
    if (checkSundialsFlag(flag, "CVodeReInit", instance)) return 1;
    // Without a history CVODE integrates from here whatever is in force now.
    recordIntegratedInputs(instance);
    return 0;
}

int reinitializeIntegrator(ModelInstance* instance) {
    IntegratorData* d = instance->integrator;
    if (!d || !d->cvodeMem) return 0;
    // An initial step set for a too-close target belongs to the run it was set in.
    if (d->initialStepSet) {
        CVodeSetInitStep(d->cvodeMem, 0.0);
        d->initialStepSet = 0;
    }
    d->singleStepping = 0;
    d->callbackFailure = 0;
    return reinitIntegrator(instance, 0);
}

// ---- Integration to a target ----

// The CVODE report for an integration that reached its step limit.
static void reportStepLimit(ModelInstance* instance, double t) {
    char message[256];
    snprintf_C(message, sizeof message, "At t = %g, mxstep steps taken before reaching tout.", t);
    IntegratorData* d = instance->integrator;
    const int32_t stepping = d->singleStepping;
    d->singleStepping = 0;
    integratorErrorHandler(CV_TOO_MUCH_WORK, "CVODE", "CVode", message, instance);
    d->singleStepping = stepping;
}

// The event found by CVODE (a root or the per-step hook) at tret. 0 go on
// integrating; 1 failure (the record may be gone); 2 the model asked to terminate.
static int handleRootEvent(ModelInstance* instance, double tret) {
    IntegratorData* d = instance->integrator;
    instance->endOfStepEvent = 0;
    // The inputs keep their values at the event for the rest of the step.
    interpolateInputs(instance, tret);
    d->extrapolateInputs = 0;
    fmiSetTime(instance, tret);
    if (instance->resultGeneration == 1) sampleResult(instance, 1);
    int terminated = 0;
    if (eventUpdate(instance, &terminated) != fmi2OK) return 1;
    if (instance->resultGeneration == 1) sampleResult(instance, 1);
    if (terminated) return 2;
    if (instance->endOfStepEvent) return 0;
    return reinitIntegrator(instance, 1);
}

int integration_step(ModelInstance* instance, double tout) {
    IntegratorData* d = instance->integrator;
    if (!d || !d->cvodeMem) {
        LOG_INSTANCE(instance, fmi2Error, "SUNDIALS_ERROR: %s() failed - returned NULL pointer", "CVode");
        return 1;
    }
    double tret = instance->time;
    int tooCloseRetries = 0;
    long events = 0;
    for (;;) {
        // A model that fails here would fail in CVODE's first call too; one
        // that asks to terminate is done.
        const int qiErr = evaluateModel(instance, levelOutputs, "fetching current output", nullptr);
        if (qiErr == -999) return 2;
        if (qiErr != 0) return 1;
        for (uint64_t i = 0; i < instance->ny; ++i) d->previousOutputs[i] = instance->y[i];
        d->previousOutputsTime = instance->time;
        d->callbackFailure = 0;
        const int flag =
            cvodeStepwise(d->cvodeMem, tout, d->stateVector, &tret, d->stepHook, instance, kIntegratorMaxSteps,
                          &d->singleStepping);
        if (d->initialStepSet) {
            // The initial step of a too-close target served this run only.
            CVodeSetInitStep(d->cvodeMem, 0.0);
            d->initialStepSet = 0;
        }
        if (d->callbackFailure == -999) return 2;

        if (flag == CV_TOO_CLOSE) {
            if (++tooCloseRetries > kIntegratorMaxTooCloseRetries) {
                LOG_INSTANCE(instance, fmi2Error, "integration_step: target %.16e stays too close to t = %.16e", tout,
                             instance->time);
                return 1;
            }
            double h = 0;
            if (checkSundialsFlag(CVodeGetCurrentStep(d->cvodeMem, &h), "CVodeGetCurrentStep", instance)) return 1;
            if (h == 0) h = (fmax(fabs(tout), fabs(instance->time)) + 1) * kTinyStepFactor;
            LOG_INSTANCE(instance, fmi2OK,
                         "Internal step too small at t = %f, setting initial step size explicitly to %.16e",
                         instance->time, h);
            if (checkSundialsFlag(CVodeSetInitStep(d->cvodeMem, h), "CVodeSetInitStep", instance)) return 1;
            d->initialStepSet = 1;
            continue;
        }
        if (flag == CV_SUCCESS && d->callbackFailure == 0) {
            if (fabs(tret) - fabs(tout) > (fabs(instance->time) + 1) * kTimeFuzz) {
                LOG_INSTANCE(instance, fmi2Error, "Internal step error: tret = %.16e  !=  tout = %.16e", tret, tout);
                return 1;
            }
            d->externalSteps += 1;
            return 0;
        }
        if (flag == CV_ROOT_RETURN && d->callbackFailure == 0) {
            if (++events > kIntegratorMaxEvents) {
                LOG_INSTANCE(instance, fmi2Error, "integration_step: more than %d events before reaching %.16e at t = %.16e",
                             static_cast<int>(kIntegratorMaxEvents), tout, tret);
                return 1;
            }
            tooCloseRetries = 0;
            const int r = handleRootEvent(instance, tret);
            if (r != 0) return r;
            continue;
        }
        if (flag == CV_TOO_MUCH_WORK) {
            double t = tret;
            CVodeGetCurrentTime(d->cvodeMem, &t);
            reportStepLimit(instance, t);
        }
        checkSundialsFlag(flag < 0 ? flag : CV_UNRECOGNIZED_ERR, "CVode", instance);
        return 1;
    }
}

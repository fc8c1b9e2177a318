// The Co-Simulation integrator: the CVODE record of an instance, its creation,
// one integration to a target time with event handling, re-initialisation,
// statistics and release, and the per-step hook that lets the model stop the
// integration after any internal step.
#pragma once

#include <stdint.h>

#include <nvector/nvector_serial.h>
#include <sundials/sundials_linearsolver.h>
#include <sundials/sundials_matrix.h>

#include "instance.h"

// The per-step hook: non-zero asks the integrator to stop after the current internal step.
typedef int (*StepHookFn)(void* userData);
// Re-initialisation of an attached linear solver after CVodeReInit (result ignored).
typedef int (*LinearSolverReinitFn)(void* cvodeMemory);

// Internal steps one integration to a target may take before it fails.
enum { kIntegratorMaxSteps = 100000 };
// Retries of a target too close to the current time: the first retry sets
// the initial step, so a second one already means CVODE cannot start.
enum { kIntegratorMaxTooCloseRetries = 3 };
// State events and per-step-hook stops of one integration to a target; each
// restarts the integrator with a fresh step budget. A model whose indicators
// chatter would otherwise restart it without end.
enum { kIntegratorMaxEvents = 100000 };

// One record per Co-Simulation instance (its `integrator`), from the host's
// allocator. It is a plain record:
// - the SUNDIALS objects (the vectors, the matrix, the linear solver and the
//   CVODE memory) belong to the instance that created them; a copy kept by an
//   FMU state must hold NULL in each of them;
// - `inputDerivatives`, `inputStartValues`, `integratedInputDerivatives`,
//   `integratedInputStartValues` (nu + 1 doubles) and `previousOutputs`
//   (ny + 1 doubles) come from the owner's allocateMemory (a copy kept by an
//   FMU state has no integrated-input arrays);
// - everything else is plain values.
// `stateVector` wraps the instance's state array `x` without owning it, so a
// restore must copy states into the existing array (keeping `nx`), and then
// call reinitializeIntegrator.
struct IntegratorData {
    N_Vector stateVector;
    void* cvodeMem;
    N_Vector absTol;
    N_Vector relTol;
    N_Vector errorWeightsVector;
    N_Vector jacWork1;
    N_Vector jacWork2;
    // Sparse path: never switched on (no sparse solver), always NULL and 0.
    int32_t* colPointers;
    int32_t* slotMap;
    int32_t nonZeros;
    int32_t patternTables;
    int32_t solverCores;
    int32_t sparseSetupPending;
    int32_t coresRequested;
    // Count of the model's Jacobian column groups, taken at creation; the
    // models carry no group table, so it is 0 and the Jacobian is built
    // column by column.
    int32_t jacobianGroupCount;

    // Input extrapolation during a step and the outputs for the derivative estimate.
    double inputStartTime;
    double* inputDerivatives;
    double* inputStartValues;
    int32_t extrapolateInputs;
    double* previousOutputs;
    double previousOutputsTime;

    // What CVODE integrated up to where it stands, which its history reaches
    // past: the time it stands at (the end of the last step, or its last
    // restart) and the input extrapolation in force up to there
    // (`integratedExtrapolation` 0: the inputs were held, slope 0). Compared
    // with what the next step would integrate (integrandChange).
    double integratedTime;
    double integratedInputStartTime;
    double* integratedInputDerivatives;
    double* integratedInputStartValues;
    int32_t integratedExtrapolation;

    // Totals over all integrator runs (CVODE's own counters restart at every re-initialisation).
    long externalSteps;
    long internalSteps;
    long rhsEvaluations;
    long nonlinearIterations;
    long convergenceFailures;
    long rootEvaluations;
    long jacobianEvaluations;
    // Processor clock at creation; the elapsed seconds once the statistics are printed.
    double cpuSeconds;
    long rejectedExternalSteps;
    long rejectedInternalSteps;
    long rejectedRhsEvaluations;
    long rejectedJacobianEvaluations;

    // Dense linear solver objects.
    SUNMatrix jacobianMatrix;
    SUNLinearSolver linearSolver;
    // Additions to CVODE: the per-step hook and the linear-solver re-init entry.
    StepHookFn stepHook;
    LinearSolverReinitFn linearSolverReinit;
    // 1 while CVODE runs one internal step at a time (its step-limit report is expected then).
    int32_t singleStepping;
    // Set by a callback whose model evaluation failed in a way CVODE cannot
    // recover from (the QiErr, or 1 for an exception): the instance is
    // terminated only after CVODE has returned.
    int32_t callbackFailure;
    // 1 while an initial step size set for a too-close target is in force.
    int32_t initialStepSet;
};

extern "C" {

// ---- Creation, integration and release ----

// Builds the integrator of a Co-Simulation instance at its current time and
// states (a model without states gets one dummy state). 0, or 1 after a
// logged failure with nothing left allocated.
int createIntegrator(ModelInstance* instance, double tolerance);
// Integrates to tout, handling the events found on the way. 0 reached; 1
// failed (reported; the instance may already be terminated); 2 the model
// asked to terminate.
int integration_step(ModelInstance* instance, double tout);
// Restarts CVODE at the instance's time and states; with `accumulate` the
// counters of the ending run are added to the totals first. 0 or 1 (logged).
int reinitIntegrator(ModelInstance* instance, int accumulate);
// After the instance's states, time and integrator record were restored (FMU
// state): restarts CVODE there without counting the discarded run. 0 on
// success or when the instance has no CVODE memory; 1 after a logged failure.
int reinitializeIntegrator(ModelInstance* instance);
// Adds CVODE's counts since the last (re-)initialisation of the instance's
// integrator to the totals in `counters` (the instance's record or a copy).
void accumulateIntegratorCounters(ModelInstance* instance, IntegratorData* counters);
// Logs the integrator statistics and releases the integrator record.
void printIntegratorStatistics(ModelInstance* instance);
// Releases the integrator record held by `holder` (the instance or an FMU
// state) through the owner's freeMemory; `holder->integrator` becomes NULL.
void freeIntegratorRecord(ModelInstance* owner, ModelInstance* holder);
// Attaches the sparse solver at the first step (the sparse path only).
int setupSparseSolver(ModelInstance* instance);

// ---- Input extrapolation and the derivative estimate ----

// Writes the extrapolated inputs at time t into u while extrapolation is on.
void interpolateInputs(ModelInstance* instance, double t);
// Records the instance's time and input extrapolation as what CVODE has
// integrated up to now: after a restart there, and at the end of a step.
void recordIntegratedInputs(ModelInstance* instance);
// The start value of input `index` for input extrapolation follows u[index].
void setInputStartValue(ModelInstance* instance, int index);

// ---- SUNDIALS checks ----

// 1 (and an Error logged) when a SUNDIALS call returned a NULL pointer.
int checkSundialsPointer(const void* value, const char* name, ModelInstance* instance);
// 1 (and an Error with the flag's name logged) when a SUNDIALS call returned a negative flag.
int checkSundialsFlag(int flag, const char* name, ModelInstance* instance);

// ---- Additions to CVODE ----

// Stores the per-step hook of a CVODE memory whose user data is a
// ModelInstance with an integrator record (NULL removes it). CV_SUCCESS, or
// CV_MEM_NULL / CV_ILL_INPUT after a report.
int CVodeStepRootInit(void* cvode_mem, StepHookFn hook);
// Calls the linear-solver re-init entry when one is set. CV_SUCCESS, or CV_MEM_NULL.
int CVodeReInitSuperLUMT(void* cvode_mem);
// CVode in CV_NORMAL mode that also stops after any internal step for which
// hook(userData) is non-zero: then the result is CV_ROOT_RETURN at the end of
// that step, or at tout with the solution there when the step passed tout.
// The memory must be set to one step per CVode call (CVodeSetMaxNumSteps 1):
// each step is taken by a call of its own, and `*stepping` is 1 during each
// call so that an error handler can drop the step-limit report that ends it.
// With a hook that never fires the integration is exactly that of CVode in
// CV_NORMAL mode; after maxSteps steps without reaching tout the result is
// CV_TOO_MUCH_WORK at the current internal time.
int cvodeStepwise(void* cvode_mem, double tout, N_Vector yout, double* tret, StepHookFn hook, void* userData,
                  long maxSteps, int32_t* stepping);

} // extern "C"

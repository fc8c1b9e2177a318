// The per-step hook on plain CVODE: stepping one internal step per call gives
// exactly the integration of CVode in CV_NORMAL mode while the hook stays
// quiet, and stops after the step in which it fires, at the step's end or at
// tout when that step passed it.
#include <gtest/gtest.h>
#include <math.h>

#include <string>
#include <vector>

#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "integrator.h"

namespace {

// y0' = y1, y1' = -4 y0 + 0.3 y1 (a growing oscillation); root at y0 = 0.
int rhs(double, N_Vector y, N_Vector ydot, void*) {
    const double* v = N_VGetArrayPointer(y);
    double* d = N_VGetArrayPointer(ydot);
    d[0] = v[1];
    d[1] = -4 * v[0] + 0.3 * v[1];
    return 0;
}

int roots(double, N_Vector y, double* g, void*) {
    g[0] = N_VGetArrayPointer(y)[0];
    return 0;
}

struct ErrorLog {
    int32_t stepping = 0;
    std::vector<std::string> messages;
};

void recordErrors(int code, const char*, const char* function, char* message, void* data) {
    ErrorLog* log = static_cast<ErrorLog*>(data);
    if (log->stepping && code == CV_TOO_MUCH_WORK) return;
    log->messages.push_back(std::string(function) + ": " + message);
}

// One CVODE problem with everything it owns.
struct Problem {
    SUNContext context = nullptr;
    N_Vector y = nullptr;
    SUNMatrix matrix = nullptr;
    SUNLinearSolver solver = nullptr;
    void* mem = nullptr;
    ErrorLog errors;

    explicit Problem(long maxSteps) {
        EXPECT_EQ(SUNContext_Create(nullptr, &context), 0);
        y = N_VNew_Serial(2, context);
        N_VGetArrayPointer(y)[0] = 1;
        N_VGetArrayPointer(y)[1] = 0;
        mem = CVodeCreate(CV_BDF, context);
        EXPECT_EQ(CVodeInit(mem, rhs, 0.0, y), CV_SUCCESS);
        EXPECT_EQ(CVodeSStolerances(mem, 1e-8, 1e-10), CV_SUCCESS);
        EXPECT_EQ(CVodeRootInit(mem, 1, roots), CV_SUCCESS);
        matrix = SUNDenseMatrix(2, 2, context);
        solver = SUNLinSol_Dense(y, matrix, context);
        EXPECT_EQ(CVodeSetLinearSolver(mem, solver, matrix), CV_SUCCESS);
        EXPECT_EQ(CVodeSetMaxNumSteps(mem, maxSteps), CV_SUCCESS);
        EXPECT_EQ(CVodeSetErrHandlerFn(mem, recordErrors, &errors), CV_SUCCESS);
    }
    ~Problem() {
        CVodeFree(&mem);
        SUNLinSolFree(solver);
        SUNMatDestroy(matrix);
        N_VDestroy(y);
        SUNContext_Free(&context);
    }
    Problem(const Problem&) = delete;
    Problem& operator=(const Problem&) = delete;

    long count(int (*getter)(void*, long*)) const {
        long n = -1;
        getter(mem, &n);
        return n;
    }
};

struct HookState {
    long calls = 0;
    long fireAtCall = -1; // 1-based call that returns non-zero; -1 never
};

int countingHook(void* data) {
    HookState* s = static_cast<HookState*>(data);
    s->calls += 1;
    return s->calls == s->fireAtCall ? 1 : 0;
}

TEST(StepHook, QuietHookIntegratesExactlyLikeCvodeNormal) {
    Problem plain(100000);
    Problem stepped(1);
    HookState hook;
    double tout = 0.05;
    int roots = 0;
    for (int call = 0; call < 200 && tout < 12; ++call) {
        double t1 = 0;
        double t2 = 0;
        const int f1 = CVode(plain.mem, tout, plain.y, &t1, CV_NORMAL);
        const int f2 = cvodeStepwise(stepped.mem, tout, stepped.y, &t2, countingHook, &hook, 100000,
                                     &stepped.errors.stepping);
        ASSERT_EQ(f1, f2) << "call " << call;
        ASSERT_EQ(t1, t2) << "call " << call;
        ASSERT_EQ(N_VGetArrayPointer(plain.y)[0], N_VGetArrayPointer(stepped.y)[0]) << "call " << call;
        ASSERT_EQ(N_VGetArrayPointer(plain.y)[1], N_VGetArrayPointer(stepped.y)[1]) << "call " << call;
        if (f1 == CV_ROOT_RETURN) {
            roots += 1;
        } else {
            ASSERT_EQ(f1, CV_SUCCESS);
            tout += 0.37;
        }
    }
    EXPECT_GT(roots, 5);
    // The same work; the hook asked once per internal step that did not end at a root.
    EXPECT_EQ(plain.count(CVodeGetNumSteps), stepped.count(CVodeGetNumSteps));
    EXPECT_EQ(plain.count(CVodeGetNumRhsEvals), stepped.count(CVodeGetNumRhsEvals));
    EXPECT_EQ(plain.count(CVodeGetNumGEvals), stepped.count(CVodeGetNumGEvals));
    EXPECT_EQ(plain.count(CVodeGetNumErrTestFails), stepped.count(CVodeGetNumErrTestFails));
    EXPECT_LE(hook.calls, stepped.count(CVodeGetNumSteps));
    EXPECT_GE(hook.calls, stepped.count(CVodeGetNumSteps) - roots);
    EXPECT_TRUE(stepped.errors.messages.empty()) << stepped.errors.messages.front();
}

TEST(StepHook, FiringHookStopsAtTheEndOfItsStep) {
    Problem stepped(1);
    HookState hook;
    hook.fireAtCall = 3;
    double t = 0;
    EXPECT_EQ(cvodeStepwise(stepped.mem, 10.0, stepped.y, &t, countingHook, &hook, 100000, &stepped.errors.stepping),
              CV_ROOT_RETURN);
    EXPECT_EQ(hook.calls, 3);
    EXPECT_EQ(stepped.count(CVodeGetNumSteps), 3);
    double tn = -1;
    ASSERT_EQ(CVodeGetCurrentTime(stepped.mem, &tn), CV_SUCCESS);
    EXPECT_EQ(t, tn);
    EXPECT_LT(t, 10.0);
    // The solution handed out is the current one.
    N_Vector current = N_VClone(stepped.y);
    ASSERT_EQ(CVodeGetDky(stepped.mem, tn, 0, current), CV_SUCCESS);
    EXPECT_EQ(N_VGetArrayPointer(current)[0], N_VGetArrayPointer(stepped.y)[0]);
    EXPECT_EQ(N_VGetArrayPointer(current)[1], N_VGetArrayPointer(stepped.y)[1]);
    N_VDestroy(current);

    // The next call goes on from there as if nothing had happened.
    hook.fireAtCall = -1;
    EXPECT_EQ(cvodeStepwise(stepped.mem, 0.5, stepped.y, &t, countingHook, &hook, 100000, &stepped.errors.stepping),
              CV_SUCCESS);
    EXPECT_EQ(t, 0.5);
}

TEST(StepHook, FiringHookOnAStepPastToutStopsAtTout) {
    Problem plain(100000);
    Problem stepped(1);
    HookState hook;
    double t1 = 0;
    double t2 = 0;
    ASSERT_EQ(CVode(plain.mem, 0.2, plain.y, &t1, CV_NORMAL), CV_SUCCESS);
    ASSERT_EQ(cvodeStepwise(stepped.mem, 0.2, stepped.y, &t2, countingHook, &hook, 100000, &stepped.errors.stepping),
              CV_SUCCESS);
    // A target just past the last internal step: the next step passes it.
    double tn = 0;
    ASSERT_EQ(CVodeGetCurrentTime(stepped.mem, &tn), CV_SUCCESS);
    double h = 0;
    ASSERT_EQ(CVodeGetCurrentStep(stepped.mem, &h), CV_SUCCESS);
    const double tout = tn + 0.25 * h;
    hook.fireAtCall = hook.calls + 1;
    ASSERT_EQ(CVode(plain.mem, tout, plain.y, &t1, CV_NORMAL), CV_SUCCESS);
    EXPECT_EQ(cvodeStepwise(stepped.mem, tout, stepped.y, &t2, countingHook, &hook, 100000, &stepped.errors.stepping),
              CV_ROOT_RETURN);
    EXPECT_EQ(t2, tout);
    EXPECT_EQ(N_VGetArrayPointer(plain.y)[0], N_VGetArrayPointer(stepped.y)[0]);
    EXPECT_EQ(N_VGetArrayPointer(plain.y)[1], N_VGetArrayPointer(stepped.y)[1]);
}

TEST(StepHook, StepLimitEndsAtTheCurrentTime) {
    Problem stepped(1);
    HookState hook;
    double t = 0;
    EXPECT_EQ(cvodeStepwise(stepped.mem, 100.0, stepped.y, &t, countingHook, &hook, 4, &stepped.errors.stepping),
              CV_TOO_MUCH_WORK);
    EXPECT_EQ(stepped.count(CVodeGetNumSteps), 4);
    double tn = -1;
    ASSERT_EQ(CVodeGetCurrentTime(stepped.mem, &tn), CV_SUCCESS);
    EXPECT_EQ(t, tn);
    EXPECT_TRUE(stepped.errors.messages.empty());
}

} // namespace

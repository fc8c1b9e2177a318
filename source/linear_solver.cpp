// Dense linear-system solver. A regular, well-conditioned system is solved by
// LU with a 1-norm condition estimate; anything else by a rank-revealing QR
// factorisation with column pivoting, giving the minimum-norm correction of
// the previous solution, which is accepted only when its residual is small.
// All arithmetic is done by the reference LAPACK/BLAS routines; the caller
// provides every work array, nothing is allocated here.
#include "linear_solver.h"

#include <math.h>
#include <string.h>

#include "locale_c.h"
#include "runtime.h"

extern "C" {
void dgeequ_(const int* m, const int* n, const double* a, const int* lda, double* r, double* c, double* rowcnd,
             double* colcnd, double* amax, int* info);
void dlaqge_(const int* m, const int* n, double* a, const int* lda, const double* r, const double* c,
             const double* rowcnd, const double* colcnd, const double* amax, char* equed, size_t);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
double dlange_(const char* norm, const int* m, const int* n, const double* a, const int* lda, double* work, size_t);
void dgecon_(const char* norm, const int* n, const double* a, const int* lda, const double* anorm, double* rcond,
             double* work, int* iwork, int* info, size_t);
void dgetrs_(const char* trans, const int* n, const int* nrhs, const double* a, const int* lda, const int* ipiv,
             double* b, const int* ldb, int* info, size_t);
void dgeqpf_(const int* m, const int* n, double* a, const int* lda, int* jpvt, double* tau, double* work, int* info);
void dlaic1_(const int* job, const int* j, const double* x, const double* sest, const double* w, const double* gamma,
             double* sestpr, double* s, double* c);
void dtzrqf_(const int* m, const int* n, double* a, const int* lda, double* tau, int* info);
void dorm2r_(const char* side, const char* trans, const int* m, const int* n, const int* k, const double* a,
             const int* lda, const double* tau, double* c, const int* ldc, double* work, int* info, size_t, size_t);
void dtrsm_(const char* side, const char* uplo, const char* transa, const char* diag, const int* m, const int* n,
            const double* alpha, const double* a, const int* lda, double* b, const int* ldb, size_t, size_t, size_t,
            size_t);
void dlatzm_(const char* side, const int* m, const int* n, const double* v, const int* incv, const double* tau,
             double* c1, double* c2, const int* ldc, double* work, size_t);
void dcopy_(const int* n, const double* x, const int* incx, double* y, const int* incy);
void dgemv_(const char* trans, const int* m, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy, size_t);
}

namespace {

const double kHuge = 1.7976931348623157e308;
const double kMachineEpsilon = 2.220446049250313e-16; // 2^-52
const double kTolerance = 1e7 * kMachineEpsilon;
const double kLooseTolerance = 1e11 * kMachineEpsilon;
const int kOne = 1;

bool nonFinite(double v) {
    return v != v || v >= kHuge || v <= -kHuge;
}

// Where the pieces live inside the caller's work arrays. The middle 4n
// doubles are shared by phases that never overlap: dgecon's 4n work during
// the LU attempt; the two QR scalar vectors plus dgeqpf's 3n work; and, once
// factorised, the QR scalars, the saved right side and the residual (the
// saved right side and the residual areas also hold the two vectors of the
// rank estimation).
struct Areas {
    int n;
    double* factors;    // n*n
    double* middle;     // 4n
    double* tauQ;       // n: scalars of the Householder reflectors of Q
    double* tauZ;       // n: scalars of the reflectors that make R trapezoidal triangular
    double* savedRhs;   // n
    double* residual;   // n
    double* rowScale;   // n
    double* columnScale;// n
    int* permutation;   // iwork[0..n-1]
    int* rankInUse;     // iwork[n]
    int* marks;         // iwork[n+1..2n]
};

Areas areasOf(int n, double* work, int* iwork) {
    Areas a;
    a.n = n;
    a.factors = work;
    a.middle = work + (size_t)n * n;
    a.tauQ = a.middle;
    a.tauZ = a.middle + n;
    a.savedRhs = a.middle + 2 * n;
    a.residual = a.middle + 3 * n;
    a.rowScale = a.middle + 4 * n;
    a.columnScale = a.middle + 5 * n;
    a.permutation = iwork;
    a.rankInUse = iwork + n;
    a.marks = iwork + n + 1;
    return a;
}

void copyMatrix(const double* A, int lda, double* destination, int n) {
    for (int j = 0; j < n; ++j) memcpy(destination + (size_t)j * n, A + (size_t)j * lda, sizeof(double) * n);
}

int scaleBitsOf(char equed) {
    switch (equed) {
    case 'R': return kSolverRowsScaled;
    case 'C': return kSolverColumnsScaled;
    case 'B': return kSolverRowsScaled | kSolverColumnsScaled;
    default: return 0;
    }
}

// Rank of the QR factors by the incremental condition estimator: the rank
// by machine precision (returned in machineRank) and the rank at which the
// estimated condition stays below 1/tol (the result).
int estimateRank(const Areas& w, double tol, int* machineRank) {
    const int n = w.n;
    const double* R = w.factors;
    double r11 = fabs(R[0]);
    // A zero leading element means the whole (pivoted) matrix is zero: rank 0.
    int k = (r11 == 0.0) ? 0 : 1;
    int tolRank = k;
    if (k > 0) {
        double* vmin = w.savedRhs;
        double* vmax = w.residual;
        vmin[0] = 1.0;
        vmax[0] = 1.0;
        double smin = r11, smax = r11;
        const int jobMin = 2, jobMax = 1;
        while (k < n) {
            const double* column = R + (size_t)k * n;
            double gamma = R[k + (size_t)k * n];
            double sminpr, smaxpr, s1, c1, s2, c2;
            dlaic1_(&jobMin, &k, vmin, &smin, column, &gamma, &sminpr, &s1, &c1);
            dlaic1_(&jobMax, &k, vmax, &smax, column, &gamma, &smaxpr, &s2, &c2);
            if (sminpr < smaxpr * kMachineEpsilon) break;
            if (sminpr >= smaxpr * tol && tolRank == k) tolRank += 1;
            for (int j = 0; j < k; ++j) {
                vmin[j] *= s1;
                vmax[j] *= s2;
            }
            vmin[k] = c1;
            vmax[k] = c2;
            smin = sminpr;
            smax = smaxpr;
            k += 1;
        }
    }
    *machineRank = k;
    return tolRank;
}

// Factorises A into the work array: LU when allowed and well enough
// conditioned, else QR with column pivoting (the leading rank rows reduced to
// triangular form). rankKnown: use machineRank as the rank (a revision).
void factorise(const Areas& w, int mode, const double* A, int lda, double tol, int* state, bool rankKnown,
               int* machineRank) {
    const int n = w.n;
    int info = 0;
    int scaleBits = 0;
    bool equilibrationFailed = false;
    bool luAttempted = false;
    double rowcnd = 0, colcnd = 0, amax = 0;

    copyMatrix(A, lda, w.factors, n);
    if (mode & 2) {
        dgeequ_(&n, &n, A, &lda, w.rowScale, w.columnScale, &rowcnd, &colcnd, &amax, &info);
        if (info == 0) {
            char equed = 'N';
            dlaqge_(&n, &n, w.factors, &n, w.rowScale, w.columnScale, &rowcnd, &colcnd, &amax, &equed, 1);
            scaleBits = scaleBitsOf(equed);
        } else {
            equilibrationFailed = true;
        }
    }
    if (!(mode & 1) && !equilibrationFailed) {
        luAttempted = true;
        // The condition estimate needs the norm of the matrix itself, so it
        // is taken before the array is overwritten by its factors.
        double anorm = dlange_("1", &n, &n, w.factors, &n, w.middle, 1);
        dgetrf_(&n, &n, w.factors, &n, w.permutation, &info);
        if (info == 0) {
            double rcond = 0.0;
            dgecon_("1", &n, w.factors, &n, &anorm, &rcond, w.middle, w.marks, &info, 1);
            if (tol < rcond) {
                *state = scaleBits | kSolverLU;
                return;
            }
        }
    }
    if (luAttempted || equilibrationFailed) {
        copyMatrix(A, lda, w.factors, n);
        if (scaleBits) {
            char equed = 'N';
            dlaqge_(&n, &n, w.factors, &n, w.rowScale, w.columnScale, &rowcnd, &colcnd, &amax, &equed, 1);
        }
    }
    for (int i = 0; i < n; ++i) w.permutation[i] = 0;
    dgeqpf_(&n, &n, w.factors, &n, w.permutation, w.tauQ, w.tauZ, &info);

    int rank = rankKnown ? *machineRank : estimateRank(w, tol, machineRank);
    if (rank < n) dtzrqf_(&rank, &n, w.factors, &n, w.tauZ, &info);
    *state = scaleBits | kSolverQR;
    *w.rankInUse = rank;
}

// Undoes the column permutation of the QR factorisation on b and the marks:
// component k of the permuted solution belongs to column permutation[k].
void unpermute(const Areas& w, double* b) {
    const int n = w.n;
    int* p = w.permutation;
    for (int i = 0; i < n; ++i) {
        if (p[i] <= 0) continue; // already moved
        int k = i;
        double value = b[i];
        int mark = w.marks[i];
        for (;;) {
            int next = p[k] - 1;
            p[k] = -p[k];
            if (next < 0 || next >= n) break; // not a permutation: leave the rest alone
            double nextValue = b[next];
            int nextMark = w.marks[next];
            b[next] = value;
            w.marks[next] = mark;
            value = nextValue;
            mark = nextMark;
            k = next;
            if (k == i || p[k] <= 0) break;
        }
    }
    for (int i = 0; i < n; ++i)
        if (p[i] < 0) p[i] = -p[i];
}

void reportNonFinite(const char* format, int component, int system, double value) {
    char text[300];
    snprintf_C(text, sizeof text, format, component, system, value);
    runtimeMessage(text);
}

} // namespace

extern "C" void solveLinearSystemCore(const int* systemNumber, const int* mode, const double* A, const int* lda,
                                      const int* n, double* b, const double* previousSolution, double* work,
                                      int* iwork, int* state, const char* const* names, const int* options,
                                      const double* residualScale, double tol, int* status) {
    const int size = *n;
    const int system = systemNumber ? *systemNumber : 0;
    const bool keepBad = options && options[2] != 0;
    *status = 0;
    if (size <= 0) return;
    if (*lda < size) {
        for (int i = 0; i <= size; ++i) iwork[size + i] = 0;
        *status = 2;
        return;
    }
    const Areas w = areasOf(size, work, iwork);
    const double* x0 = previousSolution;
    bool rankKnown = false;
    int machineRank = -1;

    for (;;) {
        *status = 0;
        for (int i = 0; i < size; ++i)
            if (nonFinite(b[i])) reportNonFinite("Rhs component %d of system %d is %e", i + 1, system, b[i]);

        if (!(*state & (kSolverLU | kSolverQR))) factorise(w, *mode, A, *lda, tol, state, rankKnown, &machineRank);
        // Factors kept from an earlier call: no rank by machine precision is known, so no revision.
        if (machineRank < 0 && (*state & kSolverQR)) machineRank = *w.rankInUse;

        const bool minimumNorm = (*state & kSolverQR) && *w.rankInUse < size;
        if (minimumNorm) {
            memcpy(w.savedRhs, b, sizeof(double) * size);
            if (x0) {
                const double minusOne = -1.0;
                const double one = 1.0;
                dgemv_("N", &size, &size, &minusOne, A, lda, x0, &kOne, &one, b, &kOne, 1);
            }
        }
        if (*state & kSolverRowsScaled)
            for (int i = 0; i < size; ++i) b[i] *= w.rowScale[i];

        for (int i = 0; i < size; ++i) w.marks[i] = 0;
        int info = 0;
        if (*state & kSolverLU) {
            dgetrs_("N", &size, &kOne, w.factors, &size, w.permutation, b, &size, &info, 1);
        } else {
            *status = 1;
            double* scratch = w.residual; // one double for each reflector application
            dorm2r_("L", "T", &size, &kOne, &size, w.factors, &size, w.tauQ, b, &size, scratch, &info, 1, 1);
            const int r = *w.rankInUse;
            if (r == size) *status = 0;
            for (int i = r; i < size; ++i) {
                w.marks[i] = 1;
                b[i] = 0.0;
            }
            if (r == 0) return;
            const double one = 1.0;
            dtrsm_("L", "U", "N", "N", &r, &kOne, &one, w.factors, &size, b, &size, 1, 1, 1, 1);
            if (r < size) {
                const int m = size - r + 1;
                for (int i = 0; i < r; ++i)
                    dlatzm_("L", &m, &kOne, w.factors + i + (size_t)r * size, &size, w.tauZ + i, b + i, b + r, &size,
                            scratch, 1);
            }
            unpermute(w, b);
        }
        if (*state & kSolverColumnsScaled)
            for (int i = 0; i < size; ++i) b[i] *= w.columnScale[i];

        if (!minimumNorm) {
            for (int i = 0; i < size; ++i) {
                if (!nonFinite(b[i])) continue;
                char text[300];
                if (names) {
                    const char* name = names[i] ? names[i] : "";
                    snprintf_C(text, sizeof text, "In system %d %.140s%s = %e", system, name,
                               strlen(name) > 140 ? "..." : "", b[i]);
                } else {
                    snprintf_C(text, sizeof text, "Solution component %d of system %d is %e", i + 1, system, b[i]);
                }
                runtimeMessage(text);
                if (!keepBad) *status = 2;
            }
            return;
        }

        double tolRes = tol;
        if (residualScale && *residualScale >= 0) {
            double sumRhs = 0.0, sumPrevious = 0.0;
            for (int i = 0; i < size; ++i) sumRhs += fabs(w.savedRhs[i]);
            if (x0)
                for (int i = 0; i < size; ++i) sumPrevious += fabs(x0[i]);
            double ratio = sumRhs / (tol + sumPrevious);
            tolRes = fmax(tol, *residualScale * fmin(ratio, 1.0) * 0.001);
        }
        const double minusOne = -1.0, one = 1.0;
        dcopy_(&size, w.savedRhs, &kOne, w.residual, &kOne);
        if (x0) dgemv_("N", &size, &size, &minusOne, A, lda, x0, &kOne, &one, w.residual, &kOne, 1);
        dgemv_("N", &size, &size, &minusOne, A, lda, b, &kOne, &one, w.residual, &kOne, 1);

        bool revise = false;
        for (int i = 0; i < size; ++i) {
            if (!(fabs(w.residual[i]) > tolRes)) continue;
            if (*w.rankInUse < machineRank) {
                revise = true;
                break;
            }
            reportNonFinite("Residual component %d of system %d is %e", i + 1, system, w.residual[i]);
            if (!keepBad) *status = 2;
        }
        if (revise) {
            memcpy(b, w.savedRhs, sizeof(double) * size);
            *state = 0;
            rankKnown = true;
            continue;
        }
        if (x0)
            for (int i = 0; i < size; ++i) b[i] += x0[i];
        return;
    }
}

namespace {

// The report of a singular system, through the solver message writers.
void writeReport(const char* heading, const char* closing, int system, const char* systemName, int n,
                 const double* x, const int* marks, const char* const* names, double time) {
    messageReal(1, heading, &time, (int)strlen(heading));
    if (systemName) {
        char line[120];
        snprintf_C(line, sizeof line, "...    Linear system of equations: %.50s", systemName);
        messageRaw(1, line);
    } else {
        const char* text = "...    Linear system of equations number = ";
        messageInteger(1, text, &system, (int)strlen(text));
    }
    if (names) {
        const char* text = "... Variables which cannot be uniquely computed:";
        messageText(1, text, (int)strlen(text));
        for (int i = 0; i < n; ++i) {
            if (!marks[i]) continue;
            const char* name = names[i] ? names[i] : "";
            char line[160];
            snprintf_C(line, sizeof line, "%.140s%s = ", name, strlen(name) > 140 ? "..." : "");
            messageReal(1, line, &x[i], (int)strlen(line));
        }
    } else {
        const char* text = "...    Variables X(i) which cannot be uniquely computed:";
        messageText(1, text, (int)strlen(text));
        const char* prefix = "...     ";
        for (int i = 0; i < n; ++i) {
            if (!marks[i]) continue;
            int component = i + 1;
            messageIntegerDefault(prefix, &component, (int)strlen(prefix));
        }
    }
    messageText(1, closing, (int)strlen(closing));
}

} // namespace

extern "C" void solveLinearSystem(const int* systemNumber, const int* mode, const double* A, const int* lda,
                                  const int* n, double* b, const double* previousSolution, const double* time,
                                  const int* eventFlag, const int* flagsWord, double* work, int* iwork, int* state,
                                  const char* const* names, int* error, const int* options,
                                  const double* residualScale, const char* systemName) {
    *error = 0;
    const double tol = (options && options[0] != 0) ? kLooseTolerance : kTolerance;
    int status = 0;
    solveLinearSystemCore(systemNumber, mode, A, lda, n, b, previousSolution, work, iwork, state, names, options,
                          residualScale, tol, &status);
    if (status == 0) return;
    const int size = *n;
    const int system = systemNumber ? *systemNumber : 0;
    const double now = time ? *time : 0.0;
    const int* marks = iwork + size + 1;
    if (status == 1) {
        if (eventFlag && *eventFlag == 1 && flagsWord && (*flagsWord & 0x1000))
            writeReport("... System of equations is singular at Time = ",
                        "... Simulation continues with minimum norm solution.", system, systemName, size, b, marks,
                        names, now);
        return;
    }
    writeReport("LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = ", "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL",
                system, systemName, size, b, marks, names, now);
    *error = 1;
}

extern "C" void solveLinearSystemPlain(const int* systemNumber, const int* mode, const double* A, const int* lda,
                                       const int* n, double* b, const double* time, const int* eventFlag,
                                       const int* flagsWord, double* work, int* iwork, int* state, int* error) {
    solveLinearSystem(systemNumber, mode, A, lda, n, b, nullptr, time, eventFlag, flagsWord, work, iwork, state,
                      nullptr, error, nullptr, nullptr, nullptr);
}

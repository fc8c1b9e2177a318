// Dense linear-system solver for the model's linear equation blocks and the
// matrix inverse: LU with a condition test, else a minimum-norm QR solution.
#pragma once

#include <stddef.h>

extern "C" {

// A: n x n, column-major with leading dimension lda, left unchanged.
// b: right side on entry, solution on return.
// work: at least n*n + 6n doubles; iwork: at least 2n + 1 ints (1..n pivots,
// n+1 rank in use, n+2..2n+1 marks of components that cannot be uniquely
// computed); state: 0 forces a factorisation, otherwise the factors in work
// are reused (bit 1 LU, 2 QR, 0x100 rows scaled, 0x200 columns scaled).
// mode: bit 1 skips the LU attempt, bit 2 equilibrates first.
// error: 0 on success, 1 when the solution is not accepted.
void solveLinearSystem(const int* systemNumber, const int* mode, const double* A, const int* lda, const int* n,
                       double* b, const double* previousSolution, const double* time, const int* eventFlag,
                       const int* flagsWord, double* work, int* iwork, int* state, const char* const* names,
                       int* error, const int* options, const double* residualScale, const char* systemName);
void solveLinearSystemPlain(const int* systemNumber, const int* mode, const double* A, const int* lda, const int* n,
                            double* b, const double* time, const int* eventFlag, const int* flagsWord, double* work,
                            int* iwork, int* state, int* error);

// The solve itself, without the report: status 0 solved, 1 a minimum-norm
// solution of a rank-deficient system was accepted, 2 not accepted.
void solveLinearSystemCore(const int* systemNumber, const int* mode, const double* A, const int* lda, const int* n,
                           double* b, const double* previousSolution, double* work, int* iwork, int* state,
                           const char* const* names, const int* options, const double* residualScale, double tol,
                           int* status);

// Machine parameters used by the linked LAPACK routines, and their handler
// for illegal arguments (reports and returns).
double dlamch_(const char* cmach, size_t length);
void xerbla_(const char* routine, const int* info, size_t length);

} // extern "C"

// Factorisation state bits.
enum {
    kSolverLU = 1,
    kSolverQR = 2,
    kSolverRowsScaled = 0x100,
    kSolverColumnsScaled = 0x200
};

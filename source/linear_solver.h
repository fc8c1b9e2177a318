// Dense linear-system solver for the model's linear equation blocks and the
// matrix inverse: LU with a condition test, else a minimum-norm QR solution.
#pragma once

extern "C" {

void solveLinearSystem(const int* systemNumber, const int* mode, const double* A, const int* lda, const int* n,
                       double* b, const double* previousSolution, const double* time, const int* eventFlag,
                       const int* flagsWord, double* work, int* iwork, int* state, const char* const* names,
                       int* error, const int* options, const double* residualScale, const char* systemName);
void solveLinearSystemPlain(const int* systemNumber, const int* mode, const double* A, const int* lda, const int* n,
                            double* b, const double* time, const int* eventFlag, const int* flagsWord, double* work,
                            int* iwork, int* state, int* error);

} // extern "C"

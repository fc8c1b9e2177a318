// Reading and writing matrices and parameter arrays in matrix files from
// generated code. Results live in the per-thread buffers; every failure is a
// runtime error that unwinds to the evaluation's trap.
#pragma once

#include <stdint.h>

#include "matrixop.h"

// The matrix file library's writer record (amat.h), declared here only, so
// that generated code need not see the library's type names.
struct AmatPutFile;

extern "C" {

RealArray readRealMatrix(const char* fileName, const char* matrixName, int nrow, int ncol);
// {rows, columns} of the named matrix.
IntegerArray readMatrixSize(const char* fileName, const char* matrixName);
// n x 2: name and type text ("Integer", "Real", "Unknown") of every matrix.
StringArray readMatrixNames(const char* fileName);
// 1 on success, 0 on failure. With append the file's other matrices are kept
// and a matrix of the same name is replaced.
int writeRealMatrix(const char* fileName, const char* matrixName, RealArray matrix, int append);

RealArray readRealParameterArray(const char* fileName, const char* name, int ndims);
double readRealParameter(const char* fileName, const char* name);
IntegerArray readIntegerParameterArray(const char* fileName, const char* name, int ndims);
int readIntegerParameter(const char* fileName, const char* name);
StringArray readStringParameterArray(const char* fileName, const char* name, int ndims);
const char* readStringParameter(const char* fileName, const char* name);

// Writes count matrices; each takes four arguments: name, type (1 Integer,
// 3 Real, 4 String), ndims (0 for a scalar) and the value (int, double or
// string for a scalar, else a pointer to the array record).
void writeMatrices(const char* fileName, int count, ...);
// Writes the size matrix "<name>.size" (ndims x 1 integers) of an array.
int writeSizeMatrix(AmatPutFile* file, int ndims, const int32_t* dims, const char* name);

} // extern "C"

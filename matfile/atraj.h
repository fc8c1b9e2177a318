// Trajectory result files: a matrix file of class "Atrajectory" holding the
// signal names, their descriptions, the table "dataInfo" that tells where
// each signal's values are stored, and the data matrices "data_1",
// "data_2", ... One data matrix may be written row by row while a simulation
// runs; the file on disk stays a complete trajectory after every row.
#pragma once

#include <stdint.h>

#include "amat.h"

extern "C" {

struct Atrajectory {
    char* descriptionText;  // third row of the class matrix (owned, may be null)
    int32_t nData;          // number of data matrices
    AmatMatrix name;        // "name": charMatrix, one row per signal
    AmatMatrix description; // "description": charMatrix, one row per signal
    AmatMatrix info;        // "dataInfo": integerMatrix, 4 columns, one row per signal
    AmatMatrix* data;       // nData records "data_1", "data_2", ...
    int32_t magic;          // 201 once atrajInit has run
};

enum { atrajMagic = 201 };

// Precision codes: the type of every data matrix.
enum AtrajPrecision {
    atrajFloat = 0,     // realMatrix
    atrajDouble = 1,    // doubleMatrix
    atrajFloatRows = 2, // realRowMatrix
    atrajDoubleRows = 3 // doubleRowMatrix
};

// Each returns 0 on success and 1 on failure (message in amatMessage).
int atrajInit(Atrajectory* traj, int32_t nData, int precision);
int atrajResize(Atrajectory* traj, int32_t nDataNew, int precision);
void atrajFree(Atrajectory* traj);
// Creates the file and writes everything before data matrix rowIndex (counted
// from 0), which is then open for row-wise writing. A negative rowIndex, or
// one not below nData, writes the whole trajectory and closes the file.
int atrajPutOpen(const char* fileName, Atrajectory* traj, int32_t rowIndex, FileFormat format,
                 AmatPutFile* file);
int atrajPutRow(AmatPutFile* file, const float* row);
// Ends the row-wise data matrix rowIndex, writes the data matrices after it
// and closes the file.
int atrajPutClose(AmatPutFile* file, Atrajectory* traj, int32_t rowIndex);

} // extern "C"

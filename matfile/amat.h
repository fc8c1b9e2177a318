// Matrix file library: named two-dimensional matrices stored in MATLAB
// version 4 binary files or in a line-oriented text form beginning "#1".
//
// Every function that fails formats its message into the process-wide buffer
// amatMessage and returns a non-zero code; nothing here prints, logs or exits.
// The library is used from one thread at a time.
#pragma once

#include <stdint.h>
#include <stdio.h>

extern "C" {

// Type of a matrix; the names are printed in messages.
enum AmatType : uint32_t {
    voidMatrix = 0,      // no elements; in a read request: any stored type
    integerMatrix = 1,   // block of nrow*ncol int32, column by column
    realMatrix = 2,      // block of nrow*ncol float, column by column
    doubleMatrix = 3,    // block of nrow*ncol double, column by column
    charMatrix = 4,      // nrow pointers to NUL-terminated rows (a row may be null)
    realRowMatrix = 5,   // nrow pointers to rows of ncol float
    doubleRowMatrix = 6  // nrow pointers to rows of ncol double
};

// File format of a matrix file.
enum FileFormat : int32_t {
    amatTextFormat = 0,   // text form, first line "#1"
    amatBinaryFormat = 1  // MATLAB version 4 binary matrices
};

// Layout of the binary matrices after the class matrix.
enum AmatBinStruct : int32_t {
    binNormal = 0,  // stored matrix is the matrix itself
    binTrans = 1    // stored matrix is the transpose, so rows can be appended
};

struct AmatMatrix {
    char* name;           // NUL-terminated matrix name
    int32_t nrow;
    int32_t ncol;         // for a charMatrix: the width (longest row)
    AmatType type;
    void* data;           // see AmatType
    int32_t rowCapacity;  // row types: row pointers allocated by a reader
    int32_t rowNext;      // row types: next row a reader fills
};

// The 20-byte header of one binary matrix, in file order.
struct AmatHeader {
    int32_t type;    // 1000*M + 100*O + 10*P + T
    int32_t mrows;
    int32_t ncols;
    int32_t imagf;
    int32_t namlen;  // length of the name plus its NUL
};

// A file open for reading.
struct AmatGetFile {
    char* fileName;          // owned copy
    FILE* fp;                // null when closed
    FileFormat format;
    int32_t binTrans;        // 1 when the class matrix says "binTrans"
    AmatMatrix classMatrix;  // name not owned, rows owned
    AmatMatrix current;      // the declaration just read
};

// A file open for writing.
struct AmatPutFile {
    char* fileName;        // owned copy, null for standard output
    FILE* fp;
    FileFormat format;
    AmatBinStruct bstruct;
    int32_t isFile;        // 1 for a file opened by name, 0 for standard output
    AmatHeader header;     // binary header being written
    char* rowName;         // owned copy of the name of the row-wise matrix, else null
    long headerPos;        // position of the row-wise header or of the sizes of its declaration
    AmatType rowType;      // realMatrix or doubleMatrix
    int32_t rowNcol;
    int32_t rowCount;      // rows appended so far in a text file
    int32_t patchState;    // 0 none, 1 armed, 2 position recorded, 3 value ready
    long patchPos;
    double patchValue;
    int32_t patchType;     // 5 float, 6 double
};

#define AMAT_MESSAGE_SIZE 4096
// Last failure message of the library; "No message." at load.
extern char amatMessage[AMAT_MESSAGE_SIZE];

// Matrix record.
void amatInitMatrix(AmatMatrix* matrix);
void amatSetMatrix(char* name, int32_t nrow, int32_t ncol, AmatType type, void* data, AmatMatrix* matrix);
void amatFreeMatrix(AmatMatrix* matrix);
void amatFreeStrings(char** rows, int32_t n);

// Reader. Codes: 0 success; 1 no elements (or unusable class matrix on open);
// 2 not the matrix or file asked for; 3 end of file; 4 and 5 errors.
int amatGetOpen(const char* fileName, const char* className, const char* version, AmatGetFile* file);
int amatGetNextMatrix(AmatGetFile* file, AmatMatrix* matrix);
int amatGetMatrix(AmatGetFile* file, AmatMatrix* matrix, int preferredReal, const long* position,
                  int trimBlanks);
void amatGetClose(AmatGetFile* file);

// Writer. Codes: 0 success, 1 failure, 4 a null required argument. Every call
// on a record without stream fails, except amatPutClose, which leaves it alone.
// A failed flush or close is reported, so no lost data passes as success.
int amatPutOpen(const char* fileName, FileFormat format, AmatBinStruct bstruct, const char* className,
                const char* version, const char* description, AmatPutFile* file);
int amatPutClose(AmatPutFile* file);
int amatPutMatrix(AmatPutFile* file, const AmatMatrix* matrix);
int amatPutMatrixComment(AmatPutFile* file, const AmatMatrix* matrix, const char* comment,
                         const char* const* rowNames, int indent);
int amatPutMatrixFill(AmatPutFile* file, const AmatMatrix* matrix, char fill);
int amatPutMatrixOpt(AmatPutFile* file, const AmatMatrix* matrix, const char* comment,
                     const char* const* rowNames, int indent, char fill);
int amatWriteFile(const char* fileName, FileFormat format, const AmatMatrix* matrix);

// Row-wise writing of one realMatrix or doubleMatrix (file opened with binTrans).
// Each row is ncol floats; a doubleMatrix stores them as doubles. One matrix at
// a time: a second amatPutRinit, a whole-matrix write before amatPutRclose, and
// amatPutRrow or amatPutRclose without amatPutRinit are refused.
int amatPutRinit(AmatPutFile* file, const char* name, int32_t ncol, AmatType type);
int amatPutRrow(AmatPutFile* file, const float* row);
int amatPutRclose(AmatPutFile* file);

} // extern "C"

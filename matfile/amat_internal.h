// Helpers shared by the reader and the writer of the matrix file library.
#pragma once

#include "amat.h"

#include <stdint.h>

// Formats a failure message into amatMessage, bounded by its size.
void amatSetMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Name of a type for messages ("unknown" outside 0..6).
const char* amatTypeName(uint32_t type);
// The system's text for the last error, or "End-Of-File reached." at end of file.
const char* amatStreamError(FILE* fp);
// A copy of text on the heap, or null when out of memory.
char* amatCopyText(const char* text);

// Writer helpers.
// The file name for messages ("stdout" for standard output).
const char* amatPutFileName(const AmatPutFile* file);
// Sets the write-failure message with the system's error text; returns 1.
int amatPutStreamError(const AmatPutFile* file, const char* name, int32_t nrow, int32_t ncol);
// fwrite of count elements, true when all were written (or count is 0).
bool amatWriteBytes(FILE* fp, const void* data, size_t size, size_t count);
// Writes file->header and the name with its NUL.
bool amatWriteHeader(AmatPutFile* file, const char* name);

// Reader helpers.
// Bytes left in the file after the current position (INT64_MAX when unknown).
int64_t amatRemainingBytes(FILE* fp);
// Stores v as element (i, j) of a numeric matrix of the delivered type; false
// when v does not fit an integer matrix (NaN or outside the int32 range).
bool amatStoreValue(AmatMatrix* matrix, int32_t i, int32_t j, double v);
// Sets the numeric-data message for the matrix being read; returns 4.
int amatNumericDataError(const AmatGetFile* file, const AmatMatrix* current);
// Text form: reads the next declaration into current (name, nrow, ncol, stored
// type). requestName, when not null, must equal the name read.
int amatReadTextDeclaration(AmatGetFile* file, const char* requestName, AmatMatrix* current);
// Text form: reads the elements of current, whose type and storage are set.
int amatReadTextData(AmatGetFile* file, AmatMatrix* current, AmatType stored);

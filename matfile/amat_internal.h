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

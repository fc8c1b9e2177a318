// The interface that external functions written against the Modelica
// standard use to report messages, warnings and errors and to allocate their
// string results. Messages are held back as pending text of the instance
// inside the model call; errors unwind the evaluation to its trap.
#pragma once

#include <stdarg.h>
#include <stddef.h>

extern "C" {

void ModelicaMessage(const char* text);
void ModelicaFormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ModelicaVFormatMessage(const char* format, va_list args);
void ModelicaWarning(const char* text);
void ModelicaFormatWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ModelicaVFormatWarning(const char* format, va_list args);

// These unwind to the evaluation's trap and do not come back. Outside any
// evaluation (no trap armed) the failure is only recorded in the status word
// and they return; callers in this library return at once in that case.
void ModelicaError(const char* text);
void ModelicaFormatError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ModelicaVFormatError(const char* format, va_list args);

// An empty string with room for len characters and the terminator, in the
// calling thread's simple-string buffer.
char* ModelicaAllocateString(size_t len);
// The same, or null when the buffer has no room (nothing is reported).
char* ModelicaAllocateStringWithErrorReturn(size_t len);

} // extern "C"

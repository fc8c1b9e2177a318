// Messages, warnings, errors and string allocation for external functions,
// on top of the runtime's log bridge, error report and simple strings.
#include "external_utilities.h"

#include <stdio.h>

#include "array_support.h"

extern "C" void runtimeMessageBuffered(const char* text);

namespace {

// Formatted texts are cut after this many characters minus one.
enum { kFormatBuffer = 4000 };

// Formats in the process's current locale; a longer text is cut and always terminated.
void formatInto(char (&buffer)[kFormatBuffer], const char* format, va_list args) {
    buffer[0] = '\0';
    if (format) vsnprintf(buffer, sizeof buffer, format, args);
}

} // namespace

extern "C" {

void ModelicaMessage(const char* text) { runtimeMessageBuffered(text ? text : ""); }

void ModelicaFormatMessage(const char* format, ...) {
    char buffer[kFormatBuffer];
    va_list args;
    va_start(args, format);
    formatInto(buffer, format, args);
    va_end(args);
    ModelicaMessage(buffer);
}

void ModelicaVFormatMessage(const char* format, va_list args) {
    char buffer[kFormatBuffer];
    formatInto(buffer, format, args);
    ModelicaFormatMessage("%s", buffer);
}

void ModelicaWarning(const char* text) { ModelicaFormatWarning("%s", text ? text : ""); }

void ModelicaFormatWarning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ModelicaVFormatWarning(format, args);
    va_end(args);
}

void ModelicaVFormatWarning(const char* format, va_list args) {
    char buffer[kFormatBuffer];
    formatInto(buffer, format, args);
    ModelicaFormatMessage("Warning: %s\n", buffer);
}

void ModelicaError(const char* text) { runtimeError(text ? text : ""); }

void ModelicaFormatError(const char* format, ...) {
    char buffer[kFormatBuffer];
    va_list args;
    va_start(args, format);
    formatInto(buffer, format, args);
    va_end(args);
    runtimeError(buffer);
}

void ModelicaVFormatError(const char* format, va_list args) {
    char buffer[kFormatBuffer];
    formatInto(buffer, format, args);
    ModelicaFormatError("%s", buffer);
}

char* ModelicaAllocateStringWithErrorReturn(size_t len) {
    ThreadContext* context = getThreadContext();
    if (!context) return nullptr;
    if (!context->EndRealbuffer) createThreadBuffers();
    if (!context->simplestring) return nullptr;
    // stringmark+len+1 < Endsimplestring, compared as sizes so that a huge
    // length can never wrap into one that seems to fit.
    const size_t room = static_cast<size_t>(context->Endsimplestring - context->stringmark);
    if (room < 2 || len > room - 2) return nullptr;
    return ModelicaAllocateString(len);
}

char* ModelicaAllocateString(size_t len) {
    ThreadContext* context = getThreadContext();
    if (context && !context->EndRealbuffer) createThreadBuffers();
    const size_t room = context && context->simplestring
                            ? static_cast<size_t>(context->Endsimplestring - context->stringmark)
                            : 0;
    if (room < 2 || len > room - 2) {
        RuntimeAssert(0, "stringmark+len+1<Endsimplestring", "Room to allocate string");
        return nullptr;
    }
    char* r = SimpleStringAlloc(static_cast<int>(len));
    if (r) r[0] = '\0';
    return r;
}

} // extern "C"

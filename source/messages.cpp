// Messages of the runtime to the host's log, the error report with the time
// and the stack of generated functions, and the older typed message sink.
#include <stdio.h>
#include <string.h>

#include "locale_c.h"
#include "runtime.h"
#include "thread_context.h"

RuntimeGlobals runtimeGlobals = {nullptr, nullptr, "?????", 0, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, 0, 0, 0, 0.0};

// Status word used while no ModelData is bound to the thread (one per thread,
// like the binding it stands in for).
static thread_local int processStatusWord = 0;

static ModelData* boundModelData() {
    ThreadContext* c = getThreadContext();
    return c ? c->boundModelData : nullptr;
}

ModelData* activeModelData() {
    ModelData* bound = boundModelData();
    return bound ? bound : modelDataTemplate();
}

// ---- Messages to the log bridge ----

void runtimeMessageLevel(int type, const char* text) { logModelMessage(text ? text : "", 1, type); }

void runtimeMessage(const char* text) { runtimeMessageLevel(0, text); }

void runtimeMessageBuffered(const char* text) { logModelMessage(text ? text : "", 0, 0); }

void runtimeMessageValue(int type, const char* text, double value) {
    char buffer[200];
    snprintf_C(buffer, sizeof buffer, "%.160s %.16G", text ? text : "", value);
    runtimeMessageLevel(type, buffer);
}

void runtimeMessageTime(const char* text, double value) { runtimeMessageValue(0, text, value); }

double runtimeMessageTimeReturn(const char* text, double value) {
    runtimeMessageTime(text, value);
    return 0;
}

void runtimeMessageInteger(const char* text, int value) {
    char buffer[200];
    snprintf_C(buffer, sizeof buffer, "%.160s %i", text ? text : "", value);
    runtimeMessage(buffer);
}

void runtimeMessageMatrixElement(const char* name, int i, int j, double value) {
    char buffer[260];
    snprintf_C(buffer, sizeof buffer, "  %.160s[%i, %i] = %G", name ? name : "", i, j, value);
    runtimeMessage(buffer);
}

// Appends formatted text to a bounded line; false once the line is full.
static bool appendText(char* line, size_t size, size_t* used, const char* text) {
    size_t length = strlen(text);
    if (*used + length >= size) return false;
    memcpy(line + *used, text, length + 1);
    *used += length;
    return true;
}

void runtimeMessageVector(const char* name, const double* values, int n) {
    // One bounded line; values that no longer fit are replaced by "...".
    char line[2000];
    size_t used = 0;
    line[0] = '\0';
    char item[64];
    snprintf_C(line, sizeof line - 8, "%.400s = {", name ? name : "");
    used = strlen(line);
    bool complete = true;
    for (int i = 0; i < n && complete; ++i) {
        snprintf_C(item, sizeof item, i == 0 ? "%G" : ", %G", values[i]);
        if (used + strlen(item) + 6 >= sizeof line) {
            complete = false;
            appendText(line, sizeof line, &used, ", ...");
        } else {
            appendText(line, sizeof line, &used, item);
        }
    }
    appendText(line, sizeof line, &used, "}");
    runtimeMessage(line);
}

void printMatrix(const char* name, const double* values, int rows, int columns, int leadingDimension) {
    char line[400];
    snprintf_C(line, sizeof line, "%.300s = {", name ? name : "");
    runtimeMessage(line);
    runtimeMessage("");
    for (int i = 1; i <= rows; ++i) {
        size_t used = 0;
        line[0] = '\0';
        appendText(line, sizeof line, &used, "{");
        for (int j = 1; j <= columns; ++j) {
            if (used > 200) { // log the grown row and go on with a fresh line
                runtimeMessage(line);
                used = 0;
                line[0] = '\0';
            }
            char item[64];
            snprintf_C(item, sizeof item, j == 1 ? "%G" : ", %G",
                       values[i + leadingDimension * (j - 1) - 1]);
            appendText(line, sizeof line, &used, item);
        }
        appendText(line, sizeof line, &used, i < rows ? "}, " : "}");
        runtimeMessage(line);
    }
    runtimeMessage("");
    runtimeMessage("};");
}

// ---- Errors and warnings ----

double currentTime(void) {
    ModelData* bound = boundModelData();
    return bound ? bound->time : modelDataTemplate()->time;
}

int* statusWordPointer(void) {
    ModelData* bound = boundModelData();
    return bound ? &bound->statusWord : &processStatusWord;
}

double reportAtTime(const char* text, int type) {
    ModelFlags* flags = boundModelFlags();
    bool quiet = flags && (flags[kFlagWord] & kFlagsQuiet);
    if (!quiet) {
        runtimeMessageValue(type, type == 1 ? "Warning: The following was detected at time:"
                                            : "Error: The following error was detected at time:",
                            currentTime());
        runtimeMessageLevel(type, text ? text : "");
    }
    ThreadContext* c = getThreadContext();
    if (!quiet && c && c->functionStack) {
        runtimeMessageLevel(type, "The stack of functions is:");
        while (c->functionStack) {
            FunctionFrame* frame = c->functionStack;
            runtimeMessageLevel(type, frame->name ? frame->name : "");
            c->functionStack = frame->next;
            if (c->depth > 0) c->depth--;
        }
    }
    if (type == 1) return 0.0;
    *statusWordPointer() = 1;
    // Unwind to the evaluation's trap. Outside any evaluation there is no trap
    // to reach: the failure stays recorded in the status word.
    if (c && c->trap) throw RuntimeUnwind{1};
    return 0.0;
}

void runtimeError(const char* text) { reportAtTime(text, 2); }

static void formatAssertion(char* buffer, size_t size, const char* message, const char* conditionText) {
    snprintf_C(buffer, size, "  %.400s\n  Failed condition: %.400s\n", message ? message : "",
               conditionText ? conditionText : "");
}

void RuntimeAssert(int condition, const char* conditionText, const char* message) {
    if (condition) return;
    char buffer[900];
    formatAssertion(buffer, sizeof buffer, message, conditionText);
    runtimeError(buffer);
}

void assertFailed(int condition, const char* conditionText, const char* message, int level, int* once) {
    if (condition) return;
    char buffer[900];
    if (level == 1) {
        if (once && *once == 1) return;
        if (once) *once = 1;
        formatAssertion(buffer, sizeof buffer, message, conditionText);
        reportAtTime(buffer, 1);
        return;
    }
    formatAssertion(buffer, sizeof buffer, message, conditionText);
    runtimeError(buffer);
}

double divisionByZero(const char* numeratorText, double numerator, const char* denominatorText, double denominator) {
    char buffer[1000];
    snprintf_C(buffer, sizeof buffer, "\nModel error - division by zero: (%.400s) / (%.400s) = (%g) / (%g)\n",
               numeratorText ? numeratorText : "", denominatorText ? denominatorText : "", numerator, denominator);
    runtimeError(buffer);
    return 1.0;
}

double divisionByZeroInverse(const char* denominatorText, double denominator) {
    return divisionByZero("1.0", 1.0, denominatorText, denominator);
}

void singularScalarSystem(const char* name, const char* numeratorText, const char* denominatorText, double numerator,
                          double denominator, int flags) {
    char buffer[1100];
    snprintf_C(buffer, sizeof buffer, "Error: %s for %.400s = (%.200s)/(%.200s) = %g/%g",
               (flags & 1) ? "Scalar system is always singular, it may be possible to evaluate parameters to avoid this,"
                           : "Singular inconsistent scalar system",
               name ? name : "", numeratorText ? numeratorText : "", denominatorText ? denominatorText : "",
               numerator, denominator);
    if (flags & 2)
        runtimeError(buffer);
    else
        runtimeMessage(buffer);
}

void singularScalarMinNorm(const char* name, double value) {
    char buffer[520];
    snprintf_C(buffer, sizeof buffer, "Singular scalar system. Using minimum norm solution for %.400s = %g\n",
               name ? name : "", value);
    runtimeMessage(buffer);
}

void terminate(const char* message) {
    int* status = statusWordPointer();
    if (*status == -999) return;
    runtimeMessage("Simulation successfully terminated");
    runtimeMessage(message ? message : "");
    *status = -999;
}

void setAbortStatus(void) { *statusWordPointer() = -998; }

// Empties the stack of the running evaluation: a nested evaluation keeps the
// frames of the one that encloses it.
void resetFunctionStack(void) {
    ResetMarks();
    ThreadContext* c = getThreadContext();
    if (!c) return;
    const ErrorTrap* evaluation = runningEvaluation();
    c->functionStack = evaluation ? evaluation->savedStack : nullptr;
    c->depth = evaluation ? evaluation->savedDepth : 0;
}

// ---- Typed message sink ----

static void writeBoth(FILE* stream, const char* text) {
    fputs(text, stream);
    if (stream != stdout) fputs(text, stdout);
}

int outputMessage(int type, const char* text) {
    if (!text) text = "";
    if (runtimeGlobals.messageCallback) return runtimeGlobals.messageCallback(type, text);
    if (runtimeGlobals.suppressOutput) return 0;
    FILE* stream = (type == 1 || type == 2) ? runtimeGlobals.errStream : runtimeGlobals.outStream;
    if (!stream) return 0;
    if (!runtimeGlobals.prefixLines) {
        writeBoth(stream, text);
        return 0;
    }
    fprintf(stream, "%s | ", runtimeGlobals.programName);
    for (const char* p = text; *p; ++p) {
        fputc(*p, stream);
        if (*p == '\n' && p[1] != '\0') fprintf(stream, "%s | ", runtimeGlobals.programName);
    }
    return 0;
}

int outputTypedMessage(int type, const char* text) {
    char header[600];
    if (type == 1 || type == 2) {
        snprintf(header, sizeof header, type == 1 ? "\n... Warning message from %.512s\n" : "\n... Error message from %.512s\n",
                 runtimeGlobals.programName);
        outputMessage(type, header);
    }
    outputMessage(type, text);
    if (type != 0) outputMessage(type, "\n");
    return 0;
}

int outputMessageText(const int* type, const char* text, int length) {
    char copy[1000];
    size_t n = 0;
    if (text && length > 0) {
        size_t limit = static_cast<size_t>(length < 998 ? length : 998);
        while (n < limit && text[n]) ++n;
        memcpy(copy, text, n);
    }
    copy[n++] = '\n';
    copy[n] = '\0';
    return outputTypedMessage(type ? *type : 0, copy);
}

int outputMessageInfo(const char* text, int length) {
    int type = 0;
    return outputMessageText(&type, text, length);
}

// Copies up to the first NUL or the limit, trims trailing blanks but keeps one character.
static size_t copyTrimmed(char* destination, const char* text, int length, int limit) {
    size_t n = 0;
    if (text && length > 0) {
        size_t max = static_cast<size_t>(length < limit ? length : limit);
        while (n < max && text[n]) ++n;
        memcpy(destination, text, n);
        while (n > 1 && destination[n - 1] == ' ') --n;
    }
    destination[n] = '\0';
    return n;
}

static void writeUnit(int unit, const char* line) {
    if (unit == 0) {
        runtimeMessage(line);
        return;
    }
    outputMessage(unit, line);
    outputMessage(unit, "\n");
}

void messageInteger(int unit, const char* text, const int* value, int length) {
    char line[240];
    size_t n = copyTrimmed(line, text, length, 183);
    snprintf_C(line + n, sizeof line - n, " %d", value ? *value : 0);
    writeUnit(unit, line);
}

void messageIntegerDefault(const char* text, const int* value, int length) { messageInteger(0, text, value, length); }

void messageText(int unit, const char* text, int length) {
    char line[240];
    copyTrimmed(line, text, length, 198);
    writeUnit(unit, line);
}

void messageReal(int unit, const char* text, const double* value, int length) {
    char line[240];
    size_t n = copyTrimmed(line, text, length, 178);
    snprintf_C(line + n, sizeof line - n, " %G", value ? *value : 0.0);
    writeUnit(unit, line);
}

void messageRaw(int unit, const char* text) { writeUnit(unit, text ? text : ""); }

// The event log "eventlog.txt": detail lines of event iterations (every
// logged change of a relation), status lines and event summaries, written
// while bit 2 of the flags word is set. The file belongs to the process: it is
// opened once, on the first request, and stays open until the process ends.
// Logging never fails a simulation: every failure only means less is written.
#include "event_log.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <mutex>

#include "locale_c.h"
#include "runtime.h"

int eventLogFailed = 0;

static const char* const kEventLogFile = "eventlog.txt";

// The stream, the table and the counters belong to the process; instances
// on different threads log through this lock, so each request (a line, a
// registration, a summary) is done whole. Recursive: a request opens the file
// from within.
static std::recursive_mutex eventLogLock;

static bool eventLoggingOn(int bits) {
    ModelFlags* flags = boundModelFlags();
    return flags && (flags[kFlagWord] & bits);
}

static EventLogTable* eventLogTable() {
    EventLogTable* table = static_cast<EventLogTable*>(runtimeGlobals.eventLogTable);
    if (table) return table;
    table = static_cast<EventLogTable*>(calloc(1, sizeof(EventLogTable)));
    if (!table) return nullptr;
    table->count = -1;
    table->timeEventTime = -1.0;
    table->inputTimeEventTime = -1.0;
    runtimeGlobals.eventLogTable = table;
    return table;
}

// A heap copy of text without its newlines; null when out of memory.
static char* copyTextWithoutNewlines(const char* text) {
    char* copy = static_cast<char*>(malloc(strlen(text) + 1));
    if (copy) copyWithoutNewlines(copy, text);
    return copy;
}

void copyWithoutNewlines(char* destination, const char* source) {
    char* out = destination;
    for (const char* p = source; *p; ++p)
        if (*p != '\n') *out++ = *p;
    *out = '\0';
}

void eventLogOpen(void) {
    if (!eventLoggingOn(kFlagsLogEvents | kFlagsLogAlways)) return;
    std::lock_guard<std::recursive_mutex> guard(eventLogLock);
    if (runtimeGlobals.eventLogLogged) return;
    if (!runtimeGlobals.eventLogStream) runtimeGlobals.eventLogStream = fopen(kEventLogFile, "w");
    runtimeGlobals.eventLogLogged = 1;
    FILE* stream = runtimeGlobals.eventLogStream;
    if (stream) {
        fprintf_C(stream, "Event iteration details;;;;Event summary;;;Triggering expression;;Bifurcation warning\n");
        fprintf_C(stream, "Iteration;Event type;Expression;Result;Time;Type(s) logged in dslog;Iteration failed;"
                          "Expression;Crossing;Expression;Crossing;Residual\n");
        fprintf_C(stream, "\n");
        return;
    }
    char text[900];
    snprintf_C(text, sizeof text, "Could not write to file \"%.400s\": %.400s.\n", kEventLogFile, strerror(errno));
    outputTypedMessage(0, text);
}

static const char* resultText(int subKind, double value, char* buffer, size_t size) {
    switch (subKind) {
    case 0: return "false";
    case 2: snprintf_C(buffer, size, "%.16g", value); return buffer;
    case 3: return " == 0";
    case 4: return " > 0";
    case 5: return " < 0";
    default: return "true";
    }
}

static void writeDetailLine(FILE* stream, double time, int kind, const char* text, int subKind, double value) {
    const int iteration = runtimeGlobals.eventLogIteration;
    char* copy = text ? copyTextWithoutNewlines(text) : nullptr;
    const char* shown = copy ? copy : text; // out of memory: the text as it is
    char number[40];
    switch (kind) {
    case 1:
        if (subKind == 0)
            fprintf_C(stream, "%d;%d;time >= %.16g;\n", iteration, 1, time);
        else if (subKind == -1)
            fprintf_C(stream, "%d;%d;time < %.16g;\n", iteration, 1, time);
        else if (subKind == 1) {
            if (shown) fprintf_C(stream, "%d;%d;%.400s;\n", iteration, 1, shown);
        } else
            fprintf_C(stream, "%d;%d;Time event;\n", iteration, 1);
        break;
    case 2:
        fprintf_C(stream, "%d;%d;Input time event;\n", iteration, 2);
        break;
    case 4:
        if (shown)
            fprintf_C(stream, "%d;%d;%s;%s\n", iteration, 4, shown,
                      resultText(subKind, value, number, sizeof number));
        break;
    case 8:
        if (shown) fprintf_C(stream, ";%d;State select;%s\n", 8, shown);
        break;
    default:
        break;
    }
    free(copy);
}

static const char* orNotAvailable(const char* text) {
    return text ? text : "Not available";
}

// The summary rows: the event types of the request, the relations without a
// crossing, then (when asked for) the triggering expressions.
static void writeSummary(FILE* stream, EventLogTable* table, int kind) {
    if (kind & 8) fprintf_C(stream, ";;;;;;;Step event;\n");
    if (kind & 1) fprintf_C(stream, ";;;;;;;Time event;\n");
    if (kind & 2) fprintf_C(stream, ";;;;;;;Input time event;\n");
    if (!table) return;
    const int relations = table->count > 0 ? table->count : 0;
    const char* name = nullptr;
    const char* description = nullptr;
    if (table->statePairs) {
        for (int i = 0; i < relations; ++i) {
            if (table->statePairs[2 * i] != -1 && table->statePairs[2 * i + 1] != -1) continue;
            name = table->expressions ? table->expressions[i] : nullptr;
            description = table->descriptions ? table->descriptions[i] : nullptr;
            fprintf_C(stream, ";;;;;;;%.400s;%.400s\n", orNotAvailable(name), orNotAvailable(description));
        }
    }
    if (!table->summaryExpressions) return;
    const char* filler = ";;;;;;;;;";
    if (table->timeEventTime >= 0) fprintf_C(stream, "%sTime event;;%.16g\n", filler, table->timeEventTime);
    if (table->inputTimeEventTime >= 0)
        fprintf_C(stream, "%sInput time event;;%.16g\n", filler, table->inputTimeEventTime);
    if (table->statePairs && table->valuePairs) {
        for (int i = 0; i < relations; ++i) {
            if (table->statePairs[2 * i] != 1) continue;
            char mean[40];
            snprintf_C(mean, sizeof mean, "%.16g", (table->valuePairs[2 * i] + table->valuePairs[2 * i + 1]) / 2);
            name = table->expressions ? table->expressions[i] : nullptr;
            description = table->descriptions ? table->descriptions[i] : nullptr;
            fprintf_C(stream, "%s%.400s;%.400s;%s\n", filler, orNotAvailable(name), orNotAvailable(description),
                      mean);
        }
    }
    if (kind & 8) fprintf_C(stream, "%sNot supported;;\n", filler);
}

void eventLogWrite(int request, double time, int kind, const char* text, int subKind, double value) {
    if (!eventLoggingOn(kFlagsLogEvents)) return;
    std::lock_guard<std::recursive_mutex> guard(eventLogLock);
    if (request >= 1) {
        runtimeGlobals.eventLogIteration = request;
        return;
    }
    if (!runtimeGlobals.eventLogLogged) {
        eventLogOpen();
        eventLogFailed = 0;
    }
    EventLogTable* table = eventLogTable();
    FILE* stream = runtimeGlobals.eventLogStream;
    const bool statusAllowed = !(table && table->suppressSummary && table->linesSinceSummary == 0);

    switch (request) {
    case -6:
        if (table) table->suppressSummary = 1;
        break;
    case -5:
        eventLogFailed = 1;
        break;
    case -4:
        if (stream && statusAllowed) fprintf_C(stream, ";;;;%.16g;Termination;%d\n", time, eventLogFailed);
        break;
    case -3:
        if (stream && statusAllowed)
            fprintf_C(stream, subKind == 0 ? ";;;;%.16g;Initialization (off);%d\n" : ";;;;%.16g;Initialization;%d\n",
                      time, eventLogFailed);
        break;
    case -2:
        if (stream && statusAllowed) fprintf_C(stream, ";;;;%.16g;%d;%d\n", time, kind, eventLogFailed);
        break;
    case -1:
        if (stream) writeDetailLine(stream, time, kind, text, subKind, value);
        if (table) table->linesSinceSummary += 1;
        break;
    default:
        break;
    }
    if (request != -6 && table) table->suppressSummary = 0;
    if (request < -4 || request > -2) return;

    if (stream && statusAllowed) {
        writeSummary(stream, table, kind);
        fprintf_C(stream, "\n");
        if (table) {
            if (table->statePairs && table->count > 0)
                memset(table->statePairs, 0, sizeof(int32_t) * 2 * (size_t)table->count);
            table->timeEventTime = -1.0;
            table->inputTimeEventTime = -1.0;
        }
    }
    runtimeGlobals.eventLogIteration = 0;
    eventLogFailed = 0;
    if (table) {
        table->linesSinceSummary = 0;
        table->summaryExpressions = 0;
    }
    if (stream) {
        double now = (double)::time(nullptr);
        if (now >= runtimeGlobals.eventLogLastFlush + 1) {
            fflush(stream);
            runtimeGlobals.eventLogLastFlush = now;
        }
    }
}

void eventLogRegisterExpression(int index, const char* condition, const char* expression) {
    if (!eventLoggingOn(kFlagsLogEvents)) return;
    if (index - 1 < 0 || !condition || !expression) return;
    std::lock_guard<std::recursive_mutex> guard(eventLogLock);
    EventLogTable* table = eventLogTable();
    if (!table) return;
    if (table->count < 0) {
        int relations = 0;
        getRuntimeSizes(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &relations, nullptr,
                        nullptr);
        table->count = relations;
    }
    if (table->filled >= table->count || index - 1 >= table->count) return;
    if (!table->expressions) table->expressions = static_cast<char**>(calloc((size_t)table->count, sizeof(char*)));
    if (!table->descriptions) table->descriptions = static_cast<char**>(calloc((size_t)table->count, sizeof(char*)));
    if (!table->expressions || !table->descriptions) {
        table->filled = table->count;
        return;
    }
    bool stored = false;
    if (!table->expressions[index - 1]) {
        table->expressions[index - 1] = copyTextWithoutNewlines(condition);
        stored = table->expressions[index - 1] != nullptr;
    }
    if (!table->descriptions[index - 1]) {
        table->descriptions[index - 1] = copyTextWithoutNewlines(expression);
        stored = stored || table->descriptions[index - 1] != nullptr;
    }
    if (stored) table->filled += 1;
}

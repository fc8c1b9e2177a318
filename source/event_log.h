// The event log: a semicolon-separated text file "eventlog.txt" in the
// current directory, written while event logging is switched on (bit 2 of
// the flags word). One stream, one table of relation texts and one set of
// counters per process, shared by every instance; a lock makes each request
// whole when instances log from several threads.
#pragma once

#include <stdint.h>

extern "C" {

// Texts of the relations (for the event summary) and the summary counters.
struct EventLogTable {
    int32_t suppressSummary;   // set by request -6, cleared by every other request
    int32_t linesSinceSummary; // detail requests since the last summary
    int32_t summaryExpressions;// non-zero: a summary also lists the triggering expressions
    char** expressions;        // count condition texts
    char** descriptions;       // count expression texts
    int32_t filled;            // relations registered
    int32_t count;             // relations of the model; -1 until known
    int32_t* statePairs;       // two per relation: 1 a crossing, -1 an unavailable one
    double* valuePairs;        // two per relation: crossing values
    double timeEventTime;      // -1: none
    double inputTimeEventTime; // -1: none
};

// request >= 1: set the iteration number; -1 detail line; -2, -3, -4 event,
// initialization and termination status lines with a summary; -5 mark the
// iteration failed; -6 suppress the next summary when no detail follows.
// kind: 1 time condition or time event, 2 input time event, 4 relation,
// 8 state select. text may be null; it is copied, never kept.
void eventLogWrite(int request, double time, int kind, const char* text, int subKind, double value);
// Remembers the condition and expression texts of relation index (from 1).
void eventLogRegisterExpression(int index, const char* condition, const char* expression);
// Opens the file once per process and writes its header.
void eventLogOpen(void);
// Copies source into destination (strlen(source) + 1 characters) without its newlines.
void copyWithoutNewlines(char* destination, const char* source);

} // extern "C"

// The "Iteration failed" column of status lines (process-wide).
extern int eventLogFailed;

// Test support for the process-wide event log: puts it back to "never
// opened" and runs a test in a fresh current directory, where the log file
// is created.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "event_log.h"
#include "runtime.h"

inline const char* eventLogHeader() {
    return "Event iteration details;;;;Event summary;;;Triggering expression;;Bifurcation warning\n"
           "Iteration;Event type;Expression;Result;Time;Type(s) logged in dslog;Iteration failed;Expression;Crossing;"
           "Expression;Crossing;Residual\n"
           "\n";
}

inline void resetEventLog() {
    if (runtimeGlobals.eventLogStream) fclose(runtimeGlobals.eventLogStream);
    runtimeGlobals.eventLogStream = nullptr;
    if (EventLogTable* table = static_cast<EventLogTable*>(runtimeGlobals.eventLogTable)) {
        for (int i = 0; i < table->count; ++i) {
            if (table->expressions) free(table->expressions[i]);
            if (table->descriptions) free(table->descriptions[i]);
        }
        free(table->expressions);
        free(table->descriptions);
        free(table->statePairs);
        free(table->valuePairs);
        free(table);
    }
    runtimeGlobals.eventLogTable = nullptr;
    runtimeGlobals.eventLogLogged = 0;
    runtimeGlobals.eventLogIteration = 0;
    runtimeGlobals.eventLogLastFlush = 0;
    eventLogFailed = 0;
}

// A fresh current directory for the duration of a test.
class ScratchDirectory {
public:
    ScratchDirectory() {
        previous_ = std::filesystem::current_path();
        char pattern[] = "/tmp/eventlog_test_XXXXXX";
        if (mkdtemp(pattern)) {
            path_ = pattern;
            std::filesystem::current_path(path_);
        }
    }
    ~ScratchDirectory() {
        std::filesystem::current_path(previous_);
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    bool exists(const char* name) const { return std::filesystem::exists(path_ / name); }
    std::string read(const char* name) const {
        if (runtimeGlobals.eventLogStream) fflush(runtimeGlobals.eventLogStream);
        std::ifstream in(path_ / name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

// Shared helpers of the array and string tests: a fixture whose runtime
// errors reach the test host's log, a reader of the failed check, and small
// constructors of arrays with given elements.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "matrixop.h"
#include "runtime_fixture.h"

class ArrayTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        enterModelCall();
    }
    void TearDown() override {
        ResetMarks();
        RuntimeTest::TearDown();
    }

    // Runs body under a trap. Returns "" when it completes, otherwise the
    // failed check as "condition | message" (or the error text when the
    // failure was not a check).
    template <typename F>
    std::string failure(F&& body) {
        host().clearLog();
        if (runUnderTrap(body) == 0) return "";
        return loggedFailure();
    }

    // The first failed check in the log as "condition | message" (or the
    // error text when the failure was not a check).
    std::string loggedFailure() {
        const std::string marker = "\n  Failed condition: ";
        for (const LogRecord& r : host().log) {
            size_t at = r.message.find(marker);
            if (at == std::string::npos || r.message.compare(0, 2, "  ") != 0) continue;
            std::string message = r.message.substr(2, at - 2);
            std::string condition = r.message.substr(at + marker.size());
            if (!condition.empty() && condition.back() == '\n') condition.pop_back();
            return condition + " | " + message;
        }
        return host().log.empty() ? std::string("unwound without a message") : host().log.back().message;
    }

    // The messages logged by the last operation, one per entry.
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        for (const LogRecord& r : host_->log) lines.push_back(r.message);
        return lines;
    }
};

inline RealArray realVector(std::initializer_list<double> values) {
    RealArray a = RealVectorAlloc(static_cast<int>(values.size()));
    int i = 0;
    for (double v : values) a.data[i++] = v;
    return a;
}

inline RealArray realMatrix(int n, int m, std::initializer_list<double> values) {
    RealArray a = RealMatrixAlloc(n, m);
    int i = 0;
    for (double v : values) a.data[i++] = v;
    return a;
}

inline IntegerArray integerVector(std::initializer_list<int> values) {
    IntegerArray a = IntegerVectorAlloc(static_cast<int>(values.size()));
    int i = 0;
    for (int v : values) a.data[i++] = v;
    return a;
}

inline IntegerArray integerMatrix(int n, int m, std::initializer_list<int> values) {
    IntegerArray a = IntegerMatrixAlloc(n, m);
    int i = 0;
    for (int v : values) a.data[i++] = v;
    return a;
}

template <typename A>
std::vector<int> dimsOf(const A& a) {
    return std::vector<int>(a.dims, a.dims + a.ndims);
}

template <typename A>
auto elementsOf(const A& a) -> std::vector<typename std::remove_pointer<decltype(a.data)>::type> {
    int n = 1;
    for (int i = 0; i < a.ndims; ++i) n *= a.dims[i];
    return {a.data, a.data + n};
}

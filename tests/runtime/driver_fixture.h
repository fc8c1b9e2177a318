// Runtime tests that plug fake equations into the test model's table: each
// test describes one pass of the model as a function of the call's arguments.
#pragma once

#include <functional>
#include <vector>

#include "evaluate.h"
#include "model_interface.h"
#include "runtime_fixture.h"

// The arguments of one pass of the fake equations.
struct FakeCall {
    int* level;
    int* computedLevel;
    double* time;
    double* states;
    double* inputs;
    double* parameters;
    double* derivatives;
    double* outputs;
    double* auxiliaries;
    double* eventIndicators;
    ModelTimeData* timeData;
    ModelFlags* flags;
    char** strings;
    ModelData* d;
    int* QiErr;
};

// What the fake model does and what it has seen.
struct FakeModel {
    int passes = 0;
    int hooks = 0;
    std::function<void(FakeCall&)> body;
    std::vector<int> levels;     // level of each pass
    std::vector<int> eventCodes; // event code of each pass
};

inline FakeModel& fake() {
    static FakeModel model;
    return model;
}

inline int fakeEquations(int* level, int* computedLevel, double* time, double* states, double*, double* inputs,
                         double* parameters, int*, int*, double* derivatives, double* outputs, double* auxiliaries,
                         double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags, char** strings,
                         ModelData* modelData, int* QiErr) {
    FakeModel& m = fake();
    ++m.passes;
    m.levels.push_back(*level);
    m.eventCodes.push_back(modelData->eventCode);
    FakeCall call{level,   computedLevel,   time,     states, inputs,    parameters, derivatives, outputs,
                  auxiliaries, eventIndicators, timeData, flags, strings, modelData,  QiErr};
    if (m.body) m.body(call);
    return 0;
}

inline void fakeHomotopyHook(double*, double*, double*, double*, double*, int*, int*, double*, double*, double*,
                             double*, ModelTimeData*, ModelFlags*, char**, ModelData*, int) {
    ++fake().hooks;
}

class DriverTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        saved_ = modelTable;
        modelTable.modelEquations = fakeEquations;
        modelTable.modelHomotopyHook = fakeHomotopyHook;
        fake() = FakeModel{};
    }
    void TearDown() override {
        modelTable = saved_;
        fake() = FakeModel{};
        RuntimeTest::TearDown();
    }
    ModelData* md() { return instance()->modelData; }
    // One call of the model entry with the instance's arrays; returns QiErr.
    int call(int level) {
        int l = level;
        instance()->qiErr = 0;
        callModelEntry(instance(), &l);
        lastLevel_ = l;
        return instance()->qiErr;
    }
    const FmiApi& api() { return host().api(); }

    ModelTable saved_{};
    int lastLevel_ = 0;
};

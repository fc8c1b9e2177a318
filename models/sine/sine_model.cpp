// Equations of the sine source model: auxiliary 0 is the offset plus, from the
// start time on, amplitude * sin(2 pi frequency (time - start time) + phase),
// switched on by a time event; output 0 = input 1 - auxiliary 0 and
// output 1 = auxiliary 0 * input 0.
// Parameters: 0 amplitude, 1 frequency in hertz, 2 phase in radians, 3 offset, 4 start time.
#include <math.h>

#include "model_interface.h"
#include "runtime.h"
#include "sine_model.h"
#include "time_events.h"

// The argument frame of one evaluation.
using Frame = ModelArguments;

static void heldValues(Frame& f, int updateKind) {
    const int startPass =
        (f.d->inlineIntegration && f.flags[kFlagHeldArg] != 0 && *f.level == levelEventIndicators) ? 1 : 0;
    updateHeldValues(f.time, f.states, f.stateDerivativesIn, f.inputs, f.parameters, f.integerParameters,
                     f.logicalParameters, f.derivatives, f.outputs, f.auxiliaries, f.eventIndicators, f.timeData,
                     f.flags, f.strings, f.d, updateKind, startPass);
}

static void homotopyHook(Frame& f) {
    modelHomotopyHook(f.time, f.states, f.stateDerivativesIn, f.inputs, f.parameters, f.integerParameters,
                      f.logicalParameters, f.derivatives, f.outputs, f.auxiliaries, f.eventIndicators, f.timeData,
                      f.flags, f.strings, f.d, 1);
}

// The initial section runs at the initial call (or while an extra initial pass is asked for).
static int initialSection(Frame& f) {
    ModelData* d = f.d;
    int result = 0;
    if (d->initPhase != 0) {
        result = d->eventCode <= eventCodeFirstPass;
    } else if (d->initialCall == 1) {
        d->crossingChanged = 1;
        result = d->eventCode < eventCodeFurtherPass;
    }
    d->sectionGate = result;
    return result;
}

// Section k runs when the level asks beyond what is computed, at an event, or
// for the event indicators.
static int levelSection(Frame& f, int k) {
    ModelData* d = f.d;
    const int result =
        ((*f.level > k && *f.computedLevel < k + 1) || d->eventFlag || *f.level == levelEventIndicators) &&
        d->eventCode != eventCodeIdle;
    d->sectionGate = result;
    return result;
}

static void sineWithOutputs(Frame& f) {
    ModelData* d = f.d;
    const double* p = f.parameters;
    const double time = *f.time;
    if (d->initialCall || d->eventFlag) {
        const int word = f.flags[kFlagWord];
        const int log = (word & kFlagsLogEvents) && (!d->initialCall || (word & kFlagsLogAlways));
        timeEvent(p[4], 0, d, time, f.timeData[kTimeScale], &d->crossingChanged, &d->relationChanged, log,
                  d->eventCode, &d->timeEventActive);
    }
    const double s = d->timeEventActive ? p[0] * sin(2 * 3.141592653589793 * p[1] * (time - p[4]) + p[2]) : 0.0;
    f.auxiliaries[0] = p[3] + s;
    f.outputs[0] = f.inputs[1] - f.auxiliaries[0];
    f.outputs[1] = f.auxiliaries[0] * f.inputs[0];
}

int modelEquations(int* level, int* computedLevel, double* time, double* states, double* stateDerivativesIn,
                   double* inputs, double* parameters, int* integerParameters, int* logicalParameters,
                   double* derivatives, double* outputs, double* auxiliaries, double* eventIndicators,
                   ModelTimeData* timeData, ModelFlags* flags, char** strings, ModelData* modelData, int* QiErr) {
    Frame f{level,       computedLevel, time,    states,      stateDerivativesIn, inputs,   parameters,
            integerParameters, logicalParameters, derivatives, outputs, auxiliaries, eventIndicators, timeData,
            flags,       strings,       modelData ? modelData : modelDataTemplate(), QiErr};
    ModelData* d = f.d;

    if (initialSection(f)) {
        *computedLevel = 0;
        if (!d->homotopyActive) homotopyHook(f);
    }
    // Parameter-change gate: nothing in this model depends on it.
    d->sectionGate = d->parametersChanged && !(d->homotopyActive && d->lambda != 0);
    if (initialSection(f)) *computedLevel = 0;
    if (initialSection(f)) *computedLevel = 0;
    if (initialSection(f) && !(d->eventCode > eventCodeFirstPass || (d->homotopyActive && d->lambda > 0)))
        *computedLevel = 0;
    if (initialSection(f)) {
        *computedLevel = 0;
        if (!d->homotopyActive) homotopyHook(f);
    }
    heldValues(f, 0);
    if (initialSection(f)) *computedLevel = 0;

    // Initial output section.
    bool initialOutputs = d->initPhase == 2;
    if (!initialOutputs && d->initPhase == 0 && d->initialCall == 1 && flags[kFlagInitOutputs] == 0) {
        d->crossingChanged = 1;
        initialOutputs = true;
    }
    if (initialOutputs) {
        *computedLevel = 0;
        sineWithOutputs(f);
    }
    if (initialSection(f)) *computedLevel = 0;

    // End of the initial part.
    bool endOfInitial = d->initPhase == 2;
    if (!endOfInitial && d->initPhase == 0 && d->initialCall == 1) {
        d->crossingChanged = 1;
        endOfInitial = true;
    }
    if (endOfInitial) {
        *computedLevel = 0;
        d->initialCall = 0;
        heldValues(f, 2);
        d->initialCall = 1;
        if (d->homotopyActive) {
            if (d->lambda < 1) {
                if (d->statusWord == 0) d->statusWord = -996;
                if (d->statusWord != 0) *QiErr = d->statusWord;
                return 0;
            }
            d->homotopyActive = 0;
            d->lambda = 1;
        }
    }

    if (levelSection(f, 0)) {
        *computedLevel = 1;
        sineWithOutputs(f);
    }
    if (levelSection(f, 1)) *computedLevel = 2; // no states, no derivatives
    if (levelSection(f, 2)) *computedLevel = 3;

    d->sectionGate = 1;
    heldValues(f, 1);
    resetFunctionStack();
    if (d->statusWord != 0) *QiErr = d->statusWord;
    return 0;
}

void updateHeldValues(double* time, double* states, double* stateDerivativesIn, double* inputs, double* parameters,
                      int* integerParameters, int* logicalParameters, double* derivatives, double* outputs,
                      double* auxiliaries, double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags,
                      char** strings, ModelData* modelData, int updateKind, int startPass) {
    // The model holds no values between evaluations.
    (void)time, (void)states, (void)stateDerivativesIn, (void)inputs, (void)parameters, (void)integerParameters;
    (void)logicalParameters, (void)derivatives, (void)outputs, (void)auxiliaries, (void)eventIndicators;
    (void)timeData, (void)flags, (void)strings, (void)modelData, (void)updateKind, (void)startPass;
}

void modelHomotopyHook(double* time, double* states, double* stateDerivativesIn, double* inputs, double* parameters,
                       int* integerParameters, int* logicalParameters, double* derivatives, double* outputs,
                       double* auxiliaries, double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags,
                       char** strings, ModelData* modelData, int flag) {
    // Nothing to prepare before a homotopy step.
    (void)time, (void)states, (void)stateDerivativesIn, (void)inputs, (void)parameters, (void)integerParameters;
    (void)logicalParameters, (void)derivatives, (void)outputs, (void)auxiliaries, (void)eventIndicators;
    (void)timeData, (void)flags, (void)strings, (void)modelData, (void)flag;
}

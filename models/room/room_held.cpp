// The room model's held values: six solved variables whose last accepted
// values ModelData keeps between evaluations, with their previous values and
// update times, as start values of the solves and for the driver to restore
// after an event. Group A: slots 0..4, group B: slot 5 (the pressure).
#include "room_frame.h"
#include "room_model.h"
#include "runtime.h"

namespace {

// Auxiliary of each slot: medium.u, theConWall1.solid.T, convExtWall.solid.T,
// theConWall.dT, der_T of the wall capacity, medium.p.
const int kHeldAuxiliary[6] = {65, 186, 101, 174, 164, 61};
// Slot order of the update.
const int kUpdateOrder[6] = {3, 1, 2, 4, 5, 0};
const int kStartPressure = 52;

// The two extra ints of the last global update.
int globalHeldArgument1 = 0;
int globalHeldArgument2 = 0;

double initialPassValue(int slot, const double* auxiliaries) {
    switch (slot) {
    case 1:
    case 2: return 288.15;
    case 5: return auxiliaries[kStartPressure];
    default: return 0.0;
    }
}

} // namespace

void updateHeldValues(double* time, double* states, double* stateDerivativesIn, double* inputs, double* parameters,
                      int* integerParameters, int* logicalParameters, double* derivatives, double* outputs,
                      double* auxiliaries, double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags,
                      char** strings, ModelData* modelData, int updateKind, int startPass) {
    (void)states, (void)stateDerivativesIn, (void)inputs, (void)parameters, (void)integerParameters;
    (void)logicalParameters, (void)derivatives, (void)outputs, (void)eventIndicators, (void)timeData;
    (void)strings;
    ModelData* d = modelData ? modelData : modelDataTemplate();
    if (!time || !flags || !auxiliaries) return;
    const double t = *time;
    if (!(startPass || d->initialCall || (d->eventFlag && updateKind) ||
          (flags[kFlagHeldArg] == 0 && flags[kFlagDirectional] == 0 && updateKind)))
        return;

    const int m = flags[kFlagHeldMode];
    const bool normal = m >= 0 && m <= 3;
    const bool updateA = normal && !(startPass && m == 1);
    const bool updateB = normal && !(startPass && m == 0);
    if ((startPass || (d->eventFlag && flags[kFlagHeldArg])) && normal) {
        if ((!startPass || m != 1) && d->heldTimeA < t) {
            d->previousHeldTimeA = d->heldTimeA;
            d->shiftA = 1;
        }
        if ((!startPass || m != 0) && (d->heldTimeB < t || d->eventFlag)) {
            d->previousHeldTimeB = d->heldTimeB;
            d->shiftB = 1;
        }
    }
    if (updateA) d->heldTimeA = t;
    if (updateB) d->heldTimeB = t;
    const bool intoCurrent = (m & 8) != 0;
    if (!normal) {
        if (!d->heldValuesSaved) {
            d->heldValuesSaved = 1;
            d->savedHeldTimeA = d->heldTimeA;
            d->savedHeldTimeB = d->heldTimeB;
            for (int i = 0; i < 6; ++i) d->savedHeldValues[i] = d->heldValues[i];
        }
        if (intoCurrent) {
            d->heldTimeA = d->heldTimeB = t;
        } else {
            d->previousHeldTimeA = d->previousHeldTimeB = t;
        }
    }

    for (int slot : kUpdateOrder) {
        const bool groupB = slot == 5;
        const bool shift = groupB ? d->shiftB : d->shiftA;
        const bool update = groupB ? updateB : updateA;
        const double present = auxiliaries[kHeldAuxiliary[slot]];
        if (shift) d->previousHeldValues[slot] = d->heldValues[slot];
        if (update) {
            d->heldValues[slot] = d->initPhase == 1 ? initialPassValue(slot, auxiliaries) : present;
        } else if (!normal) {
            (intoCurrent ? d->heldValues : d->previousHeldValues)[slot] = present;
        }
    }
    d->shiftA = 0;
    d->shiftB = 0;
}

void updateHeldValuesGlobal(double* time, double* states, double* stateDerivativesIn, double* inputs,
                            double* parameters, int* integerParameters, int* logicalParameters, double* derivatives,
                            double* outputs, double* auxiliaries, double* eventIndicators, ModelTimeData* timeData,
                            ModelFlags* flags, char** strings, int updateKind, int startPass) {
    if (flags && flags[kFlagHeldMode] < 0) flags[kFlagHeldMode] = -flags[kFlagHeldMode];
    globalHeldArgument1 = updateKind;
    globalHeldArgument2 = startPass;
    updateHeldValues(time, states, stateDerivativesIn, inputs, parameters, integerParameters, logicalParameters,
                     derivatives, outputs, auxiliaries, eventIndicators, timeData, flags, strings, nullptr, updateKind,
                     startPass);
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

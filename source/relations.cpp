// Relations with hysteresis. Around its switching point a relation keeps a
// signed event epsilon on the far side of zero, so that with hysteresis the
// value has to pass zero by the epsilon before the stored truth value
// switches; the epsilon grows tenfold per change once an event iteration
// keeps flipping the same relation, up to a cap.
#include "relations.h"

#include <math.h>

#include "event_log.h"
#include "locale_c.h"
#include "runtime.h"

static const char* textOrEmpty(const char* text) {
    return text ? text : "";
}

void evaluateRelation(const char* condition, const char* expression, int* result, double* epsilon, double* output,
                      double minEpsilon, double value, int initial, int flagsWord, int* changed, int* changedInCall,
                      int direction, int asWritten, int hysteresis, double maxEpsilon, int allowGrowth, int index) {
    const bool logEvents = (flagsWord & kFlagsLogEvents) != 0;
    if (logEvents) eventLogRegisterExpression(index, condition, expression);

    const double a = minEpsilon;
    const double g = hysteresis ? value - *epsilon : value;
    // Both comparisons are false for NaN: a NaN value counts as not off.
    const int off = direction == 1 ? (g < 0) : (g > 0);
    const double s = (off == direction) ? 1.0 : -1.0;
    *output = s * a;
    const int t = asWritten ? 1 - off : off;
    const double magnitude = fabs(value);

    if (!initial && t == *result) {
        if (!hysteresis) {
            if (a > magnitude)
                *epsilon = *output;
            else if (magnitude > maxEpsilon && magnitude > 100 * a)
                *epsilon = *output * 1e-6;
        }
        *result = t;
        return;
    }
    if (!initial) {
        *changed = 1;
        if (changedInCall) *changedInCall = 1;
    }

    if (!hysteresis) {
        *epsilon = (100 * a > magnitude) ? *output : *output * 1e-6;
    } else if (maxEpsilon > magnitude && allowGrowth) {
        const double m = fmin(fmax(a, 10 * fabs(*epsilon)), fmax(a, maxEpsilon));
        if (m > a && logEvents) {
            char text[500];
            snprintf_C(text, sizeof text, "Warning: Event epsilon of %.400s increased to %g.\n",
                       textOrEmpty(condition), m);
            runtimeMessage(text);
        }
        *epsilon = s * m;
    } else {
        *epsilon = s * fmax(a, fabs(*epsilon));
    }

    if (logEvents && (!initial || ((flagsWord & kFlagsLogAlways) && (!hysteresis || t != *result)))) {
        char text[1000];
        snprintf_C(text, sizeof text, "Expression %.400s became %s ( %.400s = %g )", textOrEmpty(condition),
                   t ? "true" : "false", textOrEmpty(expression), value);
        runtimeMessage(text);
        eventLogWrite(-1, 0.0, 4, condition, t, 0.0);
    }
    *result = t;
}

void crossingFunction(ModelData* modelData, const char* condition, const char* expression, int i, int flagsWord,
                      int direction, int asWritten) {
    ModelData* d = modelData ? modelData : modelDataTemplate();
    // Relations are numbered from 1; the arrays hold one slot per relation after slot 0.
    RuntimeAssert(i >= 1 && i <= MODEL_NREL, "i>=1 && i<=nrel", "Relation number out of range");
    const double nominal = d->relationNominals[i];
    evaluateRelation(condition, expression, &d->relationStates[i], &d->eventEpsilons[i], &d->crossingOutputs[i],
                     d->crossingScale * nominal, d->relationValues[i], d->initialCall, flagsWord, &d->crossingChanged,
                     &d->relationChanged, direction, asWritten, d->relationEvaluated[i], 1e-4 * nominal,
                     d->restartIteration > 5, i);
}

// Time-reached events, sample clocks, integer time events and the step-factor
// computation of inline integration.
#include "time_events.h"

#include <math.h>
#include <string.h>

#include "locale_c.h"
#include "runtime.h"

static ModelData* orTemplate(ModelData* modelData) { return modelData ? modelData : modelDataTemplate(); }

static ModelFlags* flagsOf(ModelData* modelData) {
    if (modelData && modelData->flags) return modelData->flags;
    return getModelFlags();
}

// ---- Pending time event ----

void registerTimeEvent(double t, ModelData* modelData) {
    ModelTimeData* timeData = getInstanceTimeData(modelData);
    if (!timeData) return;
    ModelData* d = orTemplate(modelData);
    double& pending = timeData[kTimeNextEvent];
    // Six units in the last place of the time, widened by the tolerance scale.
    const double tol = 1.3322676295501878e-15 * (fabs(t) + timeData[kTimeScale]);
    if (pending >= 1e30) d->timeEventCandidate = pending;
    if (t >= pending + tol) return; // a later event changes nothing
    if (t < d->timeEventCandidate) {
        d->timeEventCandidate = t;
        if (t + tol < pending) pending = t;
    } else if (t <= d->timeEventCandidate + tol && t > pending) {
        // Of several times within the tolerance of the earliest one, the latest stays pending.
        pending = t;
    }
}

void registerTimeEventCurrent(double t) { registerTimeEvent(t, activeModelData()); }

int timeEvent(double t0, double ignored, ModelData* modelData, double time, double scale, int* eventFlag,
              int* secondFlag, int log, int setEvent, int* state) {
    (void)ignored;
    if (!eventFlag || !state) return 0;
    const double tol = 4e-14 * (fabs(time) + scale);
    if (time < t0 - tol) {
        registerTimeEvent(t0, modelData);
        if (*state == 1) {
            if (secondFlag) *secondFlag = 1;
            *state = 0;
            if (setEvent) *eventFlag = 1;
        }
    } else if (*state == 0) {
        if (secondFlag) *secondFlag = 1;
        *state = 1;
        if (log) runtimeMessageTime("Time event at time:", time);
        if (setEvent) *eventFlag = 1;
    }
    return 0;
}

// ---- Sample clocks ----

double sampleCount(double t, double start, double interval) { return floor((t - start) / interval) + 1; }

// Counter slots of a sample: next number at `index`, current number at
// `index + 1`; active flags in the relation-flag block at `index + 9` and
// `index + 10`. An index whose slots lie outside the arrays is a model error.
static void checkSampleIndex(ModelData* d, int index) {
    const int counters = (int)(sizeof d->sampleCounters / sizeof d->sampleCounters[0]);
    const int flags = (int)(sizeof d->relationFlags / sizeof d->relationFlags[0]);
    RuntimeAssert(index >= 0 && index + 1 < counters && index + 10 < flags, "index of sample in range",
                  "Sample index outside the sample counters of the model");
}

enum SampleKind { samplePlain, sampleSubSampled, sampleInitial };

// The part common to the three sample services: counter initialisation and
// the catch-up over the instants reached. Returns whether the base clock
// ticked; `next` receives the next base instant (only when active).
static int sampleBase(ModelData* d, ModelTimeData* timeData, double time, double start, double interval, int index,
                      int initial, int active, SampleKind kind, double* next) {
    double& nextNumber = d->sampleCounters[index];
    double& currentNumber = d->sampleCounters[index + 1];
    int32_t* activeFlags = d->relationFlags;
    const bool notMarked = kind == sampleInitial ? activeFlags[index + 9] == 0 : nextNumber == 0;
    if (initial || (active && notMarked)) {
        const bool skipCounter = initial == 2 && kind == sampleSubSampled;
        if (!skipCounter) {
            double scale = fabs(start);
            if (timeData && timeData[kTimeScale] > scale) scale = timeData[kTimeScale];
            if (timeData) timeData[kTimeScale] = scale;
            const double n = sampleCount(time > start ? time : start, start, interval);
            if (initial)
                nextNumber = n;
            else if (n > nextNumber)
                nextNumber = n;
        }
    }
    int result = 0;
    if (active) {
        const double scale = timeData ? timeData[kTimeScale] : fabs(start);
        const double tol = 5e-14 * (fabs(time) + scale);
        double instant = start + (nextNumber - 1) * interval;
        currentNumber = nextNumber;
        // Without a positive interval (only the initial-sample service skips
        // that check) the instants never advance: no catch-up then.
        if (interval > 0 && instant <= time + tol) {
            // The instants passed are skipped in one go (a host may move the
            // time far ahead); a few single steps then settle on the first
            // instant beyond the time. Instants that no longer advance in
            // double precision would keep this loop going for ever.
            const double passed = sampleCount(time + tol, start, interval) - 1;
            if (passed > currentNumber) currentNumber = passed;
            for (int settle = 0; instant <= time + tol; ++settle) {
                if (settle == 8) runtimeError("Sample instants do not advance beyond the current time");
                currentNumber += 1;
                instant = start + (currentNumber - 1) * interval;
            }
            result = 1;
        }
        activeFlags[index + 10] = 1;
        *next = instant;
    }
    return result;
}

static void logSample(ModelData* modelData, double time, double start, double interval, int initial) {
    ModelFlags* flags = flagsOf(modelData);
    if (!flags || !(flags[kFlagWord] & kFlagsLogEvents)) return;
    if (initial && !(flags[kFlagWord] & kFlagsLogAlways)) return;
    char sample[64];
    char text[100];
    snprintf_C(sample, sizeof sample, "sample(%g,%g)", start, interval);
    snprintf_C(text, sizeof text, "Sample event (%.60s) at time:", sample);
    runtimeMessageTime(text, time);
}

int sampleEvent(ModelData* modelData, double time, double start, double interval, int index, int initial,
                int active) {
    ModelData* d = orTemplate(modelData);
    if (interval <= 0) runtimeError("Sample did not have positive sample interval");
    checkSampleIndex(d, index);
    if (initial == 2) return 0;
    ModelTimeData* timeData = getInstanceTimeData(modelData);
    double next = 0;
    int result = sampleBase(d, timeData, time, start, interval, index, initial, active, samplePlain, &next);
    if (active) {
        registerTimeEvent(next, modelData);
        if (d->restartIteration != 1) result = 0; // reported in the first pass of the iteration only
    }
    if (result == 1) logSample(modelData, time, start, interval, initial);
    return result;
}

int sampleEventSubSampled(ModelData* modelData, double time, double start, double interval, int shift, int factor,
                          int index, int initial, int active) {
    ModelData* d = orTemplate(modelData);
    if (interval <= 0 || factor <= 0) runtimeError("Sample did not have positive sample interval");
    checkSampleIndex(d, index);
    ModelTimeData* timeData = getInstanceTimeData(modelData);
    double next = 0;
    const int ticked = sampleBase(d, timeData, time, start, interval, index, initial, active, sampleSubSampled, &next);
    int result = 0;
    if (active) {
        const double current = d->sampleCounters[index + 1];
        const double offset = factor - shift - 1;
        const double k = floor((0.1 + current - 2 - offset) / factor);
        const double m = k * factor + offset;
        result = ticked && m == current - 2 && k >= 0;
        registerTimeEvent(start + (m + factor) * interval, modelData);
        if (d->restartIteration != 1) result = 0;
    }
    if (result == 1) logSample(modelData, time, start, interval, initial);
    return result;
}

int sampleEventInitial(ModelData* modelData, double time, double start, double interval, int index, int initial,
                       int active) {
    ModelData* d = orTemplate(modelData);
    checkSampleIndex(d, index);
    ModelTimeData* timeData = getInstanceTimeData(modelData);
    double next = 0;
    int result = sampleBase(d, timeData, time, start, interval, index, initial, active, sampleInitial, &next);
    if (active) {
        registerTimeEvent(next, modelData);
        if (d->restartIteration != 1) result = 0;
    }
    if (result == 1) logSample(modelData, time, start, interval, initial);
    return result;
}

// ---- Integer multiples of time ----

double integerTimeEvent(int divide, double a, ModelData* modelData, double time, int* eventFlag, int* secondFlag,
                        int index, int log) {
    if (!eventFlag) return 0;
    ModelData* d = orTemplate(modelData);
    checkSampleIndex(d, index);
    const double c = divide ? time / a : time * a;
    // The stored integer k is kept as k + 1 when non-negative and as k when
    // negative, so that 0 means "none stored yet".
    const double stored = d->sampleCounters[index];
    double k = stored > 0 ? stored - 1 : stored;
    if (stored == 0 || c < k || c >= k + 1) {
        if (secondFlag) *secondFlag = 1;
        if (log) runtimeMessageTime("Time event at time:", time);
        *eventFlag = 1;
        k = floor(c);
        d->sampleCounters[index + 1] = k < 0 ? k : k + 1;
    }
    const double n = a > 0 ? k + 1 : k;
    double instant = divide ? n * a : n / a;
    const double forward = divide ? instant / a : instant * a;
    if (forward == k) instant = nextafter(instant, INFINITY) + 1e-20 * (divide ? fabs(1 / a) : fabs(a));
    registerTimeEvent(instant, modelData);
    return k;
}

int eventIterationFlag(void) { return activeModelData()->eventFlag; }

// ---- Step factor of inline integration ----

// History of the reduced-step window, kept per thread: instances stepped on
// different threads each see their own, and on one thread it behaves as a
// single shared history (one instance at a time per thread may use inline
// integration). It restarts at every initial call.
static thread_local double windowStart = -1e30;
static thread_local double windowEnd = -1e30;
static thread_local double lastAdvanceTime = -1e30;
static thread_local double referenceTime = 0;
static thread_local double previousTime = 0;
static thread_local double advanceRatio = 1.0;
static thread_local double previousRatio = 1.0;   // f1
static thread_local double reductionFactor = 1.0; // f2
static thread_local double complementFactor = 1.0; // f3
static thread_local double lowerBound = 1.0;      // f4

static bool movesTowardZero(double nearer, double farther) {
    return nearer > 0 ? nearer < farther : farther < nearer;
}

void eventStepFactor(ModelData* modelData, double time, int initial, int eventFlag, double* eventIndicators,
                     int relations, double* derivatives, int n, ModelTimeData* timeData, ModelFlags* flags) {
    (void)flags;
    ModelData* d = orTemplate(modelData);
    if (!timeData) timeData = getInstanceTimeData(modelData);
    if (!timeData) return;
    if (relations > MODEL_NREL) relations = MODEL_NREL;
    if (relations < 0) relations = 0;
    const int m = 2 * relations;
    double& h = d->stepObserved;

    if (initial) {
        h = 0;
        d->lastEventTime = 1e30;
        windowStart = windowEnd = -1e30;
        lastAdvanceTime = -1e30;
        referenceTime = previousTime = time;
        previousRatio = reductionFactor = complementFactor = lowerBound = advanceRatio = 1.0;
    }
    if (h == 0 && time > d->lastEventTime) h = time - d->lastEventTime;
    if (eventFlag) d->lastEventTime = time;

    if (time > lastAdvanceTime) {
        previousTime = lastAdvanceTime;
        previousRatio = advanceRatio;
        if (h != 0) {
            const double t = (time >= windowStart && time < windowEnd) ? windowStart : time;
            advanceRatio = (t - referenceTime) / h;
        }
        for (int i = 0; i < m; ++i) {
            d->indicatorThird[i] = d->indicatorSecond[i];
            d->indicatorSecond[i] = d->indicatorFirst[i];
            d->indicatorFirst[i] = d->indicatorCurrent[i];
        }
    }
    for (int i = 0; i < m; ++i)
        d->indicatorCurrent[i] = (eventIndicators && d->relationEvaluated[i / 2 + 1]) ? eventIndicators[i] : 0;

    if (h != 0 && time >= windowEnd && eventIndicators) {
        lowerBound = 0;
        reductionFactor = 0;
        const double e = (timeData[kTimeNextEvent] - time) / h;
        if (e > 0 && e < 2 && e > reductionFactor) reductionFactor = e; // a time event within two steps
        for (int i = 0; i < m; ++i) {
            const double z = eventIndicators[i];
            const double first = d->indicatorFirst[i];
            const double second = d->indicatorSecond[i];
            const double third = d->indicatorThird[i];
            const double s = (z - first) / advanceRatio;
            const int j = i / 2 + 1;
            const double a = eventIndicators[2 * j - 2];
            const double b = eventIndicators[2 * j - 1];
            if (!(z * (2.4 * s + z) < 0) || !d->relationEvaluated[j] || (a < 0) != (b < 0)) continue;
            double o = -z / s + 0.19999999999999996;
            if (previousTime > -1e30 && movesTowardZero(first, second)) {
                const double u = advanceRatio + previousRatio;
                const double w = advanceRatio * u * previousRatio;
                const double hq = (u * u * (first - z) - advanceRatio * advanceRatio * (second - z)) / w;
                const double q = 4 * z * (-u * (first - z) + advanceRatio * (second - z)) / w;
                const double kq = (first > 0 ? second < third : third < second) ? 0.4 : 0.7;
                const double disc = hq * hq - (q > 0 ? q * (1 + kq) : q * (1 - kq));
                if (disc >= 0) {
                    const double sign = hq > 0 ? 1.0 : -1.0;
                    const double root = 0.040000000000000036 - 2 * z / (-hq - sign * sqrt(disc));
                    if (root > -0.5 && root < 2.5) o = root;
                }
            }
            if (o > 0 && o < 2 && o > reductionFactor) reductionFactor = o;
        }
        if (reductionFactor != 1e30 && reductionFactor != lowerBound && reductionFactor < 1) {
            if (reductionFactor < 0) reductionFactor = 0;
            complementFactor = 2 - reductionFactor;
            windowStart = time + 0.9999999999 * h;
            windowEnd = time + 1.9999999999 * h;
        } else {
            complementFactor = 1;
            windowStart = windowEnd = time;
        }
    }

    lastAdvanceTime = time;
    referenceTime = time;
    d->stepUsed = h;
    timeData[kTimeStepFactor] = 1;
    double factor = 0;
    if (time < windowStart) {
        factor = reductionFactor;
    } else if (time < windowEnd) {
        factor = complementFactor;
        referenceTime = windowStart;
    } else {
        return;
    }
    timeData[kTimeStepFactor] = factor;
    d->stepUsed = factor * h;
    if (derivatives)
        for (int i = 0; i < n; ++i) derivatives[i] *= factor;
}

// Small runtime services for generated model code.
#include "runtime_services.h"

#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <mutex>

#include "runtime.h"

static ModelData* orTemplate(ModelData* modelData) {
    return modelData ? modelData : modelDataTemplate();
}

// ---- Homotopy operator ----

double homotopyValue(double actual, double simplified, ModelData* modelData) {
    ModelData* d = orTemplate(modelData);
    d->homotopyUsed = 1;
    return simplified * (1 - d->lambda) + actual * d->lambda;
}

// ---- Timers ----

// The wrap bookkeeping of the process clock is process-wide; timers run on
// any thread, so it is kept under a lock.
static std::mutex clockLock;
static double clockLastReading = 0.0;
static double clockOffset = 0.0;

double cpuClockFromReading(long long reading) {
    if (reading == -1) return 0.0;
    std::lock_guard<std::mutex> guard(clockLock);
    const double value = (double)reading;
    if (value < clockLastReading) clockOffset += 4294967296.0; // 256^4
    clockLastReading = value;
    return value + clockOffset;
}

double cpuClock(void) {
    clock_t ticks = clock();
    if (ticks == (clock_t)-1) return cpuClockFromReading(-1);
    // Milliseconds on a 32-bit counter.
    const unsigned long long milliseconds = (unsigned long long)ticks / (CLOCKS_PER_SEC / 1000);
    return cpuClockFromReading((long long)(milliseconds & 0xFFFFFFFFull));
}

double elapsedTimer(double* start, int relative, int argument3, int argument4) {
    (void)argument3; // meaningful only to a timer callback, which these libraries do not install
    (void)argument4;
    const double reading = cpuClock();
    if (relative) return 0.001 * (reading - (start ? *start : 0.0));
    if (start) *start = reading;
    return reading;
}

// The process-wide timer's start, taken by the first call on any thread.
static std::mutex globalTimerLock;
static double globalTimerStart = 0.0;
static int globalTimerStarted = 0;

double globalElapsedTimer(int ignored1, int ignored2, int argument3, int argument4) {
    (void)ignored1;
    (void)ignored2;
    std::lock_guard<std::mutex> guard(globalTimerLock);
    if (!globalTimerStarted) {
        globalTimerStarted = 1;
        return elapsedTimer(&globalTimerStart, 0, argument3, argument4);
    }
    return elapsedTimer(&globalTimerStart, 1, argument3, argument4);
}

// ---- Animation attributes ----

double animationShapeCode(const char* name) {
    static const struct {
        const char* name;
        int code;
    } shapes[] = {{"box", 101},       {"sphere", 102},       {"cylinder", 103}, {"cone", 104}, {"pipe", 105},
                  {"beam", 106},      {"wirebox", 107},      {"gearwheel", 108}, {"vector", 109},
                  {"pipecylinder", 110}, {"spring", 111},    {"tire", 112},     {"tyre", 112}};
    if (!name) return 200;
    for (const auto& shape : shapes)
        if (strcmp(name, shape.name) == 0) return shape.code;
    return 200 + atoi(name);
}

// x scaled, minus 0.5, truncated and clamped to 0..limit; the clamp is done in
// double, so NaN and huge values never reach the integer conversion.
static int packComponent(double x, double scale, int limit) {
    double v = x * scale - 0.5;
    if (!(v >= 0)) return 0; // also NaN
    if (v >= limit) return limit;
    return (int)v;
}

double animationPackMaterial(double a, double b, double c, double d) {
    return packComponent(a, 100, 99) * 100000.0 + packComponent(b, 100, 99) * 1000.0 +
           packComponent(c, 100, 99) * 10.0 + packComponent(d, 10, 9);
}

// ---- Memory arguments ----

double getMemory(const double* pointer, int shape1, int shape2) {
    if (shape1 == 1 && shape2 == 1) {
        runtimeError("Memory argument to getMemory must be a vector.");
        return 0.0;
    }
    return *pointer;
}

void putMemory(int store, double* target, int shape1, int shape2, double value) {
    if (shape1 == 1 && shape2 == 1) {
        runtimeError("Memory argument to putMemory must be a vector.");
        return;
    }
    if (store) *target = value;
}

// ---- Event counters ----

static_assert(offsetof(ModelData, eventCount) == offsetof(ModelData, savedParameterCounter) + 4 &&
                  offsetof(ModelData, statePerturbation) == offsetof(ModelData, eventCount) + 4 &&
                  offsetof(ModelData, savedParameterCounter) == offsetof(ModelData, initialCall) + 7 * 4,
              "the event counters are one block of int32 from initialCall to statePerturbation");

int32_t* eventCounters(void) {
    return &activeModelData()->initialCall;
}

// ---- Arrays of records ----

int recordArraySize(RealArray array, int i) {
    return RealSize(array, i);
}

RealArray recordSubArray(RealArray array, int k, int i) {
    return RealSubArrayView(k, i, array);
}

IntegerArray recordArrayDims(RealArray array) {
    IntegerArray b = RealSizes(array);
    RuntimeAssert(b.ndims > 0 && b.dims[0] > 0, "b.ndims>0 && b.dims[0]>0", "Error in record logic");
    b.dims[0] -= 1;
    return b;
}

int recordArrayFillColumn(void** matrix, int leadingDimension, int n, int* counter, void* const* source,
                          int sourceCount) {
    *counter += 1;
    for (int i = 1; i <= n; ++i)
        matrix[*counter + leadingDimension * (i - 1) - 1] = i <= sourceCount ? source[i - 1] : nullptr;
    return n;
}

// ---- Enumerations ----

char* enumToString(int index, int leftJustified, int minWidth, StringArray names) {
    RuntimeAssert(minWidth < 40, "minwidth<40", "");
    RuntimeAssert(names.ndims == 1 && index >= 1 && index <= names.dims[0],
                  "names.ndims==1 && x>=1 && x<=names.dims[0]", "");
    const char* name = names.data[index - 1] ? names.data[index - 1] : "";
    const char* format = leftJustified ? "%-*s" : "%*s";
    int length = snprintf(nullptr, 0, format, minWidth, name);
    if (length < 0) { // a width the formatter cannot honour: the name alone
        minWidth = 0;
        length = (int)strlen(name);
    }
    char* text = SimpleStringAlloc(length);
    if (text) snprintf(text, (size_t)length + 1, format, minWidth, name); // null: the buffer is full
    return text;
}

int checkEnumConversion(int value, int maxEnumValue, const char* message) {
    if (value <= 0 || value > maxEnumValue)
        RuntimeAssert(0, "toConvert >= 1 && toConvert <= maxEnumValue", message);
    return value;
}

// ---- Smooth steps ----

double smoothStep(double x, double dx) {
    if (dx < 0) {
        x = -x;
        dx = -dx;
    }
    if (x <= -dx) return 0.0;
    if (x >= dx) return 1.0;
    const double halfPi = asin(1.0);
    return (1 + tanh(tan(x / dx * halfPi))) / 2;
}

double smoothStepDer(double x, double dx, double xDer, double dxDer) {
    if (dx < 0) {
        x = -x;
        dx = -dx;
        xDer = -xDer;
        dxDer = -dxDer;
    }
    if (x <= -dx || x >= dx) return 0.0;
    const double halfPi = asin(1.0);
    const double y = x / dx * halfPi;
    const double coshTan = cosh(tan(y));
    const double cosY = cos(y);
    return ((xDer - (x / dx) * dxDer) * halfPi / (2 * dx)) / (coshTan * coshTan * cosY * cosY);
}

double smoothDerivative(double a, double b, double x, double dx, double aDer, double bDer, double xDer,
                        double dxDer) {
    const double s = smoothStep(x, dx);
    double result = s * (s > 0 ? aDer : 0) + (1 - s) * (s < 1 ? bDer : 0);
    if (s > 0 && s < 1) result += smoothStepDer(x, dx, xDer, dxDer) * (a - b);
    return result;
}

// ---- String variables ----

static const int kStringSlots = MODEL_NSTRING_SLOTS;

void stringVariablesInit(ModelData* modelData) {
    ModelData* d = orTemplate(modelData);
    // A table copied with the record from another one points at that
    // record's slots: such a table is pointed at this record's own slots too.
    if (kStringSlots <= 0 || d->stringSlotTable[0] == d->stringSlots[0]) return;
    for (int i = 0; i < kStringSlots; ++i) d->stringSlotTable[i] = d->stringSlots[i];
}

void stringVariableSet(ModelData* modelData, const char* text, int index) {
    ModelData* d = orTemplate(modelData);
    if (index < 0 || index >= kStringSlots) {
        runtimeMessage("Internal error in String handling.");
        return;
    }
    if (!text) text = "";
    char* slot = d->stringSlots[index];
    const size_t length = strlen(text);
    const size_t kept = length < kStringSlotLength - 1 ? length : kStringSlotLength - 1;
    memmove(slot, text, kept);
    slot[kept] = '\0';
    if (length > kept) {
        runtimeMessage("Truncated string variable to");
        runtimeMessage(slot);
    }
}

void stringArrayVariableSet(ModelData* modelData, StringArray strings, int first) {
    long long count = 1;
    for (int i = 0; i < strings.ndims && count > 0 && count <= kStringSlots; ++i)
        count *= strings.dims[i] > 0 ? strings.dims[i] : 0;
    if (strings.ndims < 0 || first < 0 || first + count > kStringSlots) {
        runtimeMessage("Internal error in String array handling.");
        return;
    }
    for (int i = 0; i < (int)count; ++i) stringVariableSet(modelData, strings.data[i], first + i);
}

const char* stringVariableGet(ModelData* modelData, int index) {
    ModelData* d = orTemplate(modelData);
    if (index < 0 || index >= kStringSlots) return "";
    return d->stringSlots[index];
}

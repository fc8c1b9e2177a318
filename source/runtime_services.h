// Small services that generated model code calls for built-in operators and
// bookkeeping: the homotopy operator, CPU timers, animation attributes,
// memory access checks, event counters, enumeration checks, smooth steps and
// the string variables kept in ModelData.
#pragma once

#include <stdint.h>

#include "matrixop.h"
#include "model_data.h"

extern "C" {

// simplified * (1 - lambda) + actual * lambda; marks homotopy as used.
double homotopyValue(double actual, double simplified, ModelData* modelData);

// The process clock in milliseconds, monotonic across the 32-bit wrap.
double cpuClock(void);
// Relative: seconds since *start; absolute: the clock reading, stored in *start.
double elapsedTimer(double* start, int relative, int argument3, int argument4);
// elapsedTimer on a process-wide start: absolute on the first call, relative afterwards.
double globalElapsedTimer(int ignored1, int ignored2, int argument3, int argument4);

double animationShapeCode(const char* name);
double animationPackMaterial(double a, double b, double c, double d);

double getMemory(const double* pointer, int shape1, int shape2);
void putMemory(int store, double* target, int shape1, int shape2, double value);

// The int32 counters of the bound ModelData (the template's when none is
// bound) that end with savedParameterCounter, eventCount and statePerturbation.
int32_t* eventCounters(void);

// Arrays of records.
int recordArraySize(RealArray array, int i);
RealArray recordSubArray(RealArray array, int k, int i);
// The sizes of the array without its last dimension.
IntegerArray recordArrayDims(RealArray array);
// Increments *counter and stores source[0..n-1] (null past sourceCount) down
// column *counter of matrix; returns n.
int recordArrayFillColumn(void** matrix, int leadingDimension, int n, int* counter, void* const* source,
                          int sourceCount);

// names[index] padded to minWidth (left-justified or right-justified), in the simple-string buffer.
char* enumToString(int index, int leftJustified, int minWidth, StringArray names);
int checkEnumConversion(int value, int maxEnumValue, const char* message);

double smoothStep(double x, double dx);
double smoothStepDer(double x, double dx, double xDer, double dxDer);
double smoothDerivative(double a, double b, double x, double dx, double aDer, double bDer, double xDer,
                        double dxDer);

// String variables: 500-character slots in ModelData (null: the template), indexed from 0.
void stringVariablesInit(ModelData* modelData);
void stringVariableSet(ModelData* modelData, const char* text, int index);
// Each element of strings into the slots from first on.
void stringArrayVariableSet(ModelData* modelData, StringArray strings, int first);
const char* stringVariableGet(ModelData* modelData, int index);

} // extern "C"

// The monotonic clock for one raw reading of the 32-bit millisecond clock (-1: no reading).
double cpuClockFromReading(long long reading);

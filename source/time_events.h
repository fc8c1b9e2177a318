// Time and sample events of generated model code, and the step-factor
// computation of inline integration. Each service keeps its state in
// ModelData, raises the event flags of the running call when its condition
// changes and registers the next instant in ModelTimeData[2].
#pragma once

#include "model_data.h"

extern "C" {

// Registers t as a pending time event of the instance (ModelTimeData[2]).
void registerTimeEvent(double t, ModelData* modelData);
// The same for the ModelData bound to the calling thread (the template when none is).
void registerTimeEventCurrent(double t);

// Time-reached event at t0. `state` is 1 once the time has reached t0.
int timeEvent(double t0, double ignored, ModelData* modelData, double time, double scale, int* eventFlag,
              int* secondFlag, int log, int setEvent, int* state);

double sampleCount(double t, double start, double interval);
int sampleEvent(ModelData* modelData, double time, double start, double interval, int index, int initial,
                int active);
int sampleEventSubSampled(ModelData* modelData, double time, double start, double interval, int shift, int factor,
                          int index, int initial, int active);
int sampleEventInitial(ModelData* modelData, double time, double start, double interval, int index, int initial,
                       int active);
double integerTimeEvent(int divide, double a, ModelData* modelData, double time, int* eventFlag, int* secondFlag,
                        int index, int log);

// The event flag of the bound ModelData (the template's when none is bound).
int eventIterationFlag(void);

// Shortens the next fixed step of inline integration ahead of a predicted
// crossing or time event; called by the evaluation driver at the end of a call.
void eventStepFactor(ModelData* modelData, double time, int initial, int eventFlag, double* eventIndicators,
                     int relations, double* derivatives, int n, ModelTimeData* timeData, ModelFlags* flags);

} // extern "C"

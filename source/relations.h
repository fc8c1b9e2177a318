// Relations with hysteresis: a relation of generated model code gives two
// event indicators (its value minus a signed event epsilon) and a stored
// truth value that changes only while the model is evaluated at an event.
#pragma once

#include "model_data.h"

extern "C" {

// One evaluation of a relation at an event. result: the stored truth value
// (in/out); epsilon: the signed event epsilon (in/out); output: the signed
// minimum epsilon (out); minEpsilon/maxEpsilon: smallest and largest size of
// the epsilon; initial: non-zero in the initial call; flagsWord: bit 2 logs
// changes, bit 4 also logs at the initial call; changed/changedInCall (may be
// null): set to 1 on a change; direction: 1 for value >= 0, 0 for value <= 0;
// asWritten: 1 the relation's value, 0 its negation; hysteresis: non-zero to
// compare value - epsilon; allowGrowth: the epsilon may grow; index: from 1.
void evaluateRelation(const char* condition, const char* expression, int* result, double* epsilon, double* output,
                      double minEpsilon, double value, int initial, int flagsWord, int* changed, int* changedInCall,
                      int direction, int asWritten, int hysteresis, double maxEpsilon, int allowGrowth, int index);

// evaluateRelation on the slots of relation i (from 1) in modelData (null: the template).
void crossingFunction(ModelData* modelData, const char* condition, const char* expression, int i, int flagsWord,
                      int direction, int asWritten);

} // extern "C"

// The generated functions of the room model, reached through modelTable, and
// the split-factor function its initial section calls.
#pragma once

#include "matrixop.h"
#include "model_interface.h"

extern "C" {

int modelEquations(int* level, int* computedLevel, double* time, double* states, double* stateDerivativesIn,
                   double* inputs, double* parameters, int* integerParameters, int* logicalParameters,
                   double* derivatives, double* outputs, double* auxiliaries, double* eventIndicators,
                   ModelTimeData* timeData, ModelFlags* flags, char** strings, ModelData* modelData, int* QiErr);
void modelStartValues(double* states, double* parameters, double* inputs);
void updateHeldValues(double* time, double* states, double* stateDerivativesIn, double* inputs, double* parameters,
                      int* integerParameters, int* logicalParameters, double* derivatives, double* outputs,
                      double* auxiliaries, double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags,
                      char** strings, ModelData* modelData, int updateKind, int startPass);
// updateHeldValues on the global template; the held-value mode is made
// non-negative first and the two extra ints are kept process-wide.
void updateHeldValuesGlobal(double* time, double* states, double* stateDerivativesIn, double* inputs,
                            double* parameters, int* integerParameters, int* logicalParameters, double* derivatives,
                            double* outputs, double* auxiliaries, double* eventIndicators, ModelTimeData* timeData,
                            ModelFlags* flags, char** strings, int updateKind, int startPass);
void modelHomotopyHook(double* time, double* states, double* stateDerivativesIn, double* inputs, double* parameters,
                       int* integerParameters, int* logicalParameters, double* derivatives, double* outputs,
                       double* auxiliaries, double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags,
                       char** strings, ModelData* modelData, int flag);

// Split factors of the zone's surfaces: an nRow x nCol matrix, allocated in
// the caller's scratch buffers.
RealArray splitFacVal(int nRow, int nCol, RealArray AArray, RealArray AExt, RealArray AWin);

} // extern "C"

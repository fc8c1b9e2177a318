// The generated functions of the sine source model, reached through modelTable.
#pragma once

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
void modelHomotopyHook(double* time, double* states, double* stateDerivativesIn, double* inputs, double* parameters,
                       int* integerParameters, int* logicalParameters, double* derivatives, double* outputs,
                       double* auxiliaries, double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags,
                       char** strings, ModelData* modelData, int flag);

} // extern "C"

// How a generated model plugs into the runtime: the evaluation entry points
// and the table of model functions the driver calls. Each model folder
// defines `modelTable`; test models fill the same table with their own code.
#pragma once

#include "model_data.h"

extern "C" {

// The 18 arguments of a model evaluation, in the order of the model entry.
typedef int (*ModelEquationsFn)(int* level, int* computedLevel, double* time, double* states,
                                double* stateDerivativesIn, double* inputs, double* parameters,
                                int* integerParameters, int* logicalParameters, double* derivatives, double* outputs,
                                double* auxiliaries, double* eventIndicators, ModelTimeData* timeData,
                                ModelFlags* flags, char** strings, ModelData* modelData, int* QiErr);
typedef void (*ModelStartValuesFn)(double* states, double* parameters, double* inputs);
typedef void (*UpdateHeldValuesFn)(double* time, double* states, double* stateDerivativesIn, double* inputs,
                                   double* parameters, int* integerParameters, int* logicalParameters,
                                   double* derivatives, double* outputs, double* auxiliaries,
                                   double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags,
                                   char** strings, ModelData* modelData, int updateKind, int startPass);
typedef void (*ModelHomotopyHookFn)(double* time, double* states, double* stateDerivativesIn, double* inputs,
                                    double* parameters, int* integerParameters, int* logicalParameters,
                                    double* derivatives, double* outputs, double* auxiliaries,
                                    double* eventIndicators, ModelTimeData* timeData, ModelFlags* flags,
                                    char** strings, ModelData* modelData, int flag);

struct ModelTable {
    ModelEquationsFn modelEquations;
    ModelStartValuesFn modelStartValues;
    UpdateHeldValuesFn updateHeldValues;
    ModelHomotopyHookFn modelHomotopyHook;
    // Start texts of the string variables (NULL when the model has none).
    const char* const* stringStartValues;
};

// Defined by the model folder.
extern ModelTable modelTable;

// Model evaluation entries.
int dsblock_(int* level, int* computedLevel, double* time, double* states, double* stateDerivativesIn,
             double* inputs, double* parameters, int* integerParameters, int* logicalParameters,
             double* derivatives, double* outputs, double* auxiliaries, double* eventIndicators,
             ModelTimeData* timeData, ModelFlags* flags, char** strings, int* QiErr);
int dsblockDriver(int* level, int* computedLevel, double* time, double* states, double* stateDerivativesIn,
                  double* inputs, double* parameters, int* integerParameters, int* logicalParameters,
                  double* derivatives, double* outputs, double* auxiliaries, double* eventIndicators,
                  ModelTimeData* timeData, ModelFlags* flags, char** strings, ModelData* modelData, int* QiErr);

} // extern "C"

// The 18 arguments of one model evaluation gathered in one record, so that the
// driver and the generated sections pass them along as one.
struct ModelArguments {
    int* level;
    int* computedLevel;
    double* time;
    double* states;
    double* stateDerivativesIn;
    double* inputs;
    double* parameters;
    int* integerParameters;
    int* logicalParameters;
    double* derivatives;
    double* outputs;
    double* auxiliaries;
    double* eventIndicators;
    ModelTimeData* timeData;
    ModelFlags* flags;
    char** strings;
    ModelData* d;
    int* QiErr;
};

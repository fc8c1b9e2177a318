// Start values of the room model and the table through which the runtime
// reaches its generated functions.
#include "room_model.h"

static const double kParameterStart[24] = {
    101325.0,        // start pressure of the air volume
    295.15,          // start temperature of the air volume
    1.0,   5.0, 2.7, 0.01642857143, 1.0, 2.7, 0.00331421908725, 0.1265217391, 5259932.23,
    1.0,   1.0,      // weights of the two heat flows
    293.15, 293.15, 293.15,
    293.15, 0.0,     // reference value and coefficient of the first correction factor
    293.15, 0.0,     // reference value and coefficient of the second correction factor
    287.5,           // factor of the temperature differences in the linear blocks
    0.0,   0.0,      // heat-flow input terms
    0.5,             // factor of input 0
};

void modelStartValues(double* states, double* parameters, double* inputs) {
    if (states) {
        states[0] = 0.0;
        states[1] = 0.0;
        states[2] = 0.0;
    }
    if (parameters) {
        for (int i = 0; i < 24; ++i) parameters[i] = kParameterStart[i];
    }
    if (inputs) {
        inputs[0] = 0.0;
        inputs[1] = 288.15;
    }
}

ModelTable modelTable = {modelEquations, modelStartValues, updateHeldValues, modelHomotopyHook, nullptr};

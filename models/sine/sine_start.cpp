// Start values of the sine source model and the table through which the
// runtime reaches its generated functions.
#include "sine_model.h"

// Parameters by role: amplitude, frequency in hertz, phase in radians, offset, start time.
void modelStartValues(double* states, double* parameters, double* inputs) {
    (void)states; // the model has no states
    if (parameters) {
        parameters[0] = 1.0;
        parameters[1] = 1.0;
        parameters[2] = 0.0;
        parameters[3] = 0.0;
        parameters[4] = 0.0;
    }
    if (inputs) {
        inputs[0] = 0.0;
        inputs[1] = 0.0;
    }
}

ModelTable modelTable = {modelEquations, modelStartValues, updateHeldValues, modelHomotopyHook, nullptr};

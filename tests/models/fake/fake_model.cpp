// The test model's default functions: start values only. Tests replace the
// entries of modelTable with the equations they need.
#include <string.h>

#include "model_interface.h"

const char* const fakeStringStart[2] = {"first start text", "second"};

static void fakeStartValues(double* states, double* parameters, double* inputs) {
    if (states) {
        states[0] = 1.0;
        states[1] = -2.0;
    }
    if (parameters) {
        parameters[0] = 0.5;
        parameters[1] = 1.5;
        parameters[2] = 2.5;
    }
    if (inputs) {
        inputs[0] = 0.0;
        inputs[1] = 3.0;
    }
}

ModelTable modelTable = {nullptr, fakeStartValues, nullptr, nullptr, fakeStringStart};

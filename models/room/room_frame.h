// What the room model's equation files share: the argument frame of one
// evaluation, the section gates, the relation protocol, guarded divisions and
// scalar solves, and the layout of the model workspace in ModelData.
#pragma once

#include "model_interface.h"

namespace room {

// The arguments of one evaluation of the equations.
struct Frame {
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

// Gas constant and specific heat of the medium.
constexpr double kGasConstant = 287.0508037566665;
constexpr double kSpecificHeat = 1005.45;

// Logs the kept value of a singular scalar equation with both sides zero.
enum { kFlagsLogSingular = 0x1000 };

// Layout of the model workspace (ModelData::modelHead and modelHeadInts): the
// level-2 coefficients k1..k11, then per linear block its matrix, right side,
// previous solution and solver work array; the ints hold each block's
// integer work array and factorisation state.
enum {
    kCoefficients = 0, // k1..k11 at 0..10
    kSimulationBlock = 11,
    kInitializationBlock = 35,
    kSimulationInts = 0,
    kInitializationInts = 6
};
static_assert(kSimulationBlock + 2 * 2 + 2 + 2 + (2 * 2 + 6 * 2) == kInitializationBlock, "block layout");
static_assert(kInitializationBlock + 3 * 3 + 3 + 3 + (3 * 3 + 6 * 3) <= MODEL_HEAD_DOUBLES, "workspace size");
static_assert(kInitializationInts + 2 * 3 + 1 + 1 <= MODEL_HEAD_INTS, "integer workspace size");

// The initial section: at the initial call (raising crossingChanged, so the
// driver iterates) or while an extra initial pass runs.
bool initialGate(Frame& f);
// Equation section k + 1 (k = 0: outputs, 1: derivatives, 2: the rest): when
// the level asks beyond what is computed, at an event, or for the indicators.
bool levelGate(Frame& f, int k);
// The initialization part: extra initial pass, or the initial call with
// flags[10] clear (raising crossingChanged).
bool initializationGate(Frame& f);

// One relation "left >= right" (direction 1) or "left <= right" (direction 0),
// number i from 1: nominal, value, the stored truth value updated at events,
// the two event indicators. Returns whether the relation holds.
bool relation(Frame& f, int i, double left, double right, const char* condition, const char* expression,
              int direction);

// numerator / denominator; a zero denominator raises the division error with the two texts.
double divide(double numerator, const char* numeratorText, double denominator, const char* denominatorText);

// x from coefficient * x = rhs; start is kept when both are zero, a zero
// coefficient with a non-zero rhs is the singular-equation error.
double solveScalar(Frame& f, double coefficient, double rhs, double start, const char* name, const char* rhsText,
                   const char* coefficientText);

// The assertions on the medium, with the texts of the medium model.
void temperatureRelations(Frame& f, double T);
void pressureRelation(Frame& f, double p, double T);

// updateHeldValues for this frame; startPass under inline integration at the indicator level.
void heldValues(Frame& f, int updateKind);

// The two linear blocks.
void simulationBlockGuarded(Frame& f, bool derivativeSection);
void initializationBlock(Frame& f);

// The split factors of the zone into auxiliaries 94..97.
void splitFactors(Frame& f);

} // namespace room

// Equations of the room model: one air volume of the ideal gas "SimpleAir"
// coupled through convective conductors to an exterior-wall RC element and a
// window to the outdoor temperature. The sections run in a fixed order, each
// behind its gate: constants, parameter-dependent start values, heat-flow
// inputs, start values of the solved variables and of the states, the
// initialization part (with its linear block), then the output, derivative
// and remaining sections.
// States: 0 internal energy U, 1 mass m of the air, 2 wall capacity
// temperature. Inputs: 0 heat flow, 1 outdoor temperature. Output 0: air
// temperature.
#include <string.h>

#include <initializer_list>

#include "matrixop.h"
#include "relations.h"
#include "room_frame.h"
#include "room_model.h"
#include "runtime.h"
#include "runtime_services.h"
#include "thread_context.h"

namespace room {

bool initialGate(Frame& f) {
    ModelData* d = f.d;
    bool result = false;
    if (d->initPhase != 0) {
        result = d->eventCode < eventCodeFurtherPass;
    } else if (d->initialCall == 1) {
        d->crossingChanged = 1;
        result = d->eventCode < eventCodeFurtherPass;
    }
    d->sectionGate = result;
    return result;
}

bool levelGate(Frame& f, int k) {
    ModelData* d = f.d;
    const bool result =
        ((*f.level > k && *f.computedLevel < k + 1) || d->eventFlag || *f.level == levelEventIndicators) &&
        d->eventCode != eventCodeIdle;
    d->sectionGate = result;
    return result;
}

bool initializationGate(Frame& f) {
    ModelData* d = f.d;
    if (d->initPhase == 2) return true;
    if (d->initPhase == 0 && d->initialCall == 1 && f.flags[kFlagInitOutputs] == 0) {
        d->crossingChanged = 1;
        return true;
    }
    return false;
}

bool relation(Frame& f, int i, double left, double right, const char* condition, const char* expression,
              int direction) {
    ModelData* d = f.d;
    d->relationNominals[i] = left > 1 ? left : (-left > 1 ? -left : 1.0);
    d->relationValues[i] = left - right;
    if (d->eventFlag) crossingFunction(d, condition, expression, i, f.flags[kFlagWord], direction, 1);
    const double indicator = d->relationValues[i] - d->eventEpsilons[i];
    f.eventIndicators[2 * i - 2] = indicator;
    f.eventIndicators[2 * i - 1] = indicator;
    d->relationEvaluated[i] = 1;
    return d->relationStates[i] != 0;
}

double divide(double numerator, const char* numeratorText, double denominator, const char* denominatorText) {
    if (denominator == 0) return divisionByZero(numeratorText, numerator, denominatorText, denominator);
    return numerator / denominator;
}

double solveScalar(Frame& f, double coefficient, double rhs, double start, const char* name, const char* rhsText,
                   const char* coefficientText) {
    if (coefficient != 0) return rhs / coefficient;
    if (rhs != 0) singularScalarSystem(name, rhsText, coefficientText, rhs, coefficient, 2);
    if (f.flags[kFlagWord] & kFlagsLogSingular) singularScalarMinNorm(name, start);
    return start;
}

static const char kTLow[] = "thermalZoneOneElement.volAir.dynBal.medium.T >= 273.15";
static const char kTLowExpression[] = "(thermalZoneOneElement.volAir.dynBal.medium.T)-(273.15)";
static const char kTHigh[] = "thermalZoneOneElement.volAir.dynBal.medium.T <= 373.15";
static const char kTHighExpression[] = "(thermalZoneOneElement.volAir.dynBal.medium.T)-(373.15)";
static const char kPressure[] = "thermalZoneOneElement.volAir.dynBal.medium.p >= 0.0";
static const char kPressureExpression[] = "(thermalZoneOneElement.volAir.dynBal.medium.p)-(0.0)";

// Joins the pieces of a message in the simple-string buffer.
static const char* concat(std::initializer_list<const char*> pieces) {
    const char* text = "";
    for (const char* piece : pieces) text = SimpleStringConcat(text, piece);
    return text;
}

static bool temperatureInRange(Frame& f, double T) {
    return relation(f, 2, T, 273.15, kTLow, kTLowExpression, 1) &&
           relation(f, 3, T, 373.15, kTHigh, kTHighExpression, 0);
}

void temperatureRelations(Frame& f, double T) {
    if (temperatureInRange(f, T)) return;
    relation(f, 2, T, 273.15, kTLow, kTLowExpression, 1);
    relation(f, 3, T, 373.15, kTHigh, kTHighExpression, 0);
    RuntimeAssert(0,
                  "thermalZoneOneElement.volAir.dynBal.medium.T >= 273.15 and "
                  "thermalZoneOneElement.volAir.dynBal.medium.T <= 373.15",
                  concat({"\nTemperature T (= ", RealToStringDefault(T, 0, 0), " K) is not\nin the allowed range (",
                          "273.15", " K <= T <= ", "373.15", " K)\nrequired from medium model \"", "SimpleAir",
                          "\".\n"}));
}

void pressureRelation(Frame& f, double p, double T) {
    if (relation(f, 1, p, 0.0, kPressure, kPressureExpression, 1)) return;
    relation(f, 1, p, 0.0, kPressure, kPressureExpression, 1);
    RuntimeAssert(0, kPressure,
                  concat({"Pressure (= ", RealToStringDefault(p, 0, 0), " Pa) of medium \"", "SimpleAir",
                          "\" is negative\n(Temperature = ", RealToStringDefault(T, 0, 0), " K)"}));
}

void heldValues(Frame& f, int updateKind) {
    const int startPass =
        (f.d->inlineIntegration && f.flags[kFlagHeldArg] != 0 && *f.level == levelEventIndicators) ? 1 : 0;
    updateHeldValues(f.time, f.states, f.stateDerivativesIn, f.inputs, f.parameters, f.integerParameters,
                     f.logicalParameters, f.derivatives, f.outputs, f.auxiliaries, f.eventIndicators, f.timeData,
                     f.flags, f.strings, f.d, updateKind, startPass);
}

static const char kSplitCall[] =
    "Ostrane.ThermalZones.ReducedOrder.RC.BaseClasses.splitFacVal(thermalZoneOneElement.dimension, "
    "thermalZoneOneElement.nOrientations, thermalZoneOneElement.AArray, thermalZoneOneElement.AExt, "
    "thermalZoneOneElement.AWin)";

void splitFactors(Frame& f) {
    double* w = f.auxiliaries;
    FunctionFrame call;
    pushFunctionFrame(&call, kSplitCall);
    const RealArray factors =
        splitFacVal(2, 2, RealWrapData(w + 89, 1, 2), RealWrapData(w + 14, 1, 2), RealWrapData(w + 8, 1, 2));
    RealAssign(RealWrapData(w + 94, 2, 2, 2), factors);
    resetFunctionStack();
}

} // namespace room

using namespace room;

// Section 1: the constants of the model.
static void constants(Frame& f) {
    double* w = f.auxiliaries;
    for (int i : {0, 1, 2, 3, 22, 23, 24, 25, 48, 49, 50, 51, 124, 139, 145, 146}) w[i] = 2.0;
    for (int i : {4, 29, 30, 32, 36, 55, 56, 57, 64, 69, 140, 157, 188}) w[i] = 1.0;
    const double from5[] = {52.5, 2.0, 0.0, 7.0, 7.0, 7.0, 7.0, 0.09};
    memcpy(w + 5, from5, sizeof from5);
    w[14] = 3.5, w[15] = 8.0, w[16] = 1.0;
    for (int first : {39, 79}) w[first] = 101325.0, w[first + 1] = 293.15, w[first + 2] = 1.204114944782858;
    w[85] = 2569834.5, w[86] = 25.5, w[87] = 11.5, w[88] = 14.0;
    w[33] = 0.105;
    w[35] = 1.05e-05;
    w[37] = w[74] = 52.5;
    w[66] = kGasConstant;
    w[67] = 0.0289651159;
    w[76] = kSpecificHeat;
    w[89] = 11.5;
    w[90] = 14.0;
    w[91] = 2.0;
    w[92] = w[141] = 0.45098039215686275;
    w[93] = w[142] = 0.5490196078431373;
    for (int i : {13, 17, 18, 19, 31, 34, 44, 47, 58, 59, 60, 68, 72, 73, 75, 78, 83, 84, 121, 123, 132, 135, 137})
        w[i] = 0;
    stringVariableSet(f.d, "SimpleAir", 0);
}

// Section 2: start values that follow the parameters.
static void parameterStartValues(Frame& f) {
    double* w = f.auxiliaries;
    const double* p = f.parameters;
    w[26] = w[42] = w[52] = p[0];
    w[27] = w[43] = w[53] = p[1];
    w[28] = w[54] = p[2];
    w[38] = divide(w[42], "thermalZoneOneElement.volAir.state_start.p", kGasConstant * w[43],
                   "287.0508037566665*thermalZoneOneElement.volAir.state_start.T");
    w[77] = divide(w[52], "thermalZoneOneElement.volAir.dynBal.p_start", kGasConstant * w[53],
                   "287.0508037566665*thermalZoneOneElement.volAir.dynBal.T_start");
    w[82] = kSpecificHeat * (w[53] - 298.15);
    splitFactors(f);
    w[103] = 11.5 * p[7];
    w[109] = 14 * p[4];
    w[110] = w[112] = 6.37 * p[6];
    w[114] = w[115] = 0.63 * p[6];
    w[119] = 11.5 * p[3];
    w[131] = p[5];
    for (int i = 0; i < 4; ++i) w[147 + i] = w[94 + i];
    w[158] = w[168] = p[8];
    w[159] = w[170] = p[9];
    w[160] = w[163] = p[10];
    w[161] = p[1];
}

// Section 3: the heat-flow inputs that the parameters fix.
static void heatFlowInputs(Frame& f) {
    double* w = f.auxiliaries;
    const double* p = f.parameters;
    w[152] = w[110] * p[21];
    w[154] = w[112] * p[22];
    w[156] = -(w[152] * w[149] + w[154] * w[150]);
    w[155] = -(w[152] * w[147] + w[154] * w[148]);
    w[125] = w[114] * p[21];
    w[126] = w[115] * p[22];
    w[127] = p[11] * w[125] + p[12] * w[126];
    w[134] = -w[127];
    w[136] = -w[152];
    w[138] = -w[154];
    w[100] = w[103];
    w[133] = w[127];
    w[106] = w[109];
    w[111] = w[152];
    w[113] = w[154];
}

// Section 4: start values of the solved variables.
static void solvedStartValues(Frame& f) {
    double* w = f.auxiliaries;
    w[99] = w[164] = 0;
    for (int i : {101, 107, 151, 153, 171, 176, 179, 186}) w[i] = 288.15;
}

// Section 5: the states from the start values.
static void stateStartValues(Frame& f) {
    double* w = f.auxiliaries;
    w[45] = w[82];
    w[61] = w[52];
    w[62] = w[77];
    w[63] = w[53];
    w[181] = w[27];
    f.states[0] = 52.5 * w[77] * (kSpecificHeat * (w[53] - 298.15) - kGasConstant * w[53]);
    f.states[1] = 52.5 * w[38];
    f.states[2] = w[161];
    f.outputs[0] = w[27];
}

// Section 7: the initialization part; the linear block fixes the wall temperature.
static void initializationPart(Frame& f) {
    double* w = f.auxiliaries;
    const double* p = f.parameters;
    f.derivatives[1] = 0;
    w[26] = w[52] = w[61] = p[0];
    w[27] = w[53] = w[63] = p[1];
    pressureRelation(f, w[61], w[63]);
    temperatureRelations(f, w[63]);
    resetFunctionStack();
    w[62] = solveScalar(f, -kGasConstant * w[63], -w[61], w[77], "thermalZoneOneElement.volAir.dynBal.medium.d",
                        " -thermalZoneOneElement.volAir.dynBal.medium.p",
                        "(-287.0508037566665)*thermalZoneOneElement.volAir.dynBal.medium.T");
    f.states[1] = 52.49999999999999 * w[62];
    w[45] = kSpecificHeat * (w[63] - 298.15);
    w[65] = w[45] - kGasConstant * w[63];
    f.states[0] = f.states[1] * w[65];
    w[158] = w[168] = p[8];
    w[160] = w[163] = p[10];
    // The wall starts in steady state (der_T = 0), whatever an evaluation in
    // initialization mode left in the derivative: a read of it there would
    // otherwise move the wall's start temperature.
    w[164] = 0;
    w[165] = p[10] * w[164];
    w[159] = w[170] = p[9];
    w[119] = 11.5 * p[3];
    w[131] = p[5];
    w[178] = p[23] * f.inputs[0];
    w[110] = 6.37 * p[6];
    w[152] = w[110] * p[21];
    splitFactors(f);
    w[149] = w[96];
    w[112] = 6.37 * p[6];
    w[154] = w[112] * p[22];
    w[150] = w[97];
    w[156] = -(w[152] * w[149] + w[154] * w[150]);
    w[109] = 14 * p[4];
    f.outputs[0] = 298.15 + 0.0009945795414988312 * w[45];
    w[147] = w[94];
    w[148] = w[95];
    w[155] = -(w[152] * w[147] + w[154] * w[148]);
    w[103] = 11.5 * p[7];
    initializationBlock(f);
}

// Section 8: the air temperature from the internal energy and the mass.
static void outputSection(Frame& f) {
    double* w = f.auxiliaries;
    w[65] = solveScalar(f, -f.states[1], -f.states[0], f.d->heldValues[0],
                        "thermalZoneOneElement.volAir.dynBal.medium.u", " -thermalZoneOneElement.volAir.dynBal.U",
                        " -thermalZoneOneElement.volAir.dynBal.m");
    w[63] = -0.001391983740000293 * (-299774.9175 - w[65]);
    w[45] = kSpecificHeat * (w[63] - 298.15);
    temperatureRelations(f, w[63]);
    resetFunctionStack();
    f.outputs[0] = 298.15 + 0.0009945795414988312 * w[45];
    w[120] = w[181] = f.outputs[0];
}

// The level-2 coefficients of the simulation block.
static void derivativeCoefficients(Frame& f) {
    const double* w = f.auxiliaries;
    const double* p = f.parameters;
    double* k = f.d->modelHead + kCoefficients - 1; // k[1]..k[9]
    const double K = p[23] * f.inputs[0];
    const double E = w[168];
    f.auxiliaries[178] = K;
    k[1] = K * (1 - p[17] * p[16]);
    k[2] = E * k[1];
    k[3] = K * p[17];
    k[4] = k[3] * E;
    k[5] = w[119] * E;
    k[6] = 0.24759707804690506 * k[4] + k[5];
    k[7] = p[20] * w[131] * k[6];
    k[8] = w[103] * E;
    k[9] = w[109] - 0.3014225297962323 * k[3] + w[119];
}

int modelEquations(int* level, int* computedLevel, double* time, double* states, double* stateDerivativesIn,
                   double* inputs, double* parameters, int* integerParameters, int* logicalParameters,
                   double* derivatives, double* outputs, double* auxiliaries, double* eventIndicators,
                   ModelTimeData* timeData, ModelFlags* flags, char** strings, ModelData* modelData, int* QiErr) {
    Frame f{level,       computedLevel, time,    states,      stateDerivativesIn, inputs,   parameters,
            integerParameters, logicalParameters, derivatives, outputs, auxiliaries, eventIndicators, timeData,
            flags,       strings,       modelData ? modelData : modelDataTemplate(), QiErr};
    ModelData* d = f.d;

    if (initialGate(f)) {
        *computedLevel = 0;
        constants(f);
        if (!d->homotopyActive)
            modelHomotopyHook(time, states, stateDerivativesIn, inputs, parameters, integerParameters,
                              logicalParameters, derivatives, outputs, auxiliaries, eventIndicators, timeData, flags,
                              strings, d, 1);
    }
    d->sectionGate = d->parametersChanged && !(d->homotopyActive && d->lambda != 0);
    if (d->sectionGate) parameterStartValues(f);
    d->sectionGate = d->parametersChanged;
    if (d->sectionGate) heatFlowInputs(f);
    if (initialGate(f)) {
        *computedLevel = 0;
        solvedStartValues(f);
    }
    bool stateStart = d->initPhase == 2;
    if (!stateStart && d->initPhase == 0 && d->initialCall == 1 && flags[kFlagInitOutputs] == 0) {
        d->crossingChanged = 1;
        stateStart = true;
    }
    if (stateStart && !(d->homotopyActive && d->lambda > 0) && d->eventCode < eventCodeFurtherPass) stateStartValues(f);
    heldValues(f, 0);

    if (initializationGate(f)) {
        *computedLevel = 0;
        initializationPart(f);
        if (*QiErr != 0) return 0; // the initialization block failed
        derivatives[0] = auxiliaries[98] + auxiliaries[127] + auxiliaries[104] - auxiliaries[182];
        derivatives[2] = auxiliaries[164];
    }
    bool endOfInitial = d->initPhase == 2;
    if (!endOfInitial && d->initPhase == 0 && d->initialCall == 1) {
        d->crossingChanged = 1;
        endOfInitial = true;
    }
    if (endOfInitial) {
        *computedLevel = 0;
        d->initialCall = 0;
        heldValues(f, 2);
        d->initialCall = 1;
        if (d->homotopyActive) {
            if (d->lambda < 1) {
                if (d->statusWord == 0) d->statusWord = -996;
                if (d->statusWord != 0) *QiErr = d->statusWord;
                return 0;
            }
            d->homotopyActive = 0;
            d->lambda = 1;
        }
    }

    if (levelGate(f, 0)) {
        *computedLevel = 1;
        outputSection(f);
    }
    const bool derivativeSection = levelGate(f, 1);
    if (derivativeSection) {
        *computedLevel = 2;
        derivatives[1] = 0;
        derivativeCoefficients(f);
    }
    simulationBlockGuarded(f, derivativeSection);

    if (d->statusWord != 0) *QiErr = d->statusWord;
    return 0;
}

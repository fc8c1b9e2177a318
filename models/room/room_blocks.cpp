// The room model's two linear blocks: the surface temperatures of the
// exterior wall and of the window, coupled through the conductances to the
// air, the wall capacity and the outdoor temperature; and the equations that
// use their solution (heat flows, derivatives, medium density and pressure).
#include <string.h>

#include "linear_solver.h"
#include "room_frame.h"
#include "room_model.h"
#include "runtime.h"

namespace room {

// Shares of the radiative heat input on the wall (a) and the window (b), and their products.
constexpr double kShareA = 0.45098039215686275;
constexpr double kShareB = 0.5490196078431373;
constexpr double kShareAA = 0.20338331410995772;
constexpr double kShareAB = 0.24759707804690506;
constexpr double kShareBB = 0.3014225297962323;

namespace {

// One block's storage in the model workspace.
struct Block {
    double* A;
    double* b;
    double* previous;
    double* work;
    int* iwork;
    int* state;
};

} // namespace

static Block blockAt(ModelData* d, int first, int firstInt, int n) {
    double* base = d->modelHead + first;
    int* ints = d->modelHeadInts + firstInt;
    return Block{base, base + n * n, base + n * n + n, base + n * n + 2 * n, ints, ints + 2 * n + 1};
}

// Solves the block in place (b becomes the solution); false after a solver failure, with QiErr set.
static bool solve(Frame& f, const Block& block, int systemNumber, int n, const char* const* names,
                  const char* systemName) {
    const int mode = 3;
    int error = 0;
    *block.state = 0;
    solveLinearSystem(&systemNumber, &mode, block.A, &n, &n, block.b, block.previous, f.time, &f.d->eventFlag,
                      &f.flags[kFlagWord], block.work, block.iwork, block.state, names, &error, nullptr, nullptr,
                      systemName);
    if (error == 0) return true;
    *f.QiErr = error;
    return false;
}

// The radiative heat input and its shares on the two surfaces, from their temperatures.
static void radiativeInput(Frame& f, double K) {
    double* w = f.auxiliaries;
    const double* p = f.parameters;
    w[179] = kShareA * w[101] + kShareB * w[107];
    w[180] = -K * (1 + p[17] * (w[179] - p[16]));
    w[143] = kShareA * w[180];
    w[144] = kShareB * w[180];
}

// The flows between the air, the window surface (107) and the wall surface (101) at air temperature y.
static void surfaceFlows(Frame& f, double y) {
    double* w = f.auxiliaries;
    w[105] = w[107] - y;
    w[104] = w[109] * w[105];
    w[117] = w[107] - w[101];
    w[116] = w[119] * w[117];
}

// The heat flow from the wall surface into the wall element and the drop over its resistance.
static void intoWall(Frame& f) {
    double* w = f.auxiliaries;
    w[162] = -(w[98] - w[116] + w[143] + w[155]);
    w[166] = w[168] * w[162];
}

// The window path from the solved outer window node (auxiliary 186) to the outdoor temperature.
static void windowPath(Frame& f) {
    double* w = f.auxiliaries;
    w[185] = w[186] - f.inputs[1];
    w[184] = f.parameters[20] * w[185];
    w[130] = -w[131] * w[184];
    w[107] = w[186] - w[130];
}

static const char* const kSimulationNames[] = {"theConWall1.solid.T", "thermalZoneOneElement.convExtWall.solid.T"};

// "simulation.linear[2]" and the equations on its solution, down to the derivatives.
static bool simulationBlock(Frame& f) {
    double* w = f.auxiliaries;
    const double* p = f.parameters;
    double* k = f.d->modelHead + kCoefficients - 1; // k[1]..k[11]
    const double K = w[178];
    const double E = w[168];
    const double y = f.outputs[0];
    const double To = f.inputs[1];
    k[10] = 1 + w[131] * k[9];
    k[11] = p[20] * k[10];

    const Block block = blockAt(f.d, kSimulationBlock, kSimulationInts, 2);
    block.A[0] = k[7] + k[6];
    block.A[1] = k[11] + k[9];
    block.A[2] = kShareAA * k[4] - k[5] - k[8] - 1;
    block.A[3] = -kShareAB * k[3] - w[119];
    block.b[0] = -(f.states[2] + kShareA * k[2] - k[7] * To + k[8] * y - E * w[155]);
    block.b[1] = -(w[156] - kShareB * k[1] - k[11] * To - w[109] * y);
    block.previous[0] = f.d->heldValues[1];
    block.previous[1] = f.d->heldValues[2];
    if (!solve(f, block, 2, 2, kSimulationNames, "simulation.linear[2]")) return false;

    w[186] = block.b[0];
    w[101] = block.b[1];
    windowPath(f);
    radiativeInput(f, K);
    surfaceFlows(f, y);
    w[99] = w[101] - y;
    w[98] = w[103] * w[99];
    intoWall(f);
    w[182] = -K * (1 + p[19] * (y - p[18]));
    f.derivatives[0] = w[98] + w[127] + w[104] - w[182];

    // The remaining resistance and the outer conductor of the wall.
    w[174] = solveScalar(f, 1 + w[170] * p[20], f.states[2] - To, f.d->heldValues[3], "theConWall.dT",
                         "thermalZoneOneElement.extWallRC.thermCapExt[1].T-T_oda",
                         "1.0+thermalZoneOneElement.extWallRC.thermResExtRem.R*hConWall.k");
    w[172] = p[20] * w[174];
    w[169] = w[170] * w[172];
    w[176] = f.states[2] - w[169];
    w[165] = w[162] - w[172];
    w[164] = solveScalar(f, w[163], w[165], f.d->heldValues[4], "thermalZoneOneElement.extWallRC.thermCapExt[1].der_T",
                         "thermalZoneOneElement.extWallRC.thermCapExt[1].port.Q_flow",
                         "thermalZoneOneElement.extWallRC.thermCapExt[1].C");
    f.derivatives[2] = w[164];

    w[177] = -w[172];
    w[187] = -w[168];
    w[102] = -w[98];
    w[108] = -w[104];
    w[167] = -w[162];
    w[128] = -w[182];
    w[129] = -w[180];
    w[118] = -w[116];
    w[46] = -f.derivatives[0];
    w[183] = K;
    w[122] = w[179];
    return true;
}

// Density and pressure of the medium, and the remaining aliases.
static void mediumSection(Frame& f) {
    double* w = f.auxiliaries;
    const double* p = f.parameters;
    w[62] = 0.01904761904761905 * f.states[1];
    const double q = kGasConstant * w[63];
    const double inverse = divide(1.0, "1.0", q, "287.0508037566665*thermalZoneOneElement.volAir.dynBal.medium.T");
    w[61] = solveScalar(f, -inverse, -w[62], f.d->heldValues[5], "thermalZoneOneElement.volAir.dynBal.medium.p",
                        " -thermalZoneOneElement.volAir.dynBal.medium.d",
                        " -1.0/(287.0508037566665*thermalZoneOneElement.volAir.dynBal.medium.T)");
    pressureRelation(f, w[61], w[63]);
    resetFunctionStack();
    w[70] = w[63] - 273.15;
    w[71] = 1e-5 * w[61];
    w[151] = w[101] * w[147] + w[107] * w[149];
    w[153] = w[101] * w[148] + w[107] * w[150];
    w[171] = w[173] = f.inputs[1];
    w[175] = p[20];
    w[20] = p[21];
    w[21] = p[22];
}

// The derivative-level block, the medium section and the held-value update.
static void linearBlock(Frame& f, bool derivativeSection) {
    if (derivativeSection && !simulationBlock(f)) {
        resetFunctionStack();
        return;
    }
    if (levelGate(f, 2)) {
        *f.computedLevel = 3;
        mediumSection(f);
    }
    heldValues(f, 1);
    resetFunctionStack();
}

void simulationBlockGuarded(Frame& f, bool derivativeSection) {
    if (!f.d->repeatPass && (*f.QiErr == 0 || *f.QiErr == -999)) linearBlock(f, derivativeSection);
    if (f.d->statusWord != 0) *f.QiErr = f.d->statusWord;
}

static const char* const kInitializationNames[] = {"theConWall1.solid.T", "thermalZoneOneElement.convExtWall.dT",
                                                   "theConWall.solid.T"};

// "initialization.linear[1]": the steady balance of the wall at the start values; sets the wall temperature state.
void initializationBlock(Frame& f) {
    double* w = f.auxiliaries;
    const double* p = f.parameters;
    const double K = w[178];
    const double E = w[168];
    const double y = f.outputs[0];
    const double To = f.inputs[1];
    const double d1 = K * p[17];
    const double d2 = d1 * E;
    const double d3 = w[119] * E;
    const double d4 = kShareAA * d2 - d3;
    const double d5 = d4 - 1;
    const double d6 = kShareAB * d2 + d3;
    const double d7 = p[20] * w[131] * d6;
    const double d8 = K * (1 - p[17] * p[16]);
    const double d9 = p[20] * w[170];
    const double d10 = -kShareAB * d1 - w[119];
    const double d11 = w[109] - kShareBB * d1 + w[119];
    const double d12 = p[20] * (1 + w[131] * d11);
    const double d13 = w[119] - kShareAA * d1;
    const double d14 = d13 * y;
    const double d15 = p[20] * w[131] * d10;
    const double d16 = d15 * To;

    const Block block = blockAt(f.d, kInitializationBlock, kInitializationInts, 3);
    memset(block.A, 0, 9 * sizeof(double));
    block.A[0] = d7 + d6;
    block.A[1] = d12 + d11;
    block.A[2] = d15 + d10;
    block.A[3] = d4 - E * w[103] - 1;
    block.A[4] = d10;
    block.A[5] = d13 + w[103];
    block.A[6] = 1 + d9;
    block.A[7] = 0;
    block.A[8] = p[20];
    block.b[0] = E * w[155] - (d5 * y - d7 * To + kShareA * E * d8) + d9 * To;
    block.b[1] = -(w[156] + d10 * y - d12 * To - kShareB * d8 - w[109] * y);
    block.b[2] = -(w[165] + d14 - d16 - kShareA * d8 - p[20] * To + w[155]);
    block.previous[0] = 288.15;
    block.previous[1] = 0;
    block.previous[2] = 288.15;
    if (!solve(f, block, 1, 3, kInitializationNames, "initialization.linear[1]")) return;

    w[186] = block.b[0];
    w[99] = block.b[1];
    w[176] = block.b[2];
    w[101] = w[99] + y;
    windowPath(f);
    radiativeInput(f, K);
    surfaceFlows(f, y);
    w[98] = w[103] * w[99];
    w[174] = w[176] - To;
    w[172] = p[20] * w[174];
    w[169] = w[172] * w[170];
    intoWall(f);
    f.states[2] = w[101] - w[168] * w[162];
}

} // namespace room

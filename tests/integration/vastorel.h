// The room model's GUID and value references, and an independent reference
// of its physics for the integration tests of Vastorel: the state equations
// transcribed from the model's formulas (the 2 x 2 surface block solved in
// closed form), a fixed-step RK4 on them, and the steady state of the
// conductance network solved by nodal analysis.
#pragma once

#include <math.h>

#include <stdio.h>

#include <array>
#include <string>

#include "test_host.h"

inline constexpr const char* kRoomGuid = "{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}";

inline constexpr fmi2ValueReference kParameter(unsigned i) { return ref(1, i); }
inline constexpr fmi2ValueReference kState(unsigned i) { return ref(2, i); }
inline constexpr fmi2ValueReference kHeatInput = ref(5, 0);
inline constexpr fmi2ValueReference kOutdoor = ref(5, 1);
inline constexpr fmi2ValueReference kAirTemperature = ref(4, 0, 1);
inline constexpr fmi2ValueReference kStartPressure = kParameter(0);
inline constexpr fmi2ValueReference kStartTemperature = kParameter(1);

inline constexpr double kR = 287.0508037566665;
inline constexpr double kCp = 1005.45;

using RoomState = std::array<double, 3>; // U, m, wall temperature

// Parameters and inputs of the room (the start values of the library unless a test changes them).
struct Room {
    double p[24] = {101325.0, 295.15, 1.0, 5.0, 2.7, 0.01642857143, 1.0, 2.7, 0.00331421908725, 0.1265217391,
                    5259932.23, 1.0, 1.0, 293.15, 293.15, 293.15, 293.15, 0.0, 293.15, 0.0, 287.5, 0.0, 0.0, 0.5};
    double heat = 0.0;      // input 0
    double outdoor = 288.15; // input 1

    // Conductances and resistances of the network.
    double airWall() const { return 11.5 * p[7]; }  // air - wall surface
    double airWindow() const { return 14 * p[4]; }  // air - window surface
    double radiation() const { return 11.5 * p[3]; } // wall surface - window surface
    double windowResistance() const { return p[5]; }
    double wallResistance() const { return p[8]; }
    double remainingResistance() const { return p[9]; }
    double capacity() const { return p[10]; }
    double outerConductance() const { return p[20]; }
};

// The split factors of the zone (surfaces 11.5 and 14 m2, exterior walls 3.5
// and 8 m2, windows 7 and 7 m2), worked out by hand: (A - AExt)/(ATot - AExt -
// AWin) for the first surface, (A - AWin)/(...) for the second.
inline constexpr double kSplit[4] = {8.0 / 15.0, 3.5 / 10.5, 7.0 / 15.0, 7.0 / 10.5};

// Air temperature of a state.
inline double airTemperature(const RoomState& x) {
    const double u = x[0] / x[1];
    const double T = -0.001391983740000293 * (-299774.9175 - u);
    return 298.15 + 0.0009945795414988312 * kCp * (T - 298.15);
}

// The ideal-gas state of the air at pressure p and temperature T in the 52.5 m3 volume.
inline RoomState airState(double p, double T, double wall) {
    const double m = 52.5 * p / (kR * T);
    return {m * (kCp * (T - 298.15) - kR * T), m, wall};
}

// Right-hand side of the three states.
inline RoomState roomDerivatives(const Room& r, const RoomState& x) {
    const double* p = r.p;
    const double y = airTemperature(x);
    const double To = r.outdoor;
    const double K = p[23] * r.heat;
    const double E = p[8];
    const double a103 = r.airWall(), a109 = r.airWindow(), a119 = r.radiation(), a131 = p[5];
    const double q152 = 6.37 * p[6] * p[21], q154 = 6.37 * p[6] * p[22];
    const double a155 = -(q152 * kSplit[0] + q154 * kSplit[1]);
    const double a156 = -(q152 * kSplit[2] + q154 * kSplit[3]);
    const double a127 = p[11] * 0.63 * p[6] * p[21] + p[12] * 0.63 * p[6] * p[22];
    const double sa = 0.45098039215686275, sb = 0.5490196078431373;
    const double k1 = K * (1 - p[17] * p[16]), k2 = E * k1, k3 = K * p[17], k4 = k3 * E, k5 = a119 * E;
    const double k6 = sa * sb * k4 + k5, k7 = p[20] * a131 * k6, k8 = a103 * E;
    const double k9 = a109 - sb * sb * k3 + a119, k10 = 1 + a131 * k9, k11 = p[20] * k10;
    // [A11 A12; A21 A22] [x0; x1] = [b0; b1]
    const double A11 = k7 + k6, A12 = sa * sa * k4 - k5 - k8 - 1, A21 = k11 + k9, A22 = -sa * sb * k3 - a119;
    const double b0 = -(x[2] + sa * k2 - k7 * To + k8 * y - E * a155);
    const double b1 = -(a156 - sb * k1 - k11 * To - a109 * y);
    const double det = A11 * A22 - A12 * A21;
    const double outerWindow = (b0 * A22 - A12 * b1) / det;
    const double wallSurface = (A11 * b1 - A21 * b0) / det;
    const double window = outerWindow + a131 * p[20] * (outerWindow - To);
    const double radiative = -K * (1 + p[17] * (sa * wallSurface + sb * window - p[16]));
    const double toAirWall = a103 * (wallSurface - y);
    const double toAirWindow = a109 * (window - y);
    const double intoWall = -(toAirWall - a119 * (window - wallSurface) + sa * radiative + a155);
    const double convective = -K * (1 + p[19] * (y - p[18]));
    const double outward = p[20] * (x[2] - To) / (1 + p[9] * p[20]);
    return {toAirWall + a127 + toAirWindow - convective, 0.0, (intoWall - outward) / p[10]};
}

// The wall temperature at which the wall capacity is in balance (derivative
// 0) with the air of state x: initialization starts the wall state there. The
// derivative is affine in the wall temperature, so one secant step is exact.
inline double balancedWall(const Room& r, RoomState x) {
    const double a = 280, b = 300;
    x[2] = a;
    const double da = roomDerivatives(r, x)[2];
    x[2] = b;
    const double db = roomDerivatives(r, x)[2];
    return a - da * (b - a) / (db - da);
}

// Fixed-step RK4 from time 0 to t.
inline RoomState rk4(const Room& r, RoomState x, double t, double h) {
    const int n = static_cast<int>(ceil(t / h - 1e-9));
    const double step = t / n;
    for (int i = 0; i < n; ++i) {
        auto at = [&](const RoomState& k, double c) {
            return RoomState{x[0] + c * k[0], x[1] + c * k[1], x[2] + c * k[2]};
        };
        const RoomState k1 = roomDerivatives(r, x);
        const RoomState k2 = roomDerivatives(r, at(k1, step / 2));
        const RoomState k3 = roomDerivatives(r, at(k2, step / 2));
        const RoomState k4 = roomDerivatives(r, at(k3, step));
        for (int j = 0; j < 3; ++j) x[j] += step / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
    }
    return x;
}

// Steady air and wall temperatures under constant inputs (correction factors
// and the fixed heat-flow inputs off): node balances of air y, wall surface s,
// window surface w and wall capacity c; the input heats the air by K and the
// surfaces by K radiatively, split by area.
struct Steady {
    double air, wall;
};
inline Steady steadyState(const Room& r) {
    const double K = r.p[23] * r.heat, To = r.outdoor;
    const double ga = r.airWall(), gw = r.airWindow(), gr = r.radiation();
    const double gs = 1 / r.wallResistance();
    const double gc = 1 / (r.remainingResistance() + 1 / r.outerConductance());
    const double gv = 1 / (r.windowResistance() + 1 / r.outerConductance());
    const double share = 11.5 / 25.5;
    // Rows: air, wall surface, window surface, capacity; unknowns y, s, w, c.
    double M[4][5] = {{-(ga + gw), ga, gw, 0, -K},
                      {ga, -(ga + gr + gs), gr, gs, -share * K},
                      {gw, gr, -(gw + gr + gv), 0, -(1 - share) * K - gv * To},
                      {0, gs, 0, -(gs + gc), -gc * To}};
    for (int i = 0; i < 4; ++i) { // Gaussian elimination with partial pivoting
        int best = i;
        for (int k = i + 1; k < 4; ++k)
            if (fabs(M[k][i]) > fabs(M[best][i])) best = k;
        for (int j = 0; j < 5; ++j) std::swap(M[i][j], M[best][j]);
        for (int k = 0; k < 4; ++k) {
            if (k == i) continue;
            const double f = M[k][i] / M[i][i];
            for (int j = i; j < 5; ++j) M[k][j] -= f * M[i][j];
        }
    }
    return {M[0][4] / M[0][0], M[3][4] / M[3][3]};
}

// The assertion texts of the medium model for a temperature T outside its range.
inline std::string temperatureFailure(double T) {
    char value[32];
    snprintf(value, sizeof value, "%g", T);
    return std::string("  \nTemperature T (= ") + value +
           " K) is not\nin the allowed range (273.15 K <= T <= 373.15 K)\nrequired from medium model \"SimpleAir\".\n"
           "\n  Failed condition: thermalZoneOneElement.volAir.dynBal.medium.T >= 273.15 and "
           "thermalZoneOneElement.volAir.dynBal.medium.T <= 373.15\n";
}

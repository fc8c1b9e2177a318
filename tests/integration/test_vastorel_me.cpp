// The room library in Model Exchange, integrated by the host itself with RK4
// while it watches the event indicators: the start state, agreement with the
// reference physics and its steady state, the range event that fails the
// event update, the directional derivative of the air temperature and the
// singular internal-energy equation of an empty volume.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>

#include <memory>
#include <string>

#include "test_host.h"
#include "vastorel.h"
#include "vastorel_fixture.h"

namespace {

class VastorelME : public VastorelFixture<fmi2ModelExchange> {
protected:
    // Inputs of `room`, then up to continuous-time mode at time 0.
    void start(const Room& room) {
        ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        set(kHeatInput, room.heat);
        set(kOutdoor, room.outdoor);
        ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
        ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);
        fmi2EventInfo info{};
        ASSERT_EQ(api().NewDiscreteStates(c_, &info), fmi2OK);
        ASSERT_EQ(api().EnterContinuousTimeMode(c_), fmi2OK);
        ASSERT_EQ(api().GetContinuousStates(c_, x_, 3), fmi2OK);
        ASSERT_EQ(api().GetEventIndicators(c_, z_, 6), fmi2OK);
    }
    fmi2Status derivativesAt(double t, const double* x, double* dx) {
        if (api().SetTime(c_, t) != fmi2OK || api().SetContinuousStates(c_, x, 3) != fmi2OK) return fmi2Error;
        return api().GetDerivatives(c_, dx, 3);
    }
    // One RK4 step of the host from t; then the step is completed and the
    // indicators compared with the last ones. Returns false on a sign change.
    bool step(double t, double h) {
        double k[4][3], y[3];
        for (int s = 0; s < 4; ++s) {
            const double c = s == 0 ? 0 : s == 3 ? 1 : 0.5;
            for (int j = 0; j < 3; ++j) y[j] = x_[j] + (s == 0 ? 0 : c * h * k[s - 1][j]);
            EXPECT_EQ(derivativesAt(t + c * h, y, k[s]), fmi2OK);
        }
        for (int j = 0; j < 3; ++j) x_[j] += h / 6 * (k[0][j] + 2 * k[1][j] + 2 * k[2][j] + k[3][j]);
        EXPECT_EQ(api().SetTime(c_, t + h), fmi2OK);
        EXPECT_EQ(api().SetContinuousStates(c_, x_, 3), fmi2OK);
        fmi2Boolean enterEventMode = fmi2True, terminate = fmi2True;
        EXPECT_EQ(api().CompletedIntegratorStep(c_, fmi2True, &enterEventMode, &terminate), fmi2OK);
        EXPECT_FALSE(enterEventMode);
        double z[6];
        EXPECT_EQ(api().GetEventIndicators(c_, z, 6), fmi2OK);
        bool same = true;
        for (int i = 0; i < 6; ++i) {
            same = same && (z[i] > 0) == (z_[i] > 0);
            z_[i] = z[i];
        }
        return same;
    }

    double x_[3] = {};
    double z_[6] = {};
};

TEST_F(VastorelME, StartsInBalanceFollowsTheReferenceAndReachesTheSteadyState) {
    Room room;
    room.heat = 800;
    start(room);
    // The ideal-gas start state, the wall in its steady balance, the indicators
    // (pressure, T - 273.15, T - 373.15, each pair alike).
    const RoomState ideal = airState(101325, 295.15, 0);
    EXPECT_NEAR(x_[0], ideal[0], 1e-9 * fabs(ideal[0]));
    EXPECT_NEAR(x_[1], ideal[1], 1e-12 * ideal[1]);
    EXPECT_NEAR(read(kAirTemperature), 295.15, 1e-9);
    double dx[3];
    ASSERT_EQ(api().GetDerivatives(c_, dx, 3), fmi2OK);
    EXPECT_EQ(dx[1], 0);
    EXPECT_NEAR(dx[2], 0, 1e-12); // K/s
    const double indicators[6] = {101325, 101325, 22, 22, -78, -78};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(z_[i], indicators[i], 1e-3) << i;

    RoomState reference = {x_[0], x_[1], x_[2]};
    // A day at ten seconds, the outdoor temperature changed at noon.
    for (int k = 0; k < 8640; ++k) {
        if (k == 4320) {
            room.outdoor = 275;
            set(kOutdoor, room.outdoor);
        }
        ASSERT_TRUE(step(10.0 * k, 10.0)) << "no event expected at " << 10.0 * k;
        if (k % 360 == 359) {
            reference = rk4(room, reference, 3600, 1.0);
            const double expected = airTemperature(reference);
            ASSERT_NEAR(read(kAirTemperature), expected, 1e-7 * expected) << (k + 1) * 10;
            ASSERT_NEAR(x_[2], reference[2], 1e-7 * reference[2]);
        }
    }
    // Two more months at ten minutes.
    for (int k = 0; k < 60 * 144; ++k) ASSERT_TRUE(step(86400 + 600.0 * k, 600.0));
    const Steady steady = steadyState(room);
    EXPECT_NEAR(read(kAirTemperature), steady.air, 1e-6);
    EXPECT_NEAR(x_[2], steady.wall, 1e-6);
    EXPECT_EQ(x_[1], reference[1]);
}

TEST_F(VastorelME, TheRangeEventSeenByTheHostFailsTheEventUpdate) {
    Room room;
    room.heat = 2e6;
    start(room);
    double t = 0;
    while (t < 60 && step(t, 0.01)) t += 0.01;
    ASSERT_LT(t, 60) << "the indicator of the upper temperature bound changes sign";
    EXPECT_GT(z_[4], 0);
    const double T = read(kAirTemperature);
    EXPECT_GT(T, 373.15);
    host_->clearLog();
    ASSERT_EQ(api().EnterEventMode(c_), fmi2OK);
    fmi2EventInfo info{};
    EXPECT_EQ(api().NewDiscreteStates(c_, &info), fmi2Error);
    EXPECT_TRUE(host_->logContains(temperatureFailure(T)))
        << host_->logText();
}

TEST_F(VastorelME, DirectionalDerivativeOfTheAirTemperatureMatchesTheAnalyticOne) {
    start(Room());
    // T = 298.15 + h/cp with h = cp (T - 298.15) and T = (U/m + 298.15 cp)/(cp - R).
    const double U = x_[0], m = x_[1];
    const double dTdu = 0.001391983740000293 * 0.0009945795414988312 * kCp;
    const double expected[3] = {dTdu / m, -dTdu * U / (m * m), 0};
    const fmi2ValueReference known[3] = {kState(0), kState(1), kState(2)};
    for (int j = 0; j < 3; ++j) {
        double seed[3] = {0, 0, 0};
        seed[j] = 1;
        double dz = -1;
        ASSERT_EQ(api().GetDirectionalDerivative(c_, &kAirTemperature, 1, known, 3, seed, &dz), fmi2OK);
        EXPECT_NEAR(dz, expected[j], 1e-8 * fabs(expected[1])) << j;
    }
    EXPECT_NEAR(read(kAirTemperature), 295.15, 1e-9) << "the states are put back";
}

TEST_F(VastorelME, AnEmptyVolumeWithEnergyIsASingularEquation) {
    start(Room());
    const double x[3] = {x_[0], 0.0, x_[2]};
    host_->clearLog();
    double dx[3];
    EXPECT_EQ(derivativesAt(0, x, dx), fmi2Discard);
    char expected[400];
    snprintf(expected, sizeof expected,
             "Error: Singular inconsistent scalar system for thermalZoneOneElement.volAir.dynBal.medium.u = "
             "( -thermalZoneOneElement.volAir.dynBal.U)/( -thermalZoneOneElement.volAir.dynBal.m) = %g/%g",
             -x_[0], -0.0);
    EXPECT_TRUE(host_->logContains(expected)) << host_->logText();
}

} // namespace

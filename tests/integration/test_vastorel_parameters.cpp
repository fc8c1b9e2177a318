// The room library in Co-Simulation with the parameters that the start values
// leave switched off: the weights of the two fixed heat flows into the air,
// the fixed heat flows onto the surfaces (unequal, so the order of the split
// factors matters) and the temperature corrections of the radiative and the
// convective share of the heat input. Initial state, derivatives and a
// trajectory against the reference of vastorel.h.
#include <gtest/gtest.h>

#include "vastorel.h"
#include "vastorel_fixture.h"

namespace {

class VastorelParameters : public VastorelFixture<fmi2CoSimulation> {};

TEST_F(VastorelParameters, WeightsHeatFlowsAndCorrectionsFollowTheReference) {
    Room room;
    room.p[11] = 0.7;    // weight of the first heat flow into the air
    room.p[12] = 1.3;    // weight of the second
    room.p[16] = 283.15; // reference of the radiative correction
    room.p[17] = 0.02;   // its coefficient
    room.p[18] = 303.15; // reference of the convective correction
    room.p[19] = 0.015;  // its coefficient
    room.p[21] = 40;     // first heat flow onto the surfaces
    room.p[22] = 15;     // second heat flow
    room.heat = 1000;
    ASSERT_EQ(api().SetupExperiment(c_, fmi2True, 1e-9, 0.0, fmi2False, 0), fmi2OK);
    for (unsigned i = 0; i < 24; ++i) set(kParameter(i), room.p[i]);
    set(kHeatInput, room.heat);
    set(kOutdoor, room.outdoor);
    ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
    ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);

    RoomState reference = airState(room.p[0], room.p[1], 0);
    reference[2] = balancedWall(room, reference);
    EXPECT_NEAR(read(kState(2)), reference[2], 1e-9 * reference[2]);
    const fmi2ValueReference vr[] = {ref(3, 0, 2), ref(3, 2, 2)};
    double dx[2] = {};
    ASSERT_EQ(api().GetReal(c_, vr, 2, dx), fmi2OK);
    const RoomState d = roomDerivatives(room, reference);
    EXPECT_NEAR(dx[0], d[0], 1e-9 * fabs(d[0]));
    EXPECT_NEAR(dx[1], 0, 1e-12);

    // Twelve hours at ten-minute steps, the inputs changed halfway.
    for (double t = 0; t < 12 * 3600 - 1; t += 600) {
        if (t == 6 * 3600) {
            room.heat = 300;
            room.outdoor = 275;
            set(kHeatInput, room.heat);
            set(kOutdoor, room.outdoor);
        }
        ASSERT_EQ(api().DoStep(c_, t, 600, fmi2True), fmi2OK) << t;
        reference = rk4(room, reference, 600, 1.0);
        const double air = airTemperature(reference);
        ASSERT_NEAR(read(kAirTemperature), air, 1e-7 * air) << "air at " << t + 600;
        ASSERT_NEAR(read(kState(2)), reference[2], 1e-7 * reference[2]) << "wall at " << t + 600;
    }
}

} // namespace

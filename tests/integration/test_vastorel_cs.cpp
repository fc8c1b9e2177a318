// The room library in Co-Simulation through our own host: trajectories
// against an RK4 reference of the same physics, with inputs changed between
// steps, parameters changed before initialization and a second run after
// reset; the steady state after a year and the constant mass; FMU states
// restored and serialized mid-run; the medium's range assertion during a step.
#include <gtest/gtest.h>
#include <math.h>

#include <memory>
#include <string>
#include <vector>

#include "test_host.h"
#include "vastorel.h"
#include "vastorel_fixture.h"

namespace {

class VastorelCS : public VastorelFixture<fmi2CoSimulation> {
protected:
    RoomState states() { return {read(kState(0)), read(kState(1)), read(kState(2))}; }
    // Parameters and inputs of `room`, then initialization at time 0.
    void start(const Room& room, double tolerance = 0) {
        ASSERT_EQ(api().SetupExperiment(c_, tolerance > 0, tolerance, 0.0, fmi2False, 0), fmi2OK);
        for (unsigned i = 0; i < 24; ++i) set(kParameter(i), room.p[i]);
        set(kHeatInput, room.heat);
        set(kOutdoor, room.outdoor);
        ASSERT_EQ(api().EnterInitializationMode(c_), fmi2OK);
        ASSERT_EQ(api().ExitInitializationMode(c_), fmi2OK);
    }
};

// Inputs of one piece of a run, from its start time on.
struct Piece {
    double from, heat, outdoor;
};

struct Trajectory {
    const char* name;
    double tolerance;   // 0: the library's default
    double relative;    // agreement with the reference
    double startPressure, startTemperature;
};

void PrintTo(const Trajectory& t, std::ostream* os) { *os << t.name; }

class VastorelTrajectory : public VastorelCS, public ::testing::WithParamInterface<Trajectory> {};

// A day at ten-minute steps, inputs changed twice; the reference integrates
// the same pieces with RK4 at one-second steps from the ideal-gas start state.
TEST_P(VastorelTrajectory, FollowsTheReferenceAcrossInputChangesAndASecondRun) {
    const Trajectory& tr = GetParam();
    const std::vector<Piece> pieces = {{0, 1000, 288.15}, {6 * 3600, 0, 270}, {14 * 3600, 2500, 300}};
    for (int run = 0; run < 2; ++run) {
        Room room;
        if (run == 1) { // parameters changed before the second initialization
            room.p[0] = tr.startPressure;
            room.p[1] = tr.startTemperature;
            room.p[3] = 4.0;
            room.p[9] = 0.2;
        }
        room.heat = pieces[0].heat;
        room.outdoor = pieces[0].outdoor;
        start(room, tr.tolerance);
        EXPECT_NEAR(read(kAirTemperature), room.p[1], 1e-9);
        RoomState reference = states();
        const RoomState ideal = airState(room.p[0], room.p[1], 0);
        EXPECT_NEAR(reference[0], ideal[0], 1e-9 * fabs(ideal[0]));
        EXPECT_NEAR(reference[1], ideal[1], 1e-12 * ideal[1]);

        const double h = 600;
        size_t piece = 0;
        for (double t = 0; t < 86400 - 1; t += h) {
            if (piece + 1 < pieces.size() && t >= pieces[piece + 1].from) {
                ++piece;
                room.heat = pieces[piece].heat;
                room.outdoor = pieces[piece].outdoor;
                set(kHeatInput, room.heat);
                set(kOutdoor, room.outdoor);
            }
            ASSERT_EQ(api().DoStep(c_, t, h, fmi2True), fmi2OK) << t;
            reference = rk4(room, reference, h, 1.0);
            const double expected = airTemperature(reference);
            ASSERT_NEAR(read(kAirTemperature), expected, tr.relative * expected) << "run " << run << " at " << t + h;
            ASSERT_NEAR(read(kState(2)), reference[2], tr.relative * reference[2]) << "wall at " << t + h;
        }
        ASSERT_EQ(api().Terminate(c_), fmi2OK);
        ASSERT_EQ(api().Reset(c_), fmi2OK);
    }
}

INSTANTIATE_TEST_SUITE_P(Tolerances, VastorelTrajectory,
                         ::testing::Values(Trajectory{"default", 0, 1e-4, 100000, 300},
                                           Trajectory{"tight", 1e-9, 1e-7, 98000, 290}),
                         [](const ::testing::TestParamInfo<Trajectory>& info) { return std::string(info.param.name); });

TEST_F(VastorelCS, ReachesTheSteadyStateOfTheNetworkWithItsMassUnchangedOverAYear) {
    Room room;
    room.heat = 1200;
    room.outdoor = 268.15;
    start(room);
    const double mass = read(kState(1));
    for (int hour = 0; hour < 365 * 24; ++hour) ASSERT_EQ(api().DoStep(c_, hour * 3600.0, 3600, fmi2True), fmi2OK);
    const Steady steady = steadyState(room);
    EXPECT_NEAR(read(kAirTemperature), steady.air, 1e-6);
    EXPECT_NEAR(read(kState(2)), steady.wall, 1e-6);
    EXPECT_EQ(read(kState(1)), mass);
    const fmi2ValueReference derivatives[] = {ref(3, 0, 2), ref(3, 1, 2), ref(3, 2, 2)};
    double dx[3] = {1, 1, 1};
    ASSERT_EQ(api().GetReal(c_, derivatives, 3, dx), fmi2OK);
    EXPECT_NEAR(dx[0], 0, 1e-3); // W, against heat flows of hundreds of W
    EXPECT_EQ(dx[1], 0);
    EXPECT_NEAR(dx[2], 0, 1e-9);
}

// Outputs of the steps from `from` to `to` at 15 minutes, the heat input changing at every step.
std::vector<double> runSteps(const FmiApi& api, fmi2Component c, double from, double to) {
    std::vector<double> out;
    for (double t = from; t < to - 1; t += 900) {
        const double heat = 500 + 400 * sin(t / 5000);
        api.SetReal(c, &kHeatInput, 1, &heat);
        if (api.DoStep(c, t, 900, fmi2True) != fmi2OK) return {};
        double y = 0;
        api.GetReal(c, &kAirTemperature, 1, &y);
        out.push_back(y);
    }
    return out;
}

TEST_F(VastorelCS, RestoredAndDeserializedStatesRepeatTheRunExactly) {
    start(Room());
    ASSERT_FALSE(runSteps(api(), c_, 0, 6 * 3600).empty());
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(api().GetFMUstate(c_, &state), fmi2OK);
    size_t size = 0;
    ASSERT_EQ(api().SerializedFMUstateSize(c_, state, &size), fmi2OK);
    std::vector<fmi2Byte> image(size);
    ASSERT_EQ(api().SerializeFMUstate(c_, state, image.data(), size), fmi2OK);

    const std::vector<double> original = runSteps(api(), c_, 6 * 3600, 12 * 3600);
    ASSERT_EQ(original.size(), 24u);
    ASSERT_EQ(api().SetFMUstate(c_, state), fmi2OK);
    EXPECT_EQ(runSteps(api(), c_, 6 * 3600, 12 * 3600), original);

    fmi2FMUstate restored = nullptr;
    ASSERT_EQ(api().DeSerializeFMUstate(c_, image.data(), size, &restored), fmi2OK);
    ASSERT_EQ(api().SetFMUstate(c_, restored), fmi2OK);
    EXPECT_EQ(runSteps(api(), c_, 6 * 3600, 12 * 3600), original);
    ASSERT_EQ(api().FreeFMUstate(c_, &restored), fmi2OK);
    ASSERT_EQ(api().FreeFMUstate(c_, &state), fmi2OK);
}

TEST_F(VastorelCS, HeatDrivingTheAirPastItsRangeFailsTheStepAtTheLocatedEvent) {
    Room room;
    room.heat = 2e6;
    start(room);
    host_->clearLog();
    EXPECT_EQ(api().DoStep(c_, 0, 60, fmi2True), fmi2Error);
    EXPECT_TRUE(host_->logContains(temperatureFailure(373.15))) << host_->logText();
    double last = -1;
    ASSERT_EQ(api().GetRealStatus(c_, fmi2LastSuccessfulTime, &last), fmi2OK);
    EXPECT_GT(last, 0);
    EXPECT_LT(last, 60);
    // Terminated: no further step.
    EXPECT_NE(api().DoStep(c_, last, 10, fmi2True), fmi2OK);
}

struct StartFailure {
    const char* name;
    double pressure, temperature;
    std::string message; // empty: initialization succeeds
};

void PrintTo(const StartFailure& s, std::ostream* os) { *os << s.name; }

class VastorelStart : public VastorelCS, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(VastorelStart, ChecksTheMediumRangeAtInitialization) {
    const StartFailure& s = GetParam();
    ASSERT_EQ(api().SetupExperiment(c_, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
    set(kStartPressure, s.pressure);
    set(kStartTemperature, s.temperature);
    host_->clearLog();
    fmi2Status status = api().EnterInitializationMode(c_);
    if (status == fmi2OK) status = api().ExitInitializationMode(c_);
    if (s.message.empty()) {
        ASSERT_EQ(status, fmi2OK) << host_->logText();
        EXPECT_NEAR(read(kAirTemperature), s.temperature, 1e-9);
        EXPECT_EQ(api().DoStep(c_, 0, 1, fmi2True), fmi2OK) << host_->logText();
    } else {
        EXPECT_EQ(status, fmi2Error);
        EXPECT_TRUE(host_->logContains(s.message)) << host_->logText();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Starts, VastorelStart,
    ::testing::Values(StartFailure{"cold", 101325, 250, temperatureFailure(250)},
                      StartFailure{"lowestTemperature", 101325, 273.15, ""},
                      StartFailure{"highestTemperature", 101325, 373.15, ""},
                      StartFailure{"negativePressure", -1, 295.15,
                                   "  Pressure (= -1 Pa) of medium \"SimpleAir\" is negative\n(Temperature = 295.15 K)\n"
                                   "  Failed condition: thermalZoneOneElement.volAir.dynBal.medium.p >= 0.0\n"}),
    [](const ::testing::TestParamInfo<StartFailure>& info) { return std::string(info.param.name); });

} // namespace

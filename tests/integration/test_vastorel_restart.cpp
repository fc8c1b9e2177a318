// The room library in Co-Simulation driven as a master that reads between
// setting an input and stepping: whatever the host calls in between, a change
// restarts the integrator at the communication point exactly once, and a
// query changes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_host.h"
#include "vastorel.h"
#include "vastorel_fixture.h"

namespace {

// What the host calls between setting the heat input and the next step.
enum class Between { nothing, read, outputDerivative, directionalDerivative };

struct RestartCase {
    const char* name;
    Between between;
    double tolerance; // 0: the library's default
};

void PrintTo(const RestartCase& c, std::ostream* os) { *os << c.name; }

class VastorelRestart : public VastorelFixture<fmi2CoSimulation> {
protected:
    // Air temperatures after each of `steps` steps of h seconds, from an
    // instance of its own. The heat input alternates between 1000 W and
    // 5000 W unless held at 1000 W; `between` runs after every set (before
    // every step when the input is held). A start temperature is set before
    // or inside initialization mode when given.
    std::vector<double> run(Between between, double tolerance, bool alternate, int steps = 48, double h = 600,
                            double startTemperature = 0, bool setInInitializationMode = false) {
        std::vector<double> out;
        fmi2Component c = host_->instantiate("room", fmi2CoSimulation, kRoomGuid, false);
        EXPECT_NE(c, nullptr);
        if (!c) return out;
        const FmiApi& fmi = api();
        auto setOne = [&](fmi2ValueReference vr, double v) { EXPECT_EQ(fmi.SetReal(c, &vr, 1, &v), fmi2OK); };
        EXPECT_EQ(fmi.SetupExperiment(c, tolerance > 0, tolerance, 0.0, fmi2False, 0), fmi2OK);
        if (startTemperature > 0 && !setInInitializationMode) setOne(kStartTemperature, startTemperature);
        EXPECT_EQ(fmi.EnterInitializationMode(c), fmi2OK);
        if (startTemperature > 0 && setInInitializationMode) setOne(kStartTemperature, startTemperature);
        EXPECT_EQ(fmi.ExitInitializationMode(c), fmi2OK);
        for (int k = 0; k < steps; ++k) {
            if (alternate || k == 0) setOne(kHeatInput, alternate && k % 2 ? 5000 : 1000);
            double value = 0;
            const fmi2Integer order = 1;
            const double seed = 1;
            switch (between) {
            case Between::nothing: break;
            case Between::read: EXPECT_EQ(fmi.GetReal(c, &kAirTemperature, 1, &value), fmi2OK); break;
            case Between::outputDerivative:
                EXPECT_EQ(fmi.GetRealOutputDerivatives(c, &kAirTemperature, 1, &order, &value), fmi2OK);
                break;
            case Between::directionalDerivative:
                EXPECT_EQ(fmi.GetDirectionalDerivative(c, &kAirTemperature, 1, &kHeatInput, 1, &seed, &value), fmi2OK);
                break;
            }
            EXPECT_EQ(fmi.DoStep(c, k * h, h, fmi2True), fmi2OK) << k;
            double air = 0;
            EXPECT_EQ(fmi.GetReal(c, &kAirTemperature, 1, &air), fmi2OK);
            out.push_back(air);
        }
        EXPECT_EQ(fmi.Terminate(c), fmi2OK);
        fmi.FreeInstance(c);
        return out;
    }
};

class VastorelRestartBetween : public VastorelRestart, public ::testing::WithParamInterface<RestartCase> {};

// The trajectory with the call between set and step is bitwise that of the
// run without it.
TEST_P(VastorelRestartBetween, ACallBetweenSetAndStepLeavesTheTrajectoryAsItIs) {
    const RestartCase& rc = GetParam();
    const std::vector<double> plain = run(Between::nothing, rc.tolerance, true);
    const std::vector<double> probed = run(rc.between, rc.tolerance, true);
    ASSERT_EQ(probed.size(), plain.size());
    for (size_t k = 0; k < plain.size(); ++k) ASSERT_EQ(probed[k], plain[k]) << "after step " << k + 1;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, VastorelRestartBetween,
    ::testing::Values(RestartCase{"read", Between::read, 0}, RestartCase{"readTight", Between::read, 1e-9},
                      RestartCase{"outputDerivative", Between::outputDerivative, 0},
                      RestartCase{"outputDerivativeTight", Between::outputDerivative, 1e-9},
                      RestartCase{"directionalDerivative", Between::directionalDerivative, 0},
                      RestartCase{"directionalDerivativeTight", Between::directionalDerivative, 1e-9}),
    [](const ::testing::TestParamInfo<RestartCase>& info) { return std::string(info.param.name); });

// With reads between set and step the run still follows the RK4 reference of
// the same inputs.
TEST_F(VastorelRestart, ReadsBetweenSetAndStepFollowTheReference) {
    const std::vector<double> air = run(Between::read, 1e-9, true);
    Room room;
    RoomState x{}; // the start states as the library initializes them
    fmi2Component c = host_->instantiate("probe", fmi2CoSimulation, kRoomGuid, false);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(api().SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(api().ExitInitializationMode(c), fmi2OK);
    const fmi2ValueReference states[3] = {kState(0), kState(1), kState(2)};
    ASSERT_EQ(api().GetReal(c, states, 3, x.data()), fmi2OK);
    api().FreeInstance(c);
    for (size_t k = 0; k < air.size(); ++k) {
        room.heat = k % 2 ? 5000 : 1000;
        x = rk4(room, x, 600, 1.0);
        const double expected = airTemperature(x);
        ASSERT_NEAR(air[k], expected, 1e-7 * expected) << "after step " << k + 1;
    }
}

// A start value set in initialization mode gives the trajectory of the same
// value set before it; a directional derivative between steps with the input
// held changes nothing.
TEST_F(VastorelRestart, StartValuesInInitializationModeAndHeldInputQueries) {
    const std::vector<double> before = run(Between::nothing, 0, true, 12, 600, 305, false);
    const std::vector<double> inside = run(Between::nothing, 0, true, 12, 600, 305, true);
    EXPECT_EQ(inside, before);
    EXPECT_NEAR(before.front(), 305, 10); // the set value is what the run starts from
    EXPECT_EQ(run(Between::directionalDerivative, 0, false), run(Between::nothing, 0, false));
}

} // namespace

// The room library in Co-Simulation driven as a master would: the integrator
// restarts at a communication point exactly when what it integrates changes
// (a value the model sees, or an input slope against the slope in force at
// the end of the last step), whatever the host calls in between; a query,
// in any mode, changes nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_host.h"
#include "vastorel.h"
#include "vastorel_fixture.h"

namespace {

const fmi2Integer kFirstOrder = 1;
const fmi2ValueReference kWallDerivative = ref(3, 2, 2);

// What the host calls between setting the heat input and the next step.
enum class Between { nothing, read, outputDerivative, directionalDerivative };

struct RestartCase {
    const char* name;
    Between between;
    double tolerance; // 0: the library's default
};

void PrintTo(const RestartCase& c, std::ostream* os) { *os << c.name; }

// What a run gives: the start states, the air temperature after each step
// and, with logging, the integrator's work.
struct Outcome {
    RoomState start{};
    std::vector<double> air;
    std::string work; // the lines of the statistics that count CVODE's own work
};

// The lines of the statistics at termination that count the integrator's
// own work (not the external steps, root functions or seconds, which follow
// the communication points).
std::string integratorWork(const TestHost& host) {
    std::string work;
    for (const LogRecord& r : host.log) {
        if (r.message.rfind("Sundials CVode Statistics\n", 0) != 0) continue;
        size_t at = 0;
        while (at < r.message.size()) {
            const size_t end = r.message.find('\n', at);
            const std::string line = r.message.substr(at, end - at);
            for (const char* label : {"internal steps", "non-linear iterations", "f function", "Jacobian"})
                if (line.find(label) != std::string::npos) work += line + "\n";
            at = end == std::string::npos ? r.message.size() : end + 1;
        }
    }
    return work;
}

// The heat input as a function of time, and a fixed-step RK4 of the room
// under it from t0 over `span` (the input is smooth within the span).
using Heat = std::function<double(double)>;
RoomState rk4Under(const Heat& heat, RoomState x, double t0, double span, double dt = 1.0) {
    Room room;
    const int n = static_cast<int>(ceil(span / dt - 1e-9));
    const double h = span / n;
    auto f = [&](double t, const RoomState& s) {
        room.heat = heat(t);
        return roomDerivatives(room, s);
    };
    auto at = [](const RoomState& s, const RoomState& k, double c) {
        return RoomState{s[0] + c * k[0], s[1] + c * k[1], s[2] + c * k[2]};
    };
    for (int i = 0; i < n; ++i) {
        const double t = t0 + i * h;
        const RoomState k1 = f(t, x), k2 = f(t + h / 2, at(x, k1, h / 2)), k3 = f(t + h / 2, at(x, k2, h / 2));
        const RoomState k4 = f(t + h, at(x, k3, h));
        for (int j = 0; j < 3; ++j) x[j] += h / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
    }
    return x;
}

class VastorelRestart : public VastorelFixture<fmi2CoSimulation> {
protected:
    using Hook = std::function<void(fmi2Component, int, double)>;

    void setOne(fmi2Component c, fmi2ValueReference vr, double v) { EXPECT_EQ(api().SetReal(c, &vr, 1, &v), fmi2OK); }
    void slope(fmi2Component c, double s) {
        EXPECT_EQ(api().SetRealInputDerivatives(c, &kHeatInput, 1, &kFirstOrder, &s), fmi2OK);
    }

    // What the host does around the steps of a run.
    struct Script {
        Hook beforeStep;                                     // before step k at time t
        std::function<void(fmi2Component)> beforeInitialization; // before fmi2EnterInitializationMode
        std::function<void(fmi2Component)> inInitialization;     // in initialization mode
        bool logging = false;
    };

    // `steps` steps of h seconds on an instance of its own.
    Outcome drive(double tolerance, int steps, double h, const Script& script) {
        return drive(tolerance, std::vector<double>(steps, h), script);
    }
    // Steps of the given sizes, each from the instance's time after the hook
    // before it.
    Outcome drive(double tolerance, const std::vector<double>& sizes, const Script& script) {
        Outcome run;
        TestHost host(VASTOREL_SO);
        fmi2Component c = host.instantiate("room", fmi2CoSimulation, kRoomGuid, script.logging);
        EXPECT_NE(c, nullptr);
        if (!c) return run;
        const FmiApi& fmi = host.api();
        EXPECT_EQ(fmi.SetupExperiment(c, tolerance > 0, tolerance, 0.0, fmi2False, 0), fmi2OK);
        if (script.beforeInitialization) script.beforeInitialization(c);
        EXPECT_EQ(fmi.EnterInitializationMode(c), fmi2OK);
        if (script.inInitialization) script.inInitialization(c);
        EXPECT_EQ(fmi.ExitInitializationMode(c), fmi2OK);
        const fmi2ValueReference states[3] = {kState(0), kState(1), kState(2)};
        EXPECT_EQ(fmi.GetReal(c, states, 3, run.start.data()), fmi2OK);
        double t = 0;
        for (int k = 0; k < static_cast<int>(sizes.size()); ++k) {
            if (script.beforeStep) script.beforeStep(c, k, t);
            EXPECT_EQ(fmi.GetRealStatus(c, fmi2LastSuccessfulTime, &t), fmi2OK);
            EXPECT_EQ(fmi.DoStep(c, t, sizes[k], fmi2True), fmi2OK) << k;
            t += sizes[k];
            double air = 0;
            EXPECT_EQ(fmi.GetReal(c, &kAirTemperature, 1, &air), fmi2OK);
            run.air.push_back(air);
        }
        EXPECT_EQ(fmi.Terminate(c), fmi2OK);
        run.work = integratorWork(host);
        fmi.FreeInstance(c);
        return run;
    }
    Outcome drive(double tolerance, int steps, double h, const Hook& beforeStep) {
        Script script;
        script.beforeStep = beforeStep;
        return drive(tolerance, steps, h, script);
    }

    // Air temperatures after each of `steps` steps of h seconds. The heat
    // input alternates between 1000 W and 5000 W unless held at 1000 W;
    // `between` runs after every set (before every step when the input is
    // held). A start temperature is set before or inside initialization mode
    // when given.
    std::vector<double> run(Between between, double tolerance, bool alternate, int steps = 48, double h = 600,
                            double startTemperature = 0, bool setInInitializationMode = false, Outcome* out = nullptr) {
        Script script;
        script.beforeStep = [&](fmi2Component c, int k, double) {
            if (alternate || k == 0) setOne(c, kHeatInput, alternate && k % 2 ? 5000 : 1000);
            double value = 0;
            const double seed = 1;
            switch (between) {
            case Between::nothing: break;
            case Between::read: EXPECT_EQ(api().GetReal(c, &kAirTemperature, 1, &value), fmi2OK); break;
            case Between::outputDerivative:
                EXPECT_EQ(api().GetRealOutputDerivatives(c, &kAirTemperature, 1, &kFirstOrder, &value), fmi2OK);
                break;
            case Between::directionalDerivative:
                EXPECT_EQ(api().GetDirectionalDerivative(c, &kAirTemperature, 1, &kHeatInput, 1, &seed, &value),
                          fmi2OK);
                break;
            }
        };
        if (startTemperature > 0) {
            auto setStart = [&](fmi2Component c) { setOne(c, kStartTemperature, startTemperature); };
            (setInInitializationMode ? script.inInitialization : script.beforeInitialization) = setStart;
        }
        Outcome r = drive(tolerance, steps, h, script);
        if (out) *out = r;
        return r.air;
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
    Outcome r;
    const std::vector<double> air = run(Between::read, 1e-9, true, 48, 600, 0, false, &r);
    Room room;
    RoomState x = r.start;
    for (size_t k = 0; k < air.size(); ++k) {
        room.heat = k % 2 ? 5000 : 1000;
        x = rk4(room, x, 600, 1.0);
        const double expected = airTemperature(x);
        ASSERT_NEAR(air[k], expected, 1e-7 * expected) << "after step " << k + 1;
    }
}

// A start value set in initialization mode is where the run starts, and
// the integrator, made at the entry to initialization mode, restarts from it
// at the exit (the first step has no change of its own to restart for): the
// trajectory is that of the same value set before it. A directional
// derivative between steps with the input held changes nothing.
TEST_F(VastorelRestart, StartValuesInInitializationModeAndHeldInputQueries) {
    Script script;
    script.beforeStep = [&](fmi2Component c, int k, double) {
        if (k > 0) setOne(c, kHeatInput, k % 2 ? 5000 : 1000);
    };
    const auto setStart = [&](fmi2Component c) {
        setOne(c, kStartTemperature, 305);
        setOne(c, kHeatInput, 1000);
    };
    script.beforeInitialization = setStart;
    const Outcome before = drive(0, 12, 600, script);
    script.beforeInitialization = nullptr;
    script.inInitialization = setStart;
    const Outcome inside = drive(0, 12, 600, script);
    EXPECT_NEAR(airTemperature(inside.start), 305, 1e-6);
    EXPECT_EQ(inside.start, before.start);
    EXPECT_EQ(inside.air, before.air);
    EXPECT_EQ(run(Between::directionalDerivative, 0, false), run(Between::nothing, 0, false));
}

// Setting an input to the value it has is no change: a held input set before
// every step gives bitwise the run where it is set once.
TEST_F(VastorelRestart, SettingTheValueAnInputHasIsNoChange) {
    const Outcome once = drive(0, 24, 600, [&](fmi2Component c, int k, double) {
        if (k == 0) setOne(c, kHeatInput, 1000);
    });
    const Outcome every = drive(0, 24, 600, [&](fmi2Component c, int, double) { setOne(c, kHeatInput, 1000); });
    EXPECT_EQ(every.air, once.air);
}

// A ramp fed every 10 s with its value and the same slope (0.3 W/s, whose
// values are not integers) is the ramp given for one long step: the same inputs at every time, so bitwise the same
// result with the same integrator work. (CVODE sizes its first step from its
// first target, so both runs begin with a step of 10 s.)
TEST_F(VastorelRestart, AFedRampIsTheRampGivenForOneLongStep) {
    Script script;
    script.logging = true;
    script.beforeStep = [&](fmi2Component c, int, double t) {
        setOne(c, kHeatInput, 1000 + 0.3 * t);
        slope(c, 0.3);
    };
    const Outcome fed = drive(1e-9, 360, 10, script);
    const Outcome once = drive(1e-9, std::vector<double>{10, 3590}, script);
    ASSERT_FALSE(once.air.empty());
    ASSERT_FALSE(fed.air.empty());
    EXPECT_EQ(fed.air.back(), once.air.back());
    EXPECT_FALSE(once.work.empty());
    EXPECT_EQ(fed.work, once.work);
    const RoomState reference = rk4Under([](double t) { return 1000 + 0.3 * t; }, once.start, 0, 3600);
    EXPECT_NEAR(once.air.back(), airTemperature(reference), 1e-5);
}

// Inputs whose slope changes at communication points follow the reference:
// a ramp that ends after its step (the host gives no slope for the next one)
// and a piecewise-linear input whose value and slope are set every step.
TEST_F(VastorelRestart, SlopesThatChangeOrEndFollowTheReference) {
    struct Case {
        const char* name;
        int steps;
        Heat heat;
        std::function<double(int)> slopeOfStep; // NAN: none given
    };
    const double h = 600;
    const double slopes[4] = {2, 0, -2, 0};
    const Heat piecewise = [&](double t) {
        double value = 1000;
        for (int k = 0; t > k * h; ++k) value += slopes[k % 4] * (t - k * h < h ? t - k * h : h);
        return value;
    };
    const Case cases[] = {
        {"ramp that ends", 4, [](double t) { return t < 600 ? 1000 + t : 1600; },
         [](int k) { return k == 0 ? 1.0 : NAN; }},
        {"piecewise linear", 48, piecewise, [&](int k) { return slopes[k % 4]; }},
    };
    for (const Case& c : cases) {
        const Outcome r = drive(1e-9, c.steps, h, [&](fmi2Component i, int k, double t) {
            if (k == 0 || !isnan(c.slopeOfStep(k))) setOne(i, kHeatInput, c.heat(t));
            if (!isnan(c.slopeOfStep(k))) slope(i, c.slopeOfStep(k));
        });
        RoomState x = r.start;
        for (int k = 0; k < static_cast<int>(r.air.size()); ++k) {
            x = rk4Under(c.heat, x, k * h, h);
            ASSERT_NEAR(r.air[k], airTemperature(x), 1e-5) << c.name << ", after step " << k + 1;
        }
    }
}

// A Model Exchange event iteration on a Co-Simulation instance leaves the
// change it followed pending: the next step still restarts the integrator.
TEST_F(VastorelRestart, AnEventIterationBetweenSetAndStepLeavesTheChangePending) {
    const Outcome iterated = drive(1e-9, 24, 600, [&](fmi2Component c, int k, double) {
        setOne(c, kHeatInput, k % 2 ? 5000 : 1000);
        fmi2EventInfo info{};
        EXPECT_EQ(api().NewDiscreteStates(c, &info), fmi2OK);
        EXPECT_EQ(api().EnterContinuousTimeMode(c), fmi2OK);
    });
    Outcome plain;
    run(Between::nothing, 1e-9, true, 24, 600, 0, false, &plain);
    EXPECT_EQ(iterated.air, plain.air);
}

// fmi2SetTime and fmi2SetContinuousStates on a Co-Simulation instance are
// where the next step starts: under a held input the room is autonomous, so
// a step after moving the time back, or the states back to the start, repeats
// the plain run's second, or first, step.
TEST_F(VastorelRestart, TimeAndStatesSetByTheHostAreWhereTheNextStepStarts) {
    const Hook held = [&](fmi2Component c, int k, double) {
        if (k == 0) setOne(c, kHeatInput, 1000);
    };
    const Outcome plain = drive(1e-9, 2, 600, held);
    ASSERT_EQ(plain.air.size(), 2u);
    Script script;
    script.beforeStep = [&](fmi2Component c, int k, double) {
        if (k == 0) setOne(c, kHeatInput, 1000);
        if (k == 1) {
            EXPECT_EQ(api().SetTime(c, 0), fmi2OK);
        }
    };
    const Outcome timeMoved = drive(1e-9, std::vector<double>{600, 600}, script);
    script.beforeStep = [&](fmi2Component c, int k, double) {
        if (k == 0) setOne(c, kHeatInput, 1000);
        if (k == 1) {
            EXPECT_EQ(api().SetContinuousStates(c, plain.start.data(), 3), fmi2OK);
        }
    };
    const Outcome statesMoved = drive(1e-9, 2, 600, script);
    ASSERT_EQ(timeMoved.air.size(), 2u);
    ASSERT_EQ(statesMoved.air.size(), 2u);
    EXPECT_NEAR(timeMoved.air[1], plain.air[1], 1e-6);
    EXPECT_NEAR(statesMoved.air[1], plain.air[0], 1e-6);
}

// ---- Reads and directional derivatives in initialization mode ----

// What the host does in initialization mode after setting the heat input:
// nothing, reads (the wall's derivative among them), or the reads around a
// directional derivative with respect to a state, an input or a parameter.
struct InInitialization {
    const char* name;
    bool reads;
    fmi2ValueReference known; // 0: no query
};

const InInitialization kInInitialization[] = {{"reads", true, 0},
                                              {"query by the wall state", true, kState(2)},
                                              {"query by the heat input", true, kHeatInput},
                                              {"query by parameter 3", true, kParameter(3)}};

// Sets the heat input, then does what `what` says; a read right after the
// query returns what the read right before it did.
void initializationCalls(const FmiApi& fmi, fmi2Component c, const InInitialization* what) {
    const double heat = 1000;
    EXPECT_EQ(fmi.SetReal(c, &kHeatInput, 1, &heat), fmi2OK);
    if (!what) return;
    const fmi2ValueReference read[3] = {kAirTemperature, kWallDerivative, kState(2)};
    double before[3] = {}, after[3] = {}, d[2] = {};
    const double seed = 1;
    EXPECT_EQ(fmi.GetReal(c, read, 3, before), fmi2OK);
    if (what->known) {
        EXPECT_EQ(fmi.GetDirectionalDerivative(c, read, 2, &what->known, 1, &seed, d), fmi2OK);
        EXPECT_EQ(fmi.GetReal(c, read, 3, after), fmi2OK);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(after[i], before[i]) << what->name << ", read " << i;
    }
}

// Co-Simulation: the start states and twelve steps are bitwise those of the
// run without the calls.
TEST_F(VastorelRestart, ReadsAndQueriesInInitializationModeMoveNothing) {
    Script script;
    script.beforeStep = [&](fmi2Component c, int k, double) { setOne(c, kHeatInput, k % 2 ? 5000 : 1000); };
    script.inInitialization = [&](fmi2Component c) { initializationCalls(api(), c, nullptr); };
    const Outcome plain = drive(0, 12, 600, script);
    for (const InInitialization& what : kInInitialization) {
        script.inInitialization = [&](fmi2Component c) { initializationCalls(api(), c, &what); };
        const Outcome queried = drive(0, 12, 600, script);
        EXPECT_EQ(queried.start, plain.start) << what.name;
        EXPECT_EQ(queried.air, plain.air) << what.name;
    }
}

} // namespace

// Model Exchange: the start states after the event iteration and a host's
// explicit Euler steps are bitwise those of the run without the calls.
class VastorelMEQuery : public VastorelFixture<fmi2ModelExchange> {
protected:
    std::vector<double> run(const InInitialization* what) {
        std::vector<double> out;
        fmi2Component c = host_->instantiate("q", fmi2ModelExchange, kRoomGuid, false);
        EXPECT_NE(c, nullptr);
        if (!c) return out;
        const FmiApi& fmi = api();
        EXPECT_EQ(fmi.SetupExperiment(c, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        EXPECT_EQ(fmi.EnterInitializationMode(c), fmi2OK);
        initializationCalls(fmi, c, what);
        EXPECT_EQ(fmi.ExitInitializationMode(c), fmi2OK);
        fmi2EventInfo info{};
        info.newDiscreteStatesNeeded = fmi2True;
        for (int i = 0; i < 10 && info.newDiscreteStatesNeeded; ++i) EXPECT_EQ(fmi.NewDiscreteStates(c, &info), fmi2OK);
        EXPECT_EQ(fmi.EnterContinuousTimeMode(c), fmi2OK);
        double x[3] = {}, dx[3] = {};
        for (int k = 0; k <= 12; ++k) {
            EXPECT_EQ(fmi.GetContinuousStates(c, x, 3), fmi2OK);
            out.insert(out.end(), x, x + 3);
            EXPECT_EQ(fmi.GetDerivatives(c, dx, 3), fmi2OK);
            for (int i = 0; i < 3; ++i) x[i] += 60 * dx[i];
            EXPECT_EQ(fmi.SetTime(c, 60.0 * (k + 1)), fmi2OK);
            EXPECT_EQ(fmi.SetContinuousStates(c, x, 3), fmi2OK);
        }
        fmi.FreeInstance(c);
        return out;
    }
};

TEST_F(VastorelMEQuery, ReadsAndQueriesInInitializationModeMoveNothing) {
    const std::vector<double> plain = run(nullptr);
    for (const InInitialization& what : kInInitialization) EXPECT_EQ(run(&what), plain) << what.name;
}

namespace {

// ---- A directional derivative leaves the serialized state as it found it ----

std::vector<char> stateImage(const FmiApi& fmi, fmi2Component c) {
    fmi2FMUstate state = nullptr;
    size_t size = 0;
    EXPECT_EQ(fmi.GetFMUstate(c, &state), fmi2OK);
    EXPECT_EQ(fmi.SerializedFMUstateSize(c, state, &size), fmi2OK);
    std::vector<char> image(size);
    EXPECT_EQ(fmi.SerializeFMUstate(c, state, image.data(), size), fmi2OK);
    fmi.FreeFMUstate(c, &state);
    return image;
}

// Queries by a state and by the input in initialization mode, event mode and
// continuous-time mode (Model Exchange), and in stepping mode with and
// without an input change pending (Co-Simulation).
TEST(VastorelQuery, TheSerializedStateIsByteIdenticalBeforeAndAfter) {
    const fmi2ValueReference unknown[4] = {ref(3, 0, 2), ref(3, 1, 2), ref(3, 2, 2), kAirTemperature};
    for (const fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
        TestHost host(VASTOREL_SO);
        ASSERT_TRUE(host.loaded()) << host.error();
        const FmiApi& fmi = host.api();
        fmi2Component c = host.instantiate("room", type, kRoomGuid, false);
        ASSERT_NE(c, nullptr);
        const auto check = [&](const char* where) {
            for (const fmi2ValueReference known : {kState(2), kHeatInput}) {
                const std::vector<char> before = stateImage(fmi, c);
                const double seed = 1;
                double d[4] = {};
                EXPECT_EQ(fmi.GetDirectionalDerivative(c, unknown, 4, &known, 1, &seed, d), fmi2OK) << where;
                EXPECT_TRUE(stateImage(fmi, c) == before) << where << ", known " << known;
            }
        };
        const double heat = 1000, more = 3000, slope = 0.5;
        const fmi2Integer order = 1;
        ASSERT_EQ(fmi.SetReal(c, &kHeatInput, 1, &heat), fmi2OK);
        ASSERT_EQ(fmi.SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
        ASSERT_EQ(fmi.EnterInitializationMode(c), fmi2OK);
        check("initialization mode");
        ASSERT_EQ(fmi.ExitInitializationMode(c), fmi2OK);
        if (type == fmi2ModelExchange) {
            check("event mode");
            fmi2EventInfo info{};
            ASSERT_EQ(fmi.NewDiscreteStates(c, &info), fmi2OK);
            ASSERT_EQ(fmi.EnterContinuousTimeMode(c), fmi2OK);
            ASSERT_EQ(fmi.SetTime(c, 60), fmi2OK);
            check("continuous-time mode");
        } else {
            ASSERT_EQ(fmi.DoStep(c, 0, 600, fmi2True), fmi2OK);
            check("stepping mode");
            ASSERT_EQ(fmi.SetReal(c, &kHeatInput, 1, &more), fmi2OK);
            ASSERT_EQ(fmi.SetRealInputDerivatives(c, &kHeatInput, 1, &order, &slope), fmi2OK);
            check("an input change pending");
        }
        fmi.FreeInstance(c);
    }
}

} // namespace

// The CVODE driver on the test model in Co-Simulation: a bouncing ball and a
// linear oscillator whose trajectories and event times are known in closed
// form, input extrapolation inside a step, a model that stops the integration
// through the per-step hook, the tolerances, a too-close target, the
// statistics at terminate and the messages of integrator failures.
#include <math.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>

#include "integrator.h"
#include "model_interface.h"
#include "relations.h"
#include "runtime_fixture.h"

namespace {

const fmi2ValueReference kStates[2] = {ref(2, 0), ref(2, 1)};
const fmi2ValueReference kInput0 = ref(5, 0);

// Times at which the test models changed something at an event.
std::vector<double> eventTimes;

// Relation i in the order generated code follows: nominal, value, evaluation
// at events, indicators, evaluated flag.
void relation(ModelData* d, ModelFlags* flags, double* z, int i, const char* condition, double value) {
    d->relationNominals[i] = fabs(value) > 1 ? fabs(value) : 1;
    d->relationValues[i] = value;
    if (d->eventFlag) crossingFunction(d, condition, condition, i, flags[kFlagWord], 1, 1);
    z[2 * i - 2] = z[2 * i - 1] = d->relationValues[i] - d->eventEpsilons[i];
    d->relationEvaluated[i] = 1;
}

// A relation that never crosses.
void quietRelation(ModelData* d, double* z, int i) {
    z[2 * i - 2] = z[2 * i - 1] = 1.0;
    d->relationEvaluated[i] = 1;
}

// ---- Bouncing ball: h'' = -g, v := -e v when h falls below 0 ----

const double kGravity = 9.81;
const double kRestitution = 0.8;

int ballModel(int*, int*, double* time, double* x, double*, double*, double*, int*, int*, double* xdot, double* y,
              double*, double* z, ModelTimeData*, ModelFlags* flags, char**, ModelData* d, int*) {
    const int wasAbove = d->relationStates[1] & 1;
    relation(d, flags, z, 1, "h >= 0", x[0]);
    if (d->eventFlag && !d->initialCall && wasAbove && !(d->relationStates[1] & 1) && x[1] < 0) {
        x[1] = -kRestitution * x[1];
        eventTimes.push_back(*time);
    }
    quietRelation(d, z, 2);
    xdot[0] = x[1];
    xdot[1] = -kGravity;
    y[0] = x[0];
    y[1] = x[1];
    return 0;
}

struct BallState {
    double h, v;
};

// The ball from h = 1, v = -2 at t = 0, bounce by bounce.
std::vector<double> ballBounces(double until) {
    std::vector<double> times;
    double t = (-2 + sqrt(4 + 2 * kGravity)) / kGravity;
    double speed = kRestitution * (2 + kGravity * t);
    while (t < until) {
        times.push_back(t);
        t += 2 * speed / kGravity;
        speed *= kRestitution;
    }
    return times;
}

BallState ballAt(double t) {
    const std::vector<double> bounces = ballBounces(t);
    if (bounces.empty()) return {1 - 2 * t - kGravity * t * t / 2, -2 - kGravity * t};
    const double t1 = (-2 + sqrt(4 + 2 * kGravity)) / kGravity;
    const double speed = kRestitution * (2 + kGravity * t1) * pow(kRestitution, static_cast<double>(bounces.size() - 1));
    const double s = t - bounces.back();
    return {speed * s - kGravity * s * s / 2, speed - kGravity * s};
}

// ---- Oscillator: x0' = x1, x1' = -4 x0; events where x0 changes sign ----

int oscillatorModel(int*, int*, double* time, double* x, double*, double*, double*, int*, int*, double* xdot,
                    double* y, double*, double* z, ModelTimeData*, ModelFlags* flags, char**, ModelData* d, int*) {
    const int before = d->relationStates[1] & 1;
    relation(d, flags, z, 1, "x0 >= 0", x[0]);
    if (d->eventFlag && !d->initialCall && before != (d->relationStates[1] & 1)) eventTimes.push_back(*time);
    quietRelation(d, z, 2);
    xdot[0] = x[1];
    xdot[1] = -4 * x[0];
    y[0] = x[0];
    y[1] = x[1];
    return 0;
}

// ---- Input extrapolation: x0' = u0, x1' = 1 with an event at x1 = 0 ----

int inputModel(int*, int*, double* time, double* x, double*, double* u, double*, int*, int*, double* xdot, double*,
               double*, double* z, ModelTimeData*, ModelFlags* flags, char**, ModelData* d, int*) {
    const int before = d->relationStates[1] & 1;
    relation(d, flags, z, 1, "x1 >= 0", x[1]);
    if (d->eventFlag && !d->initialCall && before != (d->relationStates[1] & 1)) eventTimes.push_back(*time);
    quietRelation(d, z, 2);
    xdot[0] = u[0];
    xdot[1] = 1;
    return 0;
}

// ---- Per-step hook: x0' = 1; from x0 >= 1.3 on the model asks for an event, where x1 jumps ----

// The CVODE memory of the instance under test, and where the internal step
// that ended at the event began.
void* stopModelMemory = nullptr;
double stopStepStart = NAN;

int stopModel(int*, int*, double* time, double* x, double*, double*, double*, int*, int*, double* xdot, double*,
              double*, double* z, ModelTimeData*, ModelFlags* flags, char**, ModelData* d, int*) {
    quietRelation(d, z, 1);
    quietRelation(d, z, 2);
    const bool done = x[1] > 0;
    if (d->eventFlag) {
        if (!d->initialCall && !done && x[0] >= 1.3) {
            // The condition of the jump became true: a change the integrator must restart after.
            x[1] += 10;
            d->relationChanged = 1;
            eventTimes.push_back(*time);
            double h = NAN, tn = NAN;
            if (stopModelMemory && CVodeGetLastStep(stopModelMemory, &h) == CV_SUCCESS &&
                CVodeGetCurrentTime(stopModelMemory, &tn) == CV_SUCCESS && tn == *time)
                stopStepStart = tn - h;
        }
    } else if (!done && x[0] >= 1.3) {
        flags[kFlagStateEvent] = 1;
    }
    xdot[0] = 1;
    xdot[1] = 0;
    return 0;
}

// ---- A time event one unit in the last place after the start time 1 ----

const double kCloseEvent = nextafter(1.0, 2.0);

int closeEventModel(int*, int*, double* time, double* x, double*, double*, double*, int*, int*, double* xdot,
                    double*, double*, double* z, ModelTimeData* timeData, ModelFlags*, char**, ModelData* d, int*) {
    quietRelation(d, z, 1);
    quietRelation(d, z, 2);
    if (d->eventFlag && *time < kCloseEvent) timeData[kTimeNextEvent] = kCloseEvent;
    if (d->eventFlag && *time >= kCloseEvent) eventTimes.push_back(*time);
    xdot[0] = -x[0];
    xdot[1] = 0;
    return 0;
}

// ---- Failures: from t > 0.5 on, the right-hand side fails with `failureCode` ----

int failureCode = 0;

int failingModel(int*, int*, double* time, double* x, double*, double*, double*, int*, int*, double* xdot, double*,
                 double*, double* z, ModelTimeData*, ModelFlags*, char**, ModelData* d, int* QiErr) {
    quietRelation(d, z, 1);
    quietRelation(d, z, 2);
    if (*time > 0.5 && !d->eventFlag) {
        if (failureCode == 1) runtimeError("the model cannot go on");
        *QiErr = failureCode;
        return 0;
    }
    xdot[0] = -x[0];
    xdot[1] = 1;
    return 0;
}

// ---- From t > 0.2 on, the outputs (level 1) fail with `failureCode` ----

int outputFailingModel(int* level, int*, double* time, double* x, double*, double*, double*, int*, int*,
                       double* xdot, double*, double*, double* z, ModelTimeData*, ModelFlags*, char**, ModelData* d,
                       int* QiErr) {
    quietRelation(d, z, 1);
    quietRelation(d, z, 2);
    if (*level == 1 && *time > 0.2) {
        if (failureCode == 1) runtimeError("the outputs cannot be computed");
        *QiErr = failureCode;
        return 0;
    }
    xdot[0] = -x[0];
    xdot[1] = 1;
    return 0;
}

// ---- Every event registers a time event at the current time again ----

int stuckTimeEventModel(int*, int*, double* time, double* x, double*, double*, double*, int*, int*, double* xdot,
                        double*, double*, double* z, ModelTimeData* timeData, ModelFlags*, char**, ModelData* d,
                        int*) {
    quietRelation(d, z, 1);
    quietRelation(d, z, 2);
    if (d->eventFlag) timeData[kTimeNextEvent] = *time < 0.5 ? 0.5 : *time;
    xdot[0] = -x[0];
    xdot[1] = 0;
    return 0;
}

class Integrator : public RuntimeTest {
protected:
    void SetUp() override {
        saved_ = modelTable.modelEquations;
        eventTimes.clear();
        RuntimeTest::SetUp();
    }
    void TearDown() override {
        if (cs_) api().FreeInstance(cs_);
        cs_ = nullptr;
        RuntimeTest::TearDown();
        modelTable.modelEquations = saved_;
    }
    const FmiApi& api() { return host().api(); }

    // A Co-Simulation instance of the test model with `equations`, in stepping mode at startTime.
    void startWith(ModelEquationsFn equations, double x0, double x1, double tolerance = 1e-8, double startTime = 0,
                   bool loggingOn = false) {
        modelTable.modelEquations = equations;
        cs_ = host().instantiate("cs", fmi2CoSimulation, MODEL_GUID, loggingOn);
        ASSERT_NE(cs_, nullptr);
        const double x[2] = {x0, x1};
        ASSERT_EQ(api().SetReal(cs_, kStates, 2, x), fmi2OK);
        ASSERT_EQ(api().SetupExperiment(cs_, tolerance > 0, tolerance, startTime, fmi2False, 0), fmi2OK);
        ASSERT_EQ(api().EnterInitializationMode(cs_), fmi2OK) << host().logText();
        ASSERT_EQ(api().ExitInitializationMode(cs_), fmi2OK) << host().logText();
        host().clearLog();
    }
    ModelInstance* cs() { return static_cast<ModelInstance*>(cs_); }
    std::vector<double> states() {
        std::vector<double> x(2, NAN);
        EXPECT_EQ(api().GetReal(cs_, kStates, 2, x.data()), fmi2OK);
        return x;
    }
    // Messages of status Warning and worse, as "<status>|<text>".
    std::vector<std::string> problems() const {
        std::vector<std::string> out;
        for (const LogRecord& r : host_->log)
            if (r.status != fmi2OK) out.push_back(std::string(statusName(r.status)) + "|" + r.message);
        return out;
    }

    fmi2Component cs_ = nullptr;
    ModelEquationsFn saved_ = nullptr;
};

TEST_F(Integrator, BouncingBallFollowsItsClosedFormAndBouncesOnTime) {
    startWith(ballModel, 1, -2);
    double t = 0;
    for (int k = 0; k < 60; ++k) {
        ASSERT_EQ(api().DoStep(cs_, t, 0.05, fmi2True), fmi2OK) << host().logText();
        t += 0.05;
        const BallState expected = ballAt(t);
        const std::vector<double> x = states();
        EXPECT_NEAR(x[0], expected.h, 2e-5) << "height at " << t;
        EXPECT_NEAR(x[1], expected.v, 2e-5) << "velocity at " << t;
    }
    const std::vector<double> bounces = ballBounces(3.0);
    ASSERT_EQ(eventTimes.size(), bounces.size());
    for (size_t i = 0; i < bounces.size(); ++i) EXPECT_NEAR(eventTimes[i], bounces[i], 1e-6) << "bounce " << i;
    EXPECT_TRUE(problems().empty()) << host().logText();
}

TEST_F(Integrator, OscillatorCrossesZeroOnTimeWithinOneLongStep) {
    // x0 = cos 2t - sin 2t: zero at t = pi/8 + k pi/2.
    startWith(oscillatorModel, 1, -2, 1e-9);
    ASSERT_EQ(api().DoStep(cs_, 0, 4.0, fmi2True), fmi2OK);
    const std::vector<double> x = states();
    EXPECT_NEAR(x[0], cos(8.0) - sin(8.0), 1e-6);
    EXPECT_NEAR(x[1], -2 * sin(8.0) - 2 * cos(8.0), 1e-6);
    ASSERT_EQ(eventTimes.size(), 3u);
    for (size_t k = 0; k < eventTimes.size(); ++k)
        EXPECT_NEAR(eventTimes[k], M_PI / 8 + static_cast<double>(k) * M_PI / 2, 1e-7) << k;
    // One external step; the events were handled inside it.
    EXPECT_EQ(cs()->integrator->externalSteps, 1);
}

// A model that perturbs its states for directional derivatives gets them
// back from the instance's snapshot, not from an FMU state: the queries
// between steps leave the integrator going on from its history.
TEST_F(Integrator, DirectionalDerivativesByStatePerturbationRestartNothing) {
    const fmi2ValueReference output0 = ref(4, 0, 1);
    auto run = [&](bool query) {
        startWith(oscillatorModel, 1, -2, 1e-9);
        cs()->perturbByState = 1;
        std::vector<double> out;
        double t = 0;
        for (int k = 0; k < 20; ++k, t += 0.1) {
            if (query) {
                const double seed = 1;
                double dy = 0;
                EXPECT_EQ(api().GetDirectionalDerivative(cs_, &output0, 1, &kStates[0], 1, &seed, &dy), fmi2OK);
                EXPECT_NEAR(dy, 1, 1e-6);
            }
            EXPECT_EQ(api().DoStep(cs_, t, 0.1, fmi2True), fmi2OK);
            for (double v : states()) out.push_back(v);
        }
        api().FreeInstance(cs_);
        cs_ = nullptr;
        return out;
    };
    EXPECT_EQ(run(true), run(false));
}

// A ramp fed at every communication point with its value and the same slope
// is integrated from the same inputs as the ramp given for one long step:
// bitwise the same states (the first steps match, since CVODE sizes its first
// step from its first target), also with a directional derivative along the
// input between the slope and the step.
TEST_F(Integrator, ARampFedAtEveryStepIsTheRampGivenOnce) {
    auto run = [&](const std::vector<double>& sizes, bool query = false) {
        startWith(inputModel, 0, -100, 1e-9);
        double t = 0;
        for (double h : sizes) {
            const double u = 0.1 + 0.3 * t;
            const double du = 0.3;
            const fmi2Integer order = 1;
            EXPECT_EQ(api().SetReal(cs_, &kInput0, 1, &u), fmi2OK);
            EXPECT_EQ(api().SetRealInputDerivatives(cs_, &kInput0, 1, &order, &du), fmi2OK);
            if (query) {
                const fmi2ValueReference derivative = ref(3, 0, 2);
                const double seed = 1;
                double d = 0;
                EXPECT_EQ(api().GetDirectionalDerivative(cs_, &derivative, 1, &kInput0, 1, &seed, &d), fmi2OK);
                EXPECT_NEAR(d, 1, 1e-6);
            }
            EXPECT_EQ(api().DoStep(cs_, t, h, fmi2True), fmi2OK);
            t += h;
        }
        const std::vector<double> x = states();
        api().FreeInstance(cs_);
        cs_ = nullptr;
        return x;
    };
    // Steps of 1/128, so that both runs reach 1 exactly.
    const std::vector<double> once = run({1.0 / 128, 127.0 / 128});
    EXPECT_NEAR(once[0], 0.1 + 0.15, 1e-9);
    EXPECT_EQ(run(std::vector<double>(128, 1.0 / 128)), once);
    EXPECT_EQ(run(std::vector<double>(128, 1.0 / 128), true), once);
}

TEST_F(Integrator, InputsAreExtrapolatedUntilTheFirstEventOfTheStep) {
    startWith(inputModel, 0, -0.5);
    const double u0 = 1;
    const double du0 = 2;
    const fmi2Integer order = 1;
    ASSERT_EQ(api().SetReal(cs_, &kInput0, 1, &u0), fmi2OK);
    ASSERT_EQ(api().SetRealInputDerivatives(cs_, &kInput0, 1, &order, &du0), fmi2OK);
    // u0 = 1 + 2t until the crossing of x1 at t = 0.5, then 2: x0(1) = 0.75 + 1.
    ASSERT_EQ(api().DoStep(cs_, 0, 1.0, fmi2True), fmi2OK);
    ASSERT_EQ(eventTimes.size(), 1u);
    EXPECT_NEAR(eventTimes[0], 0.5, 1e-8);
    EXPECT_NEAR(states()[0], 1.75, 1e-6);
    EXPECT_EQ(cs()->integrator->extrapolateInputs, 0);
}

TEST_F(Integrator, ModelStopsTheIntegrationAfterAnInternalStep) {
    startWith(stopModel, 1, -2);
    stopModelMemory = cs()->integrator->cvodeMem;
    stopStepStart = NAN;
    ASSERT_EQ(api().DoStep(cs_, 0, 10.0, fmi2True), fmi2OK) << host().logText();
    stopModelMemory = nullptr;
    // The stop came at the end of the internal step in which x0 reached 1.3
    // (at t = 0.3): that step began before the crossing and ended at or after it.
    ASSERT_EQ(eventTimes.size(), 1u);
    EXPECT_LT(stopStepStart, 0.3);
    EXPECT_GE(eventTimes[0], 0.3);
    const std::vector<double> x = states();
    EXPECT_NEAR(x[0], 11, 1e-9);
    EXPECT_EQ(x[1], 8);
    EXPECT_EQ(cs()->flags[kFlagStateEvent], 0);
    // The hook entry points of the integrator memory.
    EXPECT_EQ(CVodeReInitSuperLUMT(cs()->integrator->cvodeMem), CV_SUCCESS);
    EXPECT_EQ(CVodeReInitSuperLUMT(nullptr), CV_MEM_NULL);
    EXPECT_EQ(CVodeStepRootInit(nullptr, nullptr), CV_MEM_NULL);
}

TEST_F(Integrator, TolerancesFollowTheNominals) {
    modelTable.modelEquations = oscillatorModel;
    cs_ = host().instantiate("cs", fmi2CoSimulation, MODEL_GUID, false);
    ASSERT_NE(cs_, nullptr);
    cs()->nominals[1] = -4; // a negative nominal switches the relative tolerance off
    ASSERT_EQ(api().SetupExperiment(cs_, fmi2True, 0.0, 0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(api().EnterInitializationMode(cs_), fmi2OK);
    const IntegratorData* d = cs()->integrator;
    ASSERT_NE(d, nullptr);
    const double* q = N_VGetArrayPointer(d->absTol);
    const double* r = N_VGetArrayPointer(d->relTol);
    // Tolerance 0 means the default relative tolerance 1e-5.
    EXPECT_EQ(r[0], 1e-5);
    EXPECT_EQ(q[0], 1e-5);
    EXPECT_EQ(r[1], 0.0);
    EXPECT_DOUBLE_EQ(q[1], 4e-5);
}

TEST_F(Integrator, FailedOutputsBeforeAnIntegrationEndTheStep) {
    struct Case {
        int code;
        fmi2Status status;
        const char* message;
    };
    const Case cases[] = {{1, fmi2Error, "fmi2DoStep: integration_step failed"},
                          {-999, fmi2Discard, "fmi2DoStep: simulation terminated by model"}};
    for (const Case& c : cases) {
        failureCode = c.code;
        startWith(outputFailingModel, 1, 0);
        ASSERT_EQ(api().DoStep(cs_, 0, 0.25, fmi2True), fmi2OK);
        EXPECT_EQ(api().DoStep(cs_, 0.25, 0.25, fmi2True), c.status) << c.code;
        EXPECT_TRUE(host().logContains(c.message)) << host().logText();
        if (c.code == 1) {
            EXPECT_TRUE(host().logContains("fetching current output: dsblock_ failed, QiErr = 1"));
            EXPECT_EQ(cs()->mode, modeTerminated);
        } else {
            // The model asked to terminate: a refused initialization does not revive it.
            EXPECT_EQ(api().EnterInitializationMode(cs_), fmi2Warning);
            fmi2Boolean terminated = fmi2False;
            ASSERT_EQ(api().GetBooleanStatus(cs_, fmi2Terminated, &terminated), fmi2OK);
            EXPECT_EQ(terminated, fmi2True);
            EXPECT_EQ(api().DoStep(cs_, 0.25, 0.25, fmi2True), fmi2Warning);
        }
        api().FreeInstance(cs_);
        cs_ = nullptr;
        host().clearLog();
    }
    failureCode = 0;
}

TEST_F(Integrator, TimeEventsThatDoNotAdvanceEndTheStep) {
    startWith(stuckTimeEventModel, 1, 0);
    EXPECT_EQ(api().DoStep(cs_, 0, 1.0, fmi2True), fmi2Error);
    EXPECT_TRUE(host().logContains("fmi2DoStep: time events do not advance at t = 5.0000000000000000e-01"))
        << host().logText();
    EXPECT_EQ(cs()->mode, modeTerminated);
}

TEST_F(Integrator, TooCloseTargetIsRetriedWithATinyStepThatDoesNotPersist) {
    startWith(closeEventModel, 1, 0, 1e-6, 1.0, true);
    ASSERT_EQ(cs()->timeData[kTimeNextEvent], kCloseEvent);
    ASSERT_EQ(api().DoStep(cs_, 1.0, 0.5, fmi2True), fmi2OK) << host().logText();
    EXPECT_NE(host().logText().find("OK|cs|Internal step too small at t = 1.000000, setting initial step size "
                                    "explicitly to "),
              std::string::npos)
        << host().logText();
    ASSERT_EQ(eventTimes.size(), 1u);
    EXPECT_EQ(eventTimes[0], kCloseEvent);
    EXPECT_NEAR(states()[0], exp(-0.5), 1e-5);
    // A changed input restarts the integrator at the next step, which chooses its own first step.
    const double u0 = 1;
    ASSERT_EQ(api().SetReal(cs_, &kInput0, 1, &u0), fmi2OK);
    ASSERT_EQ(api().DoStep(cs_, 1.5, 0.5, fmi2True), fmi2OK);
    EXPECT_NEAR(states()[0], exp(-1.0), 1e-5);
    double firstStep = 0;
    ASSERT_EQ(CVodeGetActualInitStep(cs()->integrator->cvodeMem, &firstStep), CV_SUCCESS);
    EXPECT_GT(firstStep, 1e-9);
}

TEST_F(Integrator, PrintsItsStatisticsAtTerminate) {
    startWith(ballModel, 1, -2, 1e-8, 0, true);
    double t = 0;
    for (int k = 0; k < 60; ++k, t += 0.05) ASSERT_EQ(api().DoStep(cs_, t, 0.05, fmi2True), fmi2OK);
    host().clearLog();
    ASSERT_EQ(api().Terminate(cs_), fmi2OK);
    EXPECT_EQ(cs()->integrator, nullptr);
    std::string statistics;
    std::string rejected;
    for (const LogRecord& r : host().log) {
        if (r.message.rfind("Sundials CVode Statistics\n", 0) == 0) statistics = r.message;
        if (r.message.rfind("Rejected count\n", 0) == 0) rejected = r.message;
    }
    ASSERT_FALSE(statistics.empty()) << host().logText();
    const char* const lines[] = {"    Stop time                                : 3.00 s\n",
                                 "    Number of external steps                 : 60\n",
                                 "    Grouping used                            : no\n"};
    for (const char* line : lines) EXPECT_NE(statistics.find(line), std::string::npos) << statistics;
    // Every counter is a plain count; the ball needs steps, evaluations and root evaluations.
    for (const char* label : {"Number of internal steps                 : ", "Number of f function evaluations         : ",
                              "Number of g function evaluations         : ",
                              "Number of Jacobian-evaluations (direct)  : "}) {
        const size_t at = statistics.find(label);
        ASSERT_NE(at, std::string::npos) << label;
        EXPECT_GT(atol(statistics.c_str() + at + strlen(label)), 0) << label;
    }
    EXPECT_EQ(rejected, "Rejected count\n"
                        "    Number of external steps                 : 0\n"
                        "    Number of internal steps                 : 0\n"
                        "    Number of f function evaluations         : 0 (0.00 s)\n"
                        "    Number of Jac function evaluations       : 0\n");
}

TEST_F(Integrator, UnrecoverableModelFailureEndsTheStepAfterCvodeReturned) {
    failureCode = 7;
    startWith(failingModel, 1, 0);
    ASSERT_EQ(api().DoStep(cs_, 0, 0.25, fmi2True), fmi2OK);
    EXPECT_EQ(api().DoStep(cs_, 0.25, 0.5, fmi2True), fmi2Error);
    EXPECT_EQ(cs()->mode, modeTerminated);
    EXPECT_EQ(cs()->integrator, nullptr);
    const std::vector<std::string> p = problems();
    ASSERT_EQ(p.size(), 4u) << host().logText();
    EXPECT_EQ(p[0], "Error|fmi2GetDerivatives: dsblock_ failed, QiErr = 7");
    EXPECT_EQ(p[1].rfind("Warning|CVODE: CVode failed with CV_", 0), 0u) << p[1];
    EXPECT_NE(p[1].find("failed in an unrecoverable manner."), std::string::npos) << p[1];
    EXPECT_EQ(p[2].rfind("Error|SUNDIALS_ERROR: CVode() failed with flag = CV_", 0), 0u) << p[2];
    EXPECT_EQ(p[3], "Error|fmi2DoStep: integration_step failed");
    EXPECT_EQ(api().DoStep(cs_, 0.75, 0.25, fmi2True), fmi2Warning);
}

TEST_F(Integrator, RecoverableFailuresCreepUpToTheStepLimit) {
    // Every evaluation past t = 0.5 fails recoverably: CVODE retries with ever
    // smaller steps until one integration has taken its 100000 steps.
    failureCode = 1;
    startWith(failingModel, 1, 0);
    EXPECT_EQ(api().DoStep(cs_, 0, 1.0, fmi2True), fmi2Error);
    EXPECT_EQ(cs()->mode, modeTerminated);
    const std::vector<std::string> p = problems();
    ASSERT_GE(p.size(), 6u);
    EXPECT_EQ(p[0].rfind("Error|Error: The following error was detected at time: 0.5", 0), 0u) << p[0];
    EXPECT_EQ(p[1], "Error|the model cannot go on");
    EXPECT_EQ(p[2], "Error|fmi2GetDerivatives: dsblock_ failed, QiErr = 1");
    EXPECT_EQ(p[p.size() - 3], "Warning|CVODE: CVode failed with CV_TOO_MUCH_WORK:\n At t = 0.5, mxstep steps taken "
                               "before reaching tout.");
    EXPECT_EQ(p[p.size() - 2], "Error|SUNDIALS_ERROR: CVode() failed with flag = CV_TOO_MUCH_WORK");
    EXPECT_EQ(p.back(), "Error|fmi2DoStep: integration_step failed");
}

TEST_F(Integrator, ModelAskingToTerminateInsideCvodeEndsTheSimulation) {
    failureCode = -999;
    startWith(failingModel, 1, 0);
    EXPECT_EQ(api().DoStep(cs_, 0, 1.0, fmi2True), fmi2Discard);
    EXPECT_EQ(host().log.back().message, "fmi2DoStep: simulation terminated by model");
    fmi2Boolean terminated = fmi2False;
    EXPECT_EQ(api().GetBooleanStatus(cs_, fmi2Terminated, &terminated), fmi2OK);
    EXPECT_EQ(terminated, fmi2True);
    EXPECT_EQ(cs()->mode, modeContinuousOrStepping);
    EXPECT_EQ(api().DoStep(cs_, 1.0, 0.5, fmi2True), fmi2Warning);
    EXPECT_EQ(host().log.back().message, "fmi2DoStep: model is terminated");
    EXPECT_EQ(api().Terminate(cs_), fmi2OK);
}

} // namespace

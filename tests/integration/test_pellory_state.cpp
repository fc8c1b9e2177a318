// FMU states, images and directional derivatives of the sine source library
// through our own host, in Model Exchange and Co-Simulation: a restored
// instance continues exactly like the original, also after fmi2Terminate and
// fmi2Reset and in a second instance fed from an image, and the allocator
// stays balanced.
#include <gtest/gtest.h>
#include <math.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "pellory.h"
#include "test_host.h"

namespace {

const fmi2ValueReference kParameters[] = {ref(1, 0), ref(1, 1), ref(1, 2), ref(1, 3), ref(1, 4)};

// Amplitude, frequency, phase, offset and start time of the sine.
const double kSine[5] = {2, 1.5, 0.3, 0.1, 0.0};

double auxiliary(double t) { return kSine[3] + kSine[0] * sin(2 * M_PI * kSine[1] * (t - kSine[4]) + kSine[2]); }

class PelloryState : public ::testing::TestWithParam<fmi2Type> {
protected:
    void SetUp() override {
        TestHost::allocator = CountingAllocator{};
        host_ = std::make_unique<TestHost>(PELLORY_SO);
        ASSERT_TRUE(host_->loaded()) << host_->error();
        c_ = make("sine");
    }
    void TearDown() override {
        for (fmi2FMUstate& s : states_) api().FreeFMUstate(c_, &s);
        for (fmi2Component c : instances_) api().FreeInstance(c);
        EXPECT_EQ(TestHost::allocator.live, 0) << "blocks still live";
    }
    const FmiApi& api() { return host_->api(); }
    bool coSimulation() const { return GetParam() == fmi2CoSimulation; }

    fmi2Component make(const char* name) {
        fmi2Component c = host_->instantiate(name, GetParam(), kGuid, false);
        EXPECT_NE(c, nullptr);
        instances_.push_back(c);
        return c;
    }
    fmi2FMUstate* newState() {
        states_.push_back(nullptr);
        return &states_.back();
    }
    // Instantiated -> stepping (Co-Simulation) or continuous-time mode at time 0.
    void start(fmi2Component c) {
        ASSERT_EQ(api().SetupExperiment(c, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        ASSERT_EQ(api().SetReal(c, kParameters, 5, kSine), fmi2OK);
        ASSERT_EQ(api().EnterInitializationMode(c), fmi2OK);
        ASSERT_EQ(api().ExitInitializationMode(c), fmi2OK);
        if (!coSimulation()) {
            fmi2EventInfo info{};
            ASSERT_EQ(api().NewDiscreteStates(c, &info), fmi2OK);
            ASSERT_EQ(api().EnterContinuousTimeMode(c), fmi2OK);
        }
    }
    void setInputs(fmi2Component c, double u0, double u1) {
        const fmi2ValueReference vr[] = {kInput0, kInput1};
        const double v[] = {u0, u1};
        ASSERT_EQ(api().SetReal(c, vr, 2, v), fmi2OK);
    }
    // Moves the instance from its time to t: a communication step or a new time.
    void advance(fmi2Component c, double t) {
        double now = 0;
        ASSERT_EQ(api().GetReal(c, &kTime, 1, &now), fmi2OK);
        if (coSimulation())
            ASSERT_EQ(api().DoStep(c, now, t - now, fmi2True), fmi2OK) << host_->logText();
        else
            ASSERT_EQ(api().SetTime(c, t), fmi2OK);
    }
    // Outputs, auxiliary, inputs and time.
    std::vector<double> values(fmi2Component c) {
        const fmi2ValueReference vr[] = {kOutput0, kOutput1, kAuxiliary, kInput0, kInput1, kTime};
        std::vector<double> v(6);
        EXPECT_EQ(api().GetReal(c, vr, 6, v.data()), fmi2OK);
        return v;
    }
    void expectClosedForm(fmi2Component c, double t, double u0, double u1) {
        const std::vector<double> v = values(c);
        EXPECT_NEAR(v[2], auxiliary(t), 1e-12);
        EXPECT_NEAR(v[0], u1 - auxiliary(t), 1e-12);
        EXPECT_NEAR(v[1], auxiliary(t) * u0, 1e-12);
        EXPECT_EQ(v[5], t);
    }
    std::vector<char> serialize(fmi2Component c, fmi2FMUstate state) {
        size_t size = 0;
        EXPECT_EQ(api().SerializedFMUstateSize(c, state, &size), fmi2OK);
        std::vector<char> image(size);
        EXPECT_EQ(api().SerializeFMUstate(c, state, image.data(), size), fmi2OK);
        return image;
    }
    std::string last() {
        if (host_->log.empty()) return "<none>";
        const LogRecord& r = host_->log.back();
        return std::string(statusName(r.status)) + "|" + r.message;
    }

    std::unique_ptr<TestHost> host_;
    fmi2Component c_ = nullptr;
    std::vector<fmi2Component> instances_;
    std::deque<fmi2FMUstate> states_; // pointers stay valid as states are added
};

TEST_P(PelloryState, RestoredInstanceContinuesLikeTheOriginal) {
    start(c_);
    setInputs(c_, 1.5, -2);
    advance(c_, 0.4);
    fmi2FMUstate* state = newState();
    ASSERT_EQ(api().GetFMUstate(c_, state), fmi2OK);
    const std::vector<double> saved = values(c_);

    setInputs(c_, 7, 8);
    advance(c_, 0.9);
    ASSERT_EQ(api().SetFMUstate(c_, *state), fmi2OK);
    EXPECT_EQ(values(c_), saved);
    if (coSimulation()) {
        double last = 0;
        ASSERT_EQ(api().GetRealStatus(c_, fmi2LastSuccessfulTime, &last), fmi2OK);
        EXPECT_EQ(last, 0.4);
    }
    advance(c_, 0.9);
    expectClosedForm(c_, 0.9, 1.5, -2);

    // A second get into the same pointer takes the new point.
    fmi2FMUstate before = *state;
    ASSERT_EQ(api().GetFMUstate(c_, state), fmi2OK);
    EXPECT_EQ(*state, before);
    advance(c_, 1.3);
    ASSERT_EQ(api().SetFMUstate(c_, *state), fmi2OK);
    expectClosedForm(c_, 0.9, 1.5, -2);
}

TEST_P(PelloryState, RestoreIntoAnInstanceAfterTerminateOrReset) {
    start(c_);
    setInputs(c_, 0.5, 3);
    advance(c_, 0.2);
    fmi2FMUstate* state = newState();
    ASSERT_EQ(api().GetFMUstate(c_, state), fmi2OK);

    ASSERT_EQ(api().Terminate(c_), fmi2OK);
    ASSERT_EQ(api().SetFMUstate(c_, *state), fmi2OK) << host_->logText();
    advance(c_, 0.7);
    expectClosedForm(c_, 0.7, 0.5, 3);

    ASSERT_EQ(api().Reset(c_), fmi2OK);
    ASSERT_EQ(api().SetFMUstate(c_, *state), fmi2OK) << host_->logText();
    expectClosedForm(c_, 0.2, 0.5, 3);
    advance(c_, 1.1);
    expectClosedForm(c_, 1.1, 0.5, 3);
    ASSERT_EQ(api().Terminate(c_), fmi2OK);
}

TEST_P(PelloryState, ImageRestoresASecondInstance) {
    start(c_);
    setInputs(c_, -1, 0.25);
    advance(c_, 0.3);
    fmi2FMUstate* state = newState();
    ASSERT_EQ(api().GetFMUstate(c_, state), fmi2OK);
    const std::vector<char> image = serialize(c_, *state);

    // Another instance of the library, not yet initialized (in Co-Simulation
    // without the dummy state of the saved instance), takes the image.
    fmi2Component other = make("other");
    fmi2FMUstate* loaded = newState();
    ASSERT_EQ(api().DeSerializeFMUstate(other, image.data(), image.size(), loaded), fmi2OK) << host_->logText();
    ASSERT_EQ(api().SetFMUstate(other, *loaded), fmi2OK) << host_->logText();
    EXPECT_EQ(values(other), values(c_));
    advance(c_, 0.8);
    advance(other, 0.8);
    EXPECT_EQ(values(other), values(c_));
    expectClosedForm(other, 0.8, -1, 0.25);
    api().FreeFMUstate(other, loaded);

    // Too small a buffer and a cut image are refused.
    std::vector<char> small(image.size() - 1);
    EXPECT_EQ(api().SerializeFMUstate(c_, *state, small.data(), small.size()), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SerializeFMUstate: tpl_dump failed");
    EXPECT_EQ(api().DeSerializeFMUstate(c_, image.data(), image.size() - 100, state), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DeSerializeFMUstate: tpl_load failed");
    ASSERT_EQ(api().SetFMUstate(c_, *state), fmi2OK);
    expectClosedForm(c_, 0.3, -1, 0.25);
}

TEST_P(PelloryState, DirectionalDerivativesOfTheOutputs) {
    start(c_);
    setInputs(c_, 2, -3);
    advance(c_, 0.6);
    const fmi2ValueReference unknown[] = {kOutput0, kOutput1};
    const fmi2ValueReference known[] = {kInput0, kInput1};
    double d[2] = {};
    const double alongInput1[] = {0, 1};
    ASSERT_EQ(api().GetDirectionalDerivative(c_, unknown, 2, known, 2, alongInput1, d), fmi2OK);
    EXPECT_NEAR(d[0], 1, 1e-9) << "dy0/du1";
    EXPECT_NEAR(d[1], 0, 1e-9);
    const double alongInput0[] = {1, 0};
    ASSERT_EQ(api().GetDirectionalDerivative(c_, unknown, 2, known, 2, alongInput0, d), fmi2OK);
    EXPECT_NEAR(d[0], 0, 1e-9);
    EXPECT_NEAR(d[1], auxiliary(0.6), 1e-9) << "dy1/du0";
    expectClosedForm(c_, 0.6, 2, -3);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, PelloryState, ::testing::Values(fmi2ModelExchange, fmi2CoSimulation),
                         [](const ::testing::TestParamInfo<fmi2Type>& info) {
                             return info.param == fmi2CoSimulation ? "CoSimulation" : "ModelExchange";
                         });

// Pellory in Co-Simulation integrates one dummy state that Model Exchange does
// not have: each state's image has its own size.
TEST(PelloryStateSizes, EachStateHasItsOwnImageSize) {
    TestHost::allocator = CountingAllocator{};
    {
        TestHost host(PELLORY_SO);
        ASSERT_TRUE(host.loaded()) << host.error();
        size_t sizes[3] = {};
        fmi2Type types[2] = {fmi2ModelExchange, fmi2CoSimulation};
        for (int i = 0; i < 2; ++i) {
            fmi2Component c = host.instantiate("sizes", types[i], kGuid, false);
            ASSERT_NE(c, nullptr);
            ASSERT_EQ(host->SetupExperiment(c, fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
            ASSERT_EQ(host->EnterInitializationMode(c), fmi2OK);
            fmi2FMUstate state = nullptr;
            ASSERT_EQ(host->GetFMUstate(c, &state), fmi2OK);
            ASSERT_EQ(host->SerializedFMUstateSize(c, state, &sizes[i]), fmi2OK);
            std::vector<char> image(sizes[i]);
            EXPECT_EQ(host->SerializeFMUstate(c, state, image.data(), image.size()), fmi2OK);
            fmi2FMUstate copy = nullptr;
            EXPECT_EQ(host->DeSerializeFMUstate(c, image.data(), image.size(), &copy), fmi2OK);
            host->FreeFMUstate(c, &copy);
            host->FreeFMUstate(c, &state);
            host->FreeInstance(c);
        }
        // Three arrays (states, derivatives, nominals) of one more double each.
        EXPECT_EQ(sizes[1], sizes[0] + 3 * sizeof(double));
    }
    EXPECT_EQ(TestHost::allocator.live, 0);
}

} // namespace

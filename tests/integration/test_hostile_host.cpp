// A host that passes null handles and null pointers: every call must fail
// with a status, never crash, and leave nothing allocated.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "test_host.h"

namespace {

const char* const kPelloryGuid = "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}";

// Calls every function that takes a component with `c` and null pointers for
// every pointer argument (counts of 1, so a careless body would dereference).
void callEverything(const FmiApi& api, fmi2Component c) {
    api.SetDebugLogging(c, fmi2True, 1, nullptr); // categories are not used
    EXPECT_NE(api.GetReal(c, nullptr, 1, nullptr), fmi2OK);
    EXPECT_NE(api.GetInteger(c, nullptr, 1, nullptr), fmi2OK);
    EXPECT_NE(api.GetBoolean(c, nullptr, 1, nullptr), fmi2OK);
    EXPECT_NE(api.GetString(c, nullptr, 1, nullptr), fmi2OK);
    EXPECT_NE(api.SetReal(c, nullptr, 1, nullptr), fmi2OK);
    EXPECT_NE(api.SetInteger(c, nullptr, 1, nullptr), fmi2OK);
    EXPECT_NE(api.SetBoolean(c, nullptr, 1, nullptr), fmi2OK);
    EXPECT_NE(api.SetString(c, nullptr, 1, nullptr), fmi2OK);
    EXPECT_NE(api.GetFMUstate(c, nullptr), fmi2OK);
    api.SetFMUstate(c, nullptr);
    api.FreeFMUstate(c, nullptr);
    EXPECT_NE(api.SerializedFMUstateSize(c, nullptr, nullptr), fmi2OK);
    EXPECT_NE(api.SerializeFMUstate(c, nullptr, nullptr, 16), fmi2OK);
    EXPECT_NE(api.DeSerializeFMUstate(c, nullptr, 16, nullptr), fmi2OK);
    EXPECT_NE(api.GetDirectionalDerivative(c, nullptr, 1, nullptr, 1, nullptr, nullptr), fmi2OK);
    EXPECT_NE(api.NewDiscreteStates(c, nullptr), fmi2OK);
    api.CompletedIntegratorStep(c, fmi2True, nullptr, nullptr); // nothing to report through
    EXPECT_NE(api.SetContinuousStates(c, nullptr, 1), fmi2OK);
    EXPECT_NE(api.GetDerivatives(c, nullptr, 1), fmi2OK);
    EXPECT_NE(api.GetEventIndicators(c, nullptr, 1), fmi2OK);
    EXPECT_NE(api.GetContinuousStates(c, nullptr, 1), fmi2OK);
    EXPECT_NE(api.GetNominalsOfContinuousStates(c, nullptr, 1), fmi2OK);
    EXPECT_NE(api.SetRealInputDerivatives(c, nullptr, 1, nullptr, nullptr), fmi2OK);
    EXPECT_NE(api.GetRealOutputDerivatives(c, nullptr, 1, nullptr, nullptr), fmi2OK);
    EXPECT_NE(api.GetStatus(c, fmi2DoStepStatus, nullptr), fmi2OK);
    EXPECT_NE(api.GetRealStatus(c, fmi2LastSuccessfulTime, nullptr), fmi2OK);
    EXPECT_NE(api.GetIntegerStatus(c, fmi2DoStepStatus, nullptr), fmi2OK);
    EXPECT_NE(api.GetBooleanStatus(c, fmi2Terminated, nullptr), fmi2OK);
    EXPECT_NE(api.GetStringStatus(c, fmi2PendingStatus, nullptr), fmi2OK);
}

// Lifecycle calls without any pointer argument but the component.
void callLifecycle(const FmiApi& api, fmi2Component c) {
    api.SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0);
    api.EnterInitializationMode(c);
    api.ExitInitializationMode(c);
    api.EnterEventMode(c);
    api.EnterContinuousTimeMode(c);
    api.SetTime(c, 1.0);
    api.DoStep(c, 0.0, 0.1, fmi2True);
    api.CancelStep(c);
    api.Terminate(c);
    api.Reset(c);
}

class HostileHost : public ::testing::TestWithParam<fmi2Type> {
protected:
    void SetUp() override {
        TestHost::allocator = CountingAllocator{};
        host_ = std::make_unique<TestHost>(PELLORY_SO);
        ASSERT_TRUE(host_->loaded()) << host_->error();
    }
    void TearDown() override { EXPECT_EQ(TestHost::allocator.live, 0); }
    std::unique_ptr<TestHost> host_;
};

TEST_P(HostileHost, NullComponentIsAnErrorEverywhere) {
    callEverything(host_->api(), nullptr);
    EXPECT_NE(host_->api().SetDebugLogging(nullptr, fmi2True, 0, nullptr), fmi2OK);
    EXPECT_NE(host_->api().CompletedIntegratorStep(nullptr, fmi2True, nullptr, nullptr), fmi2OK);
    callLifecycle(host_->api(), nullptr);
    EXPECT_NE(host_->api().Terminate(nullptr), fmi2OK);
    host_->api().FreeInstance(nullptr);
}

TEST_P(HostileHost, NullPointersInEveryModeAreRefused) {
    fmi2Component c = host_->instantiate("hostile", GetParam(), kPelloryGuid, true);
    ASSERT_NE(c, nullptr);
    const FmiApi& api = host_->api();
    callEverything(api, c);
    ASSERT_EQ(api.SetupExperiment(c, fmi2False, 0, 0, fmi2True, 2.0), fmi2OK);
    ASSERT_EQ(api.EnterInitializationMode(c), fmi2OK);
    callEverything(api, c);
    ASSERT_EQ(api.ExitInitializationMode(c), fmi2OK);
    callEverything(api, c);
    callLifecycle(api, c);
    callEverything(api, c);
    api.FreeInstance(c);
}

TEST_P(HostileHost, CallsInAnyOrderNeverCrash) {
    fmi2Component c = host_->instantiate("order", GetParam(), kPelloryGuid, false);
    ASSERT_NE(c, nullptr);
    const FmiApi& api = host_->api();
    for (int round = 0; round < 3; ++round) {
        api.Terminate(c);
        api.DoStep(c, 0.0, 0.5, fmi2True);
        api.ExitInitializationMode(c);
        api.EnterContinuousTimeMode(c);
        api.Reset(c);
        api.EnterInitializationMode(c);
        api.EnterInitializationMode(c);
        api.SetTime(c, -1.0);
        api.ExitInitializationMode(c);
        api.DoStep(c, 0.0, 0.5, fmi2True);
        api.DoStep(c, 0.0, 0.5, fmi2True);
        fmi2FMUstate state = nullptr;
        api.GetFMUstate(c, &state);
        api.Terminate(c);
        if (state) api.SetFMUstate(c, state);
        api.FreeFMUstate(c, &state);
    }
    api.FreeInstance(c);
}

TEST(HostileCoSimulation, SteppingFromAnEventModeIsRefusedNotHung) {
    TestHost::allocator = CountingAllocator{};
    TestHost host(PELLORY_SO);
    ASSERT_TRUE(host.loaded());
    fmi2Component c = host.instantiate("cs", fmi2CoSimulation, kPelloryGuid, false);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(host->SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
    ASSERT_EQ(host->EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(host->ExitInitializationMode(c), fmi2OK);
    host->EnterEventMode(c); // a Model Exchange call on a Co-Simulation instance
    host.clearLog();
    EXPECT_EQ(host->DoStep(c, 0.0, 0.1, fmi2True), fmi2Warning);
    EXPECT_EQ(host.logText(), "Warning|cs|fmi2DoStep: may only be called in stepping mode\n");
    host->FreeInstance(c);
    EXPECT_EQ(TestHost::allocator.live, 0);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, HostileHost, ::testing::Values(fmi2ModelExchange, fmi2CoSimulation),
                         [](const ::testing::TestParamInfo<fmi2Type>& info) {
                             return std::string(info.param == fmi2ModelExchange ? "ModelExchange" : "CoSimulation");
                         });

} // namespace

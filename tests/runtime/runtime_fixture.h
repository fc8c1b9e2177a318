// Shared set-up of the runtime tests: an instance of the test model created
// through the linked FMI functions, so runtime messages have a host to reach.
#pragma once

#include <gtest/gtest.h>

#include "instance.h"
#include "runtime.h"
#include "test_host.h"
#include "thread_context.h"

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestHost::allocator = CountingAllocator{};
        host_ = std::make_unique<TestHost>(linkedFmiApi());
        component_ = host_->instantiate("rt", fmi2ModelExchange, MODEL_GUID);
        ASSERT_NE(component_, nullptr);
        instance_ = static_cast<ModelInstance*>(component_);
        host_->clearLog();
    }
    void TearDown() override {
        leaveModelCall();
        if (component_) host_->api().FreeInstance(component_);
        EXPECT_EQ(TestHost::allocator.live, 0);
    }
    // Acts as if the instance's model call were running on this thread.
    void enterModelCall() {
        instanceInModelCall = instance_;
        bindModelData(instance_->modelData);
    }
    void leaveModelCall() {
        instanceInModelCall = nullptr;
        bindModelData(nullptr);
    }
    TestHost& host() { return *host_; }
    ModelInstance* instance() { return instance_; }

    std::unique_ptr<TestHost> host_;
    fmi2Component component_ = nullptr;
    ModelInstance* instance_ = nullptr;
};

// One instance of the room library of the given kind, loaded through our own
// host, with a balanced allocator checked at the end.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "test_host.h"
#include "vastorel.h"

template <fmi2Type kKind>
class VastorelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        TestHost::allocator = CountingAllocator{};
        host_ = std::make_unique<TestHost>(VASTOREL_SO);
        ASSERT_TRUE(host_->loaded()) << host_->error();
        c_ = host_->instantiate("room", kKind, kRoomGuid, false);
        ASSERT_NE(c_, nullptr);
    }
    void TearDown() override {
        if (c_) api().FreeInstance(c_);
        EXPECT_EQ(TestHost::allocator.live, 0) << "blocks still live";
    }
    const FmiApi& api() { return host_->api(); }

    void set(fmi2ValueReference vr, double v) { ASSERT_EQ(api().SetReal(c_, &vr, 1, &v), fmi2OK); }
    double read(fmi2ValueReference vr) {
        double v = -12345;
        EXPECT_EQ(api().GetReal(c_, &vr, 1, &v), fmi2OK);
        return v;
    }

    std::unique_ptr<TestHost> host_;
    fmi2Component c_ = nullptr;
};

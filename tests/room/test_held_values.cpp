// Held values of the room model on a model data record of its own: the values
// of the extra initial pass, the strict time test before a shift into the
// previous values, and the saving mode that writes into the previous slots.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "room_model.h"
#include "runtime.h"

namespace {

// Auxiliaries of the six slots: medium.u, theConWall1.solid.T, convExtWall.solid.T, theConWall.dT, der_T, medium.p.
const int kSlots[6] = {65, 186, 101, 174, 164, 61};

class HeldValues : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = std::make_unique<ModelData>();
        copyModelData(data_.get());
        d()->heldTimeA = d()->heldTimeB = EVENT_TIME_UNSET;
    }
    ModelData* d() { return data_.get(); }
    // The six variables take base + slot.
    void present(double base) {
        for (int i = 0; i < 6; ++i) w_[kSlots[i]] = base + i;
    }
    void update(double t, int updateKind = 1) {
        updateHeldValues(&t, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, w_.data(),
                         nullptr, nullptr, flags_, nullptr, d(), updateKind, 0);
    }
    std::unique_ptr<ModelData> data_;
    std::vector<double> w_ = std::vector<double>(189, 0.0);
    ModelFlags flags_[kFlagCount] = {};
};

TEST_F(HeldValues, TheExtraInitialPassTakesTheFixedStartValues) {
    d()->initialCall = 1;
    d()->initPhase = 1;
    w_[52] = 99000; // start pressure
    present(7);
    update(0, 0);
    const double expected[6] = {0, 288.15, 288.15, 0, 0, 99000};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(d()->heldValues[i], expected[i]) << i;
}

TEST_F(HeldValues, ASecondUpdateAtTheSameTimeShiftsNothingIntoThePrevious) {
    d()->eventFlag = 1;
    flags_[kFlagHeldArg] = 1;
    present(10);
    update(5);
    present(20);
    update(6); // a later time: the values of time 5 become the previous ones
    present(30);
    update(6); // the same time again: group A keeps its previous values
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(d()->heldValues[i], 30 + i) << i;
        EXPECT_EQ(d()->previousHeldValues[i], 10 + i) << "still those of time 5 " << i;
    }
    EXPECT_EQ(d()->heldTimeA, 6);
    EXPECT_EQ(d()->previousHeldTimeA, 5);
}

TEST_F(HeldValues, TheSavingModeKeepsTheValuesOnceAndWritesThePreviousSlots) {
    present(10);
    update(1);
    flags_[kFlagHeldMode] = 4;
    present(20);
    update(2);
    present(30);
    update(3);
    EXPECT_EQ(d()->heldValuesSaved, 1);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(d()->savedHeldValues[i], 10 + i) << i;
        EXPECT_EQ(d()->heldValues[i], 10 + i) << "current slots untouched " << i;
        EXPECT_EQ(d()->previousHeldValues[i], 30 + i) << i;
    }
    EXPECT_EQ(d()->previousHeldTimeA, 3);
    EXPECT_EQ(d()->savedHeldTimeA, 1);
}

} // namespace

// Split factors of the room model's zone function, linked from the room
// library's objects: the factors of the model's own surfaces, rows left out
// for non-positive areas, the formula chosen by the position of the area, and
// the failures that end the evaluation.
#include <gtest/gtest.h>

#include <vector>

#include "room_model.h"
#include "thread_context.h"

namespace {

struct Case {
    const char* name;
    int nRow;
    std::vector<double> areas, exterior, windows;
    std::vector<double> expected; // row-major nRow x nCol
};

// ATot is the sum of all areas; the first listed area subtracts its wall, the
// second its window, later ones nothing.
const Case kCases[] = {
    {"model", 2, {11.5, 14.0}, {3.5, 8.0}, {7.0, 7.0}, {8.0 / 15, 3.5 / 10.5, 7.0 / 15, 7.0 / 10.5}},
    {"firstAreaZero", 3, {0, 6, 4}, {1, 2}, {3, 1}, {(6 - 3) / 6.0, (6 - 1) / 7.0, 4 / 6.0, 4 / 7.0, 0, 0}},
    {"negativeBetween", 3, {5, -1, 3}, {1, 0.5}, {2, 1}, {4 / 4.0, 4.5 / 5.5, 3 / 4.0, 3 / 5.5, 0, 0}},
    {"noColumns", 2, {1, 2}, {}, {}, {}},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SplitFactors : public ::testing::TestWithParam<Case> {
protected:
    void TearDown() override { freeOwnThreadBuffers(); }
};

RealArray vector(std::vector<double>& v) {
    return RealWrapData(v.empty() ? nullptr : v.data(), 1, static_cast<int>(v.size()));
}

TEST_P(SplitFactors, MatchTheAreaFormulas) {
    Case c = GetParam();
    const int nCol = static_cast<int>(c.exterior.size());
    std::vector<double> result;
    int dims[2] = {-1, -1};
    const int failed = runUnderTrap([&] {
        RealArray r = splitFacVal(c.nRow, nCol, vector(c.areas), vector(c.exterior), vector(c.windows));
        // The result stays the caller's: scratch taken after the call does not overwrite it.
        RealFill(RealConstruct(1, 64), -7.0);
        dims[0] = r.dims[0];
        dims[1] = r.dims[1];
        result.assign(r.data, r.data + c.nRow * nCol);
    });
    ASSERT_EQ(failed, 0);
    EXPECT_EQ(dims[0], c.nRow);
    EXPECT_EQ(dims[1], nCol);
    ASSERT_EQ(result.size(), c.expected.size());
    for (size_t i = 0; i < result.size(); ++i) EXPECT_NEAR(result[i], c.expected[i], 1e-15) << i;
}

INSTANTIATE_TEST_SUITE_P(Areas, SplitFactors, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Each of these ends the evaluation through the error trap.
const Case kFailures[] = {
    {"exteriorSizeMismatch", 2, {1, 2}, {1}, {1, 1}, {}},
    {"windowSizeMismatch", 2, {1, 2}, {1, 1}, {1}, {}},
    {"zeroDenominator", 2, {2, 1}, {1, 0}, {2, 0}, {}},
    {"morePositiveAreasThanRows", 1, {1, 2, 3}, {1}, {1}, {}},
};

class SplitFactorFailures : public SplitFactors {};

TEST_P(SplitFactorFailures, UnwindToTheTrap) {
    Case c = GetParam();
    bool returned = false;
    const int failed = runUnderTrap([&] {
        splitFacVal(c.nRow, static_cast<int>(c.exterior.size()), vector(c.areas), vector(c.exterior),
                    vector(c.windows));
        returned = true;
    });
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(returned);
    ThreadContext* context = getThreadContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->functionStack, nullptr) << "the function frame is gone";
}

INSTANTIATE_TEST_SUITE_P(Areas, SplitFactorFailures, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// An area argument without dimensions has no size to read: refused before any element is touched.
TEST(SplitFactorArguments, AScalarAreaArgumentIsRefused) {
    double areas[2] = {1, 2}, window = 1, exterior = 1;
    const int failed = runUnderTrap([&] {
        splitFacVal(2, 1, RealWrapData(areas, 1, 2), RealWrapData(&exterior, 0), RealWrapData(&window, 1, 1));
    });
    EXPECT_EQ(failed, 1);
    freeOwnThreadBuffers();
}

} // namespace

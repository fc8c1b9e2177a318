// The persistent pool: bump allocation that survives the per-thread marks,
// the limits of each buffer, and failures that stick without the position
// ever passing the end.
#include "persistent_pool.h"
#include "test_arrays_support.h"

namespace {

class Pool : public ArrayTest {
protected:
    void SetUp() override {
        ArrayTest::SetUp();
        saved_ = currentMarkNon;
    }
    void TearDown() override {
        currentMarkNon = saved_;
        ArrayTest::TearDown();
    }

    // Walks one buffer from its first element: capacity - 1 elements can be
    // handed out, a request that reaches the end fails and leaves the
    // position at the end, after which every request fails the same way.
    template <typename T>
    void checkLimits(T*& position, T* end, int capacity, T* (*allocate)(int), const std::string& expected) {
        T* const first = end - capacity;
        position = first;
        EXPECT_EQ(failure([&] { allocate(capacity); }), expected);
        EXPECT_EQ(position, end);
        position = first;
        EXPECT_EQ(allocate(capacity - 1), first);
        EXPECT_EQ(allocate(0), end - 1) << "an empty request below the end succeeds";
        EXPECT_EQ(failure([&] { allocate(1); }), expected);
        EXPECT_EQ(position, end);
        EXPECT_EQ(failure([&] { allocate(0); }), expected);
        EXPECT_EQ(failure([&] { allocate(1); }), expected);
        position = first;
        EXPECT_EQ(failure([&] { allocate(-1); }), "n>=0 | Number of elements must not be negative");
        EXPECT_EQ(position, first) << "a negative request never moves the position back";
    }

    PersistentMark saved_;
};

TEST_F(Pool, PersistentArraysSurviveTheMarks) {
    const MarkPlace before = currentMarkNon.place;
    RealArray a = RealConstructNon(2, 3, 4);
    EXPECT_EQ(a.dims, before.Sizebuffer) << "the sizes are allocated before the elements";
    EXPECT_EQ(a.data, before.Realbuffer);
    EXPECT_EQ(currentMarkNon.place.Sizebuffer, before.Sizebuffer + 2);
    EXPECT_EQ(currentMarkNon.place.Realbuffer, before.Realbuffer + 12);
    RealFill(a, 2.5);

    ResetMarks();
    RealFill(RealConstruct(2, 3, 4), -1.0);
    EXPECT_EQ(dimsOf(a), std::vector<int>({3, 4}));
    EXPECT_EQ(RealSum(a), 30.0);

    IntegerArray i = IntegerConstructNon(1, 5);
    EXPECT_EQ(i.data, before.Integerbuffer);
    StringArray s = StringConstructNon(0);
    EXPECT_EQ(s.ndims, 0);
    EXPECT_EQ(s.data, before.Stringbuffer);
    EXPECT_EQ(currentMarkNon.place.Stringbuffer, before.Stringbuffer + 1);
    EXPECT_EQ(failure([] { RealConstructNon(1, -3); }), "dims[i]>=0 | Array sizes must not be negative");
}

TEST_F(Pool, EachBufferHandsOutOneLessThanItsCapacity) {
    const std::string tail = "\nIt could due to too large matrices, infinite recursion, or uninitialized variables.\n";
    checkLimits(currentMarkNon.place.Realbuffer, EndRealbufferNon, 70000, RealAllocNon,
                "currentMarkNon.place.Realbuffer<EndRealbufferNon | Out of memory for reals" + tail +
                    "You can change the memory size by setting the variable Advanced.RealBufferSize.");
    checkLimits(currentMarkNon.place.Integerbuffer, EndIntegerbufferNon, 500000, IntegerAllocNon,
                "currentMarkNon.place.Integerbuffer<EndIntegerbufferNon | Out of memory for integers" + tail +
                    "You can increase the size of 'Integerbuffer' in wexalo/source/matrixop");
    checkLimits(currentMarkNon.place.Sizebuffer, EndSizebufferNon, 500000, SizeAllocNon,
                "currentMarkNon.place.Sizebuffer<EndSizebufferNon | Out of memory for array dimensions\nIt could due "
                "to too many matrices, infinite recursion, or uninitialized variables.\nYou can increase the size of "
                "'Sizebuffer' in wexalo/source/matrixop");
    checkLimits(currentMarkNon.place.Stringbuffer, EndStringbufferNon, 10000, StringPointerAllocNon,
                "currentMarkNon.place.Stringbuffer<EndStringbufferNon | Out of memory for strings" + tail +
                    "You can increase the size of 'Stringbuffer' in wexalo/source/matrixop");
}

} // namespace

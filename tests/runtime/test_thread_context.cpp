// The per-thread record: lazy creation, the bump buffers and their marks,
// the simple-string region, and freeing when threads end.
#include <gtest/gtest.h>

#include <string.h>

#include <thread>
#include <vector>

#include "runtime.h"
#include "thread_context.h"

namespace {

class ThreadContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        releaseRuntimeBuffers();
        ResetMarks();
    }
    void TearDown() override { releaseRuntimeBuffers(); }
};

TEST_F(ThreadContextTest, RecordIsCreatedOncePerThread) {
    ThreadContext* mine = getThreadContext();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(getThreadContext(), mine);
    ThreadContext* other = nullptr;
    std::thread([&] { other = getThreadContext(); }).join();
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, mine);
}

TEST_F(ThreadContextTest, ThreadsThatEndFreeTheirRecordsAndBuffers) {
    // Under AddressSanitizer a record or buffer left behind is reported as a leak.
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([] {
            double* r = RealAlloc(100);
            ASSERT_NE(r, nullptr);
            r[99] = 1.0;
            IntegerAlloc(10);
            StringPointerAlloc(3);
        });
    for (std::thread& t : threads) t.join();
}

TEST_F(ThreadContextTest, AllocationsBumpAndMarksRelease) {
    double* a = RealAlloc(10);
    SavedMarks saved = PushMark();
    double* b = RealAlloc(5);
    EXPECT_EQ(b, a + 10);
    int32_t* i = IntegerAlloc(4);
    int32_t* s = SizeAlloc(2);
    ASSERT_NE(i, nullptr);
    ASSERT_NE(s, nullptr);
    PopMark(saved);
    EXPECT_EQ(RealAlloc(1), a + 10) << "the pop frees everything since the push";
    SaveMark(nullptr);
    RealAlloc(7);
    ReleaseToMark();
    EXPECT_EQ(RealAlloc(1), a + 11);
    ResetMarks();
    EXPECT_EQ(RealAlloc(1), a);
}

TEST_F(ThreadContextTest, BufferEndAndNegativeCountsAreRuntimeErrors) {
    ThreadContext* c = getThreadContext();
    double* start = RealAlloc(0);
    EXPECT_EQ(runUnderTrap([] { RealAlloc(kRealBufferSize - 1); }), 0) << "one fewer than the room fits";
    ResetMarks();
    EXPECT_EQ(runUnderTrap([] { RealAlloc(kRealBufferSize); }), 1) << "reaching the end fails";
    EXPECT_EQ(c->currentMark.place.Realbuffer, start);
    EXPECT_EQ(runUnderTrap([] { IntegerAlloc(-1); }), 1);
    EXPECT_EQ(runUnderTrap([] { SizeAlloc(-5); }), 1);
    EXPECT_EQ(runUnderTrap([] { StringPointerAlloc(kStringBufferSize); }), 1);
    EXPECT_EQ(c->currentMark.place.Integerbuffer, c->bufferStart.Integerbuffer) << "no mark moved backwards";
    EXPECT_EQ(c->currentMark.place.Sizebuffer, c->bufferStart.Sizebuffer);
}

TEST_F(ThreadContextTest, StringMarksAndKeepString) {
    ThreadContext* c = getThreadContext();
    createThreadBuffers();
    char* base = GetStringMark();
    ASSERT_NE(base, nullptr);
    SetStringMark(nullptr);
    EXPECT_EQ(GetStringMark(), base);

    // A text written above the position is moved down to it.
    char* position = base;
    char* text = base + 20;
    strcpy(text, "moved");
    SetStringMark(text + 6);
    EXPECT_EQ(KeepString(text, position), position);
    EXPECT_STREQ(position, "moved");
    EXPECT_EQ(GetStringMark(), position + 6);

    // A text outside the region is returned as it is; the mark goes to the position.
    static char outside[] = "elsewhere";
    EXPECT_EQ(KeepString(outside, base + 3), outside);
    EXPECT_EQ(c->stringmark, base + 3);
}

TEST_F(ThreadContextTest, ReleasedBuffersComeBackZeroFilled) {
    double* r = RealAlloc(4);
    r[0] = 42.0;
    releaseRuntimeBuffers();
    EXPECT_EQ(getThreadContext()->EndRealbuffer, nullptr);
    double* fresh = RealAlloc(4);
    EXPECT_EQ(fresh[0], 0.0);
}

TEST_F(ThreadContextTest, TrapRestoresStackAndMarks) {
    double* before = RealAlloc(0);
    FunctionFrame outer;
    pushFunctionFrame(&outer, "outer");
    int result = runUnderTrap([] {
        FunctionFrame inner;
        pushFunctionFrame(&inner, "inner");
        RealAlloc(100);
        runtimeError("boom");
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(getThreadContext()->functionStack, &outer);
    EXPECT_EQ(getThreadContext()->depth, 1u);
    EXPECT_EQ(RealAlloc(0), before);
    popFunctionFrame(&outer);
    EXPECT_EQ(getThreadContext()->functionStack, nullptr);
}

TEST_F(ThreadContextTest, NestedTrapsUnwindOnlyToTheirOwn) {
    int inner = -1;
    int outer = runUnderTrap([&] {
        inner = runUnderTrap([] { runtimeError("inner failure"); });
        EXPECT_TRUE(trapArmed());
    });
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(outer, 0);
    EXPECT_FALSE(trapArmed());
}

} // namespace

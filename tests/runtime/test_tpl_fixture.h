// Recording hooks for the typed pack library: printed messages, fatal
// reports, and an allocator that counts live blocks, fails the Nth
// allocation on request and offsets its blocks, so a block that reached the
// standard free or realloc by mistake is caught by the sanitizer.
#pragma once

#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tpl_internal.h"

struct TplRecorder {
    static inline std::vector<std::string> messages;
    static inline std::vector<std::string> fatals;
    static inline std::map<void*, size_t> live;
    static inline long allocations = 0;
    static inline long failAt = 0; // 0: never fail

    static std::string format(const char* format, va_list args) {
        char text[4096];
        vsnprintf(text, sizeof text, format, args);
        return text;
    }
    static int oops(const char* f, ...) {
        va_list args;
        va_start(args, f);
        messages.push_back(format(f, args));
        va_end(args);
        return 0;
    }
    static void fatal(const char* f, ...) {
        va_list args;
        va_start(args, f);
        fatals.push_back(format(f, args));
        va_end(args);
    }
    static void* allocate(size_t size) {
        if (++allocations == failAt) return nullptr;
        char* block = static_cast<char*>(malloc(size + 16));
        live[block + 16] = size;
        return block + 16;
    }
    static void release(void* block) {
        if (!block) return;
        EXPECT_EQ(live.erase(block), 1u) << "block not from this allocator";
        free(static_cast<char*>(block) - 16);
    }
    static void* reallocate(void* block, size_t size) {
        void* grown = allocate(size);
        if (grown && block) {
            memcpy(grown, block, std::min(size, live[block]));
            release(block);
        }
        return grown;
    }
    static bool said(const std::string& text) {
        return std::find(messages.begin(), messages.end(), text) != messages.end();
    }
    static void reset() {
        messages.clear();
        fatals.clear();
        allocations = 0;
        failAt = 0;
    }
};

class TplTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = TplHooks;
        TplRecorder::reset();
        TplRecorder::live.clear();
        TplHooks = TplHookTable{TplRecorder::oops, TplRecorder::allocate, TplRecorder::reallocate,
                                TplRecorder::release, TplRecorder::fatal, 0};
    }
    void TearDown() override {
        EXPECT_TRUE(TplRecorder::live.empty()) << TplRecorder::live.size() << " blocks still live";
        TplHooks = saved_;
    }

public:
    // The image of a packed map, written into a buffer of exactly its size.
    static std::vector<char> dump(TplNode* map) {
        size_t size = 0;
        EXPECT_EQ(tpl_dump(map, TPL_MODE_SIZE_ONLY, &size), 0);
        std::vector<char> image(size);
        EXPECT_EQ(tpl_dump(map, TPL_MODE_MEMORY | TPL_MODE_PREALLOCATED, image.data(), image.size()), 0);
        return image;
    }
    static uint32_t word(const std::vector<char>& image, size_t at) {
        uint32_t value;
        memcpy(&value, image.data() + at, 4);
        return value;
    }

protected:
    TplHookTable saved_{};
};

// A record shaped like an FMU state, with the map the state serialization uses.
struct StateRecord {
    int32_t toleranceDefined, loggingOn, perturbByState;
    double tolerance, time, nextOutputTime;
    double x[1], xdot[1], p[6], u[3], y[3], w[2], indicators[1], nominals[1], extra1[1], extra2[1];
    char* strings[2];
    int32_t ints[11];
    uint64_t stepCounter;
    double timeData[5];
    int32_t flags[13];
    TplBuffer block;
    double delays[4];
};

inline TplNode* mapState(StateRecord& s) {
    int32_t* i = s.ints;
    return tpl_map("ifif#f#f#f#f#f#f#f#f#f#s#fiiiiiiiiiiiUfiS(fffff)S(iiiiiiiiiiiii)Bf#", &s.toleranceDefined,
                   &s.tolerance, &s.loggingOn, s.x, 1, s.xdot, 1, s.p, 6, s.u, 3, s.y, 3, s.w, 2, s.indicators, 1,
                   s.nominals, 1, s.extra1, 1, s.extra2, 1, s.strings, 2, &s.time, i, i + 1, i + 2, i + 3, i + 4,
                   i + 5, i + 6, i + 7, i + 8, i + 9, i + 10, &s.stepCounter, &s.nextOutputTime, &s.perturbByState,
                   s.timeData, s.flags, &s.block, s.delays, 4);
}

// Fills a state record with distinct values; `text` and `bytes` stay the caller's.
inline void fillState(StateRecord& s, char* text, char* bytes, uint32_t byteCount) {
    memset(&s, 0, sizeof s);
    double* doubles[] = {s.x, s.xdot, s.p, s.u, s.y, s.w, s.indicators, s.nominals, s.extra1, s.extra2,
                         s.timeData, s.delays};
    size_t counts[] = {1, 1, 6, 3, 3, 2, 1, 1, 1, 1, 5, 4};
    double v = 0.5;
    for (size_t a = 0; a < 12; ++a)
        for (size_t k = 0; k < counts[a]; ++k) doubles[a][k] = (v += 1.25);
    s.toleranceDefined = 1;
    s.tolerance = 1e-6;
    s.loggingOn = 1;
    s.perturbByState = -3;
    s.time = 2.75;
    s.nextOutputTime = 3.0;
    for (int k = 0; k < 11; ++k) s.ints[k] = k * 7 - 20;
    for (int k = 0; k < 13; ++k) s.flags[k] = 100 + k;
    s.stepCounter = 0x0123456789abcdefULL;
    s.strings[0] = text;
    s.strings[1] = nullptr;
    s.block = TplBuffer{bytes, byteCount};
}

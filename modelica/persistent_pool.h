// The persistent pool: bump-allocated buffers for values that must outlive an
// evaluation. One pool per loaded library, shared by every instance and
// thread; positions only move forward and nothing is ever released. Every
// move of a position happens under persistentPoolLock().
#pragma once

#include <mutex>

#include "thread_context.h"

extern "C" {

enum {
    kRealBufferSizeNon = 70000,
    kIntegerBufferSizeNon = 500000,
    kSizeBufferSizeNon = 500000,
    kStringBufferSizeNon = 10000,
    kStringAreaSizeNon = 100000
};

struct PersistentMark {
    MarkPlace place;
};

// Where the next persistent allocation of each kind begins.
extern PersistentMark currentMarkNon;
extern double* const EndRealbufferNon;
extern int32_t* const EndIntegerbufferNon;
extern int32_t* const EndSizebufferNon;
extern const char** const EndStringbufferNon;

// The persistent string area (filled by SimpleStringToNon) and its position.
extern char* startstringmarkNon;
extern char* const EndstringmarkNon;

} // extern "C"

// The lock that guards every position of the pool and the string area.
std::mutex& persistentPoolLock();

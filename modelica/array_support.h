// Private helpers of the array library: the runtime functions it calls (the
// same declarations as in runtime.h, which needs a model's ModelData layout
// and is not visible here), checked element counts and the layout checks of
// the records.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "matrixop.h"
#include "thread_context.h"

extern "C" {
void RuntimeAssert(int condition, const char* conditionText, const char* message);
void runtimeError(const char* text);
void runtimeMessage(const char* text);
void runtimeMessageInteger(const char* text, int value);
void runtimeMessageMatrixElement(const char* name, int i, int j, double value);
}

static_assert(sizeof(RealArray) == 24 && offsetof(RealArray, dims) == 8 && offsetof(RealArray, data) == 16,
              "RealArray is three fields: ndims, dims, data");
static_assert(sizeof(IntegerArray) == sizeof(RealArray) && offsetof(IntegerArray, data) == 16,
              "IntegerArray has the layout of RealArray");
static_assert(sizeof(StringArray) == sizeof(RealArray) && offsetof(StringArray, data) == 16,
              "StringArray has the layout of RealArray");
static_assert(sizeof(int) == 4, "int32 values travel as int");

namespace arrays {

// Checks that bound what an array may be: sizes are never negative and an
// element count always fits in int32, so no allocator is asked for a negative
// or wrapped-around number of elements.
inline int32_t requireCount(int64_t n) {
    RuntimeAssert(n >= 0, "n>=0", "Number of elements must not be negative");
    RuntimeAssert(n <= INT32_MAX, "n<=2147483647", "Too many array elements");
    return static_cast<int32_t>(n);
}

// Product of the sizes (1 for no sizes, 0 when any size is 0).
inline int32_t elementCount(int ndims, const int32_t* dims) {
    RuntimeAssert(ndims >= 0, "ndims>=0", "Number of array dimensions must not be negative");
    bool empty = false;
    for (int i = 0; i < ndims; ++i) {
        RuntimeAssert(dims[i] >= 0, "dims[i]>=0", "Array sizes must not be negative");
        if (dims[i] == 0) empty = true;
    }
    if (empty) return 0;
    int64_t n = 1;
    for (int i = 0; i < ndims; ++i) {
        n *= dims[i];
        if (n > INT32_MAX) {
            RuntimeAssert(0, "n<=2147483647", "Too many array elements");
            return 0;
        }
    }
    return static_cast<int32_t>(n);
}

// Integer element arithmetic: 32-bit two's complement that wraps on overflow.
inline int32_t wrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t wrapMul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t wrapNeg(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }

// A double truncated toward zero as int32; NaN and values outside the int32
// range give INT32_MIN (what the processor's conversion gives) instead of
// undefined behaviour.
inline int32_t truncToInt32(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(x);
}

} // namespace arrays

// Family-neutral array services: the row-major index, element counts, the
// subscript reader, copies to and from caller-owned doubles, the element-wise
// when of Boolean arrays and the null-to-empty string guard.
#include <math.h>

#include "array_impl.h"

using arrays::elementCount;

extern "C" {

int ArrayIndex(int ndims, const int32_t* dims, ...) {
    va_list ap;
    va_start(ap, dims);
    int64_t index = arrays::arrayIndexVa(ndims, dims, &ap);
    va_end(ap);
    return static_cast<int>(index);
}

int DimsProduct(int n, const int32_t* dims) { return elementCount(n, dims); }

IndexSpec* parseIndexSpecs(va_list list, IndexSpec* buffer, int capacity) {
    va_list ap;
    va_copy(ap, list);
    for (int i = 0;; ++i) {
        RuntimeAssert(i + 4 < capacity, "i+4<num_VA_handler", "Out of memory for va_list");
        if (i + 4 >= capacity) break;
        buffer[i] = arrays::readIndexSpec(&ap);
        if (buffer[i].kind == IndexEnd) break;
    }
    va_end(ap);
    return buffer;
}

IntegerArray IntegerFromDoubles(const double* data, int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    IntegerArray r = arrays::Ops<arrays::IntegerFamily>::constructVa(ndims, &ap);
    va_end(ap);
    const int32_t n = IntegerNrElements(r);
    for (int32_t i = 0; i < n; ++i) r.data[i] = arrays::truncToInt32(data[i]);
    return r;
}

void RealCopyToBuffer(double* buffer, RealArray a) { arrays::copyElements(buffer, a.data, RealNrElements(a)); }

int IntegerArrayWhen(IntegerArray cond, IntegerArray eval, IntegerArray armed, int enable, int* fired) {
    RuntimeAssert(IntegerMatchingSizes(cond, eval), "IntegerMatchingSizes(cond,eval)", "Internal error in array when.");
    const int32_t n = IntegerNrElements(cond);
    // The armed flags are written element by element: they must be as many.
    RuntimeAssert(IntegerNrElements(armed) == n, "IntegerNrElements(armed)==IntegerNrElements(cond)",
                  "Internal error in array when.");
    int firedNow = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (cond.data[i] == 0) {
            armed.data[i] = 1;
        } else if (enable && eval.data[i]) {
            *fired = 1;
            armed.data[i] = 0;
            firedNow = 1;
        }
    }
    return firedNow;
}

const char* emptyIfNull(const char* text) { return text ? text : ""; }

} // extern "C"

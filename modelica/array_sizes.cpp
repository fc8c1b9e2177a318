// Whether two arrays have the same number of dimensions and the same size in
// each. Kept in a file of its own: the runtime's buffer code may provide the
// same three functions, and then this object is simply not linked.
#include "matrixop.h"

namespace {
template <typename A>
int matchingSizes(const A& a, const A& b) {
    if (a.ndims != b.ndims) return 0;
    for (int i = 0; i < a.ndims; ++i)
        if (a.dims[i] != b.dims[i]) return 0;
    return 1;
}
} // namespace

extern "C" {
int RealMatchingSizes(RealArray a, RealArray b) { return matchingSizes(a, b); }
int IntegerMatchingSizes(IntegerArray a, IntegerArray b) { return matchingSizes(a, b); }
int StringMatchingSizes(StringArray a, StringArray b) { return matchingSizes(a, b); }
}

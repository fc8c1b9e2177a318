// The Integer family (Booleans included): thin wrappers over the shared
// implementation, whose element arithmetic wraps in 32 bits, plus the
// Integer-only operations (range and the Boolean not, and, or).
#include <math.h>

#include "array_impl.h"

namespace {
using I = arrays::Ops<arrays::IntegerFamily>;
} // namespace

extern "C" {

// ---- Construction, views and copies ----
int IntegerNrElements(IntegerArray a) { return I::count(a); }
void IntegerDimsVa(IntegerArray* a, int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    I::dimsVa(a, ndims, &ap, SizeAlloc);
    va_end(ap);
}
IntegerArray IntegerConstructVa(int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    IntegerArray r = I::constructVa(ndims, &ap);
    va_end(ap);
    return r;
}
IntegerArray IntegerConstruct(int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    IntegerArray r = I::constructVa(ndims, &ap);
    va_end(ap);
    return r;
}
IntegerArray IntegerConstructLike(IntegerArray a) { return I::constructLike(a); }
IntegerArray IntegerMatrixAlloc(int n, int m) { return I::makeMatrix(n, m); }
IntegerArray IntegerVectorAlloc(int n) { return I::makeVector(n); }
IntegerArray IntegerCopy(IntegerArray a) { return I::copy(a); }
IntegerArray IntegerSubArrayView(int k, int i, IntegerArray a) { return I::subArrayView(k, i, a); }
IntegerArray IntegerWrapData(int32_t* data, int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    IntegerArray r = I::wrapData(data, ndims, &ap);
    va_end(ap);
    return r;
}
IntegerArray IntegerToColumnMajor(IntegerArray a) { return I::toColumnMajor(a); }
IntegerArray IntegerReverseDimsCopy(IntegerArray a) { return I::reverseDimsCopy(a); }
void IntegerStridedCopy(IntegerArray r, int block, IntegerArray a, int index, int stride, int depth) {
    I::stridedCopy(r, block, a, index, stride, depth);
}

// ---- Subscripting ----
void IntegerSubscriptGet(IntegerArray res, int resBlock, int resDim, IntegerArray a, int aBlock, int aDim,
                         int blockLength, const IndexSpec* item) {
    I::subscriptGet(res, resBlock, resDim, a, aBlock, aDim, blockLength, item);
}
void IntegerSubscriptSet(IntegerArray out, int outBlock, int outDim, IntegerArray a, int aBlock, int aDim,
                         int blockLength, const IndexSpec* item) {
    I::subscriptSet(out, outBlock, outDim, a, aBlock, aDim, blockLength, item);
}
IntegerArray IntegerSubscript(IntegerArray a, ...) {
    va_list ap;
    va_start(ap, a);
    IntegerArray r = I::subscript(a, ap);
    va_end(ap);
    return r;
}
void IntegerSubscriptAssign(IntegerArray a, IntegerArray out, ...) {
    va_list ap;
    va_start(ap, out);
    I::subscriptAssign(a, out, ap);
    va_end(ap);
}

// ---- Access ----
void IntegerAssign(IntegerArray a, IntegerArray b) { I::assign(a, b); }
int IntegerGetElement(IntegerArray a, ...) {
    va_list ap;
    va_start(ap, a);
    int x = I::getElement(a, &ap);
    va_end(ap);
    return x;
}
void IntegerSetElement(int x, IntegerArray a, ...) {
    va_list ap;
    va_start(ap, a);
    I::setElement(x, a, &ap);
    va_end(ap);
}
int IntegerSize(IntegerArray a, int i) { return I::size(a, i); }
IntegerArray IntegerSizes(IntegerArray a) { return I::sizes(a); }
void IntegerPrint(IntegerArray a) { I::print(a); }

// ---- Array constructors, records, concatenation ----
IntegerArray IntegerArrayOfArrays(int n, ...) {
    va_list ap;
    va_start(ap, n);
    IntegerArray r = I::arrayOfArrays(n, &ap);
    va_end(ap);
    return r;
}
IntegerArray IntegerVectorOfElements(int n, ...) {
    va_list ap;
    va_start(ap, n);
    IntegerArray r = I::vectorOfElements(n, &ap);
    va_end(ap);
    return r;
}
IntegerArray IntegerRecordField(RealArray a, int offset) { return I::recordField(a, offset); }
IntegerArray IntegerRecordSlice(RealArray a, int offset) { return I::recordSlice(a, offset); }
IntegerArray IntegerCat(int k, int n, ...) {
    va_list ap;
    va_start(ap, n);
    IntegerArray r = I::cat(k, n, ap);
    va_end(ap);
    return r;
}

// ---- Reshaping and fills ----
IntegerArray IntegerPromote(IntegerArray a, int n) { return I::promote(a, n); }
IntegerArray IntegerPromoteScalar(int x, int n) { return I::promoteScalar(x, n); }
IntegerArray IntegerFill(IntegerArray a, int x) { return I::fill(a, x); }
IntegerArray IntegerFillDims(int x, int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    IntegerArray r = I::fillDims(x, ndims, &ap);
    va_end(ap);
    return r;
}
IntegerArray IntegerConstructDimsLike(IntegerArray a, int n, ...) {
    va_list ap;
    va_start(ap, n);
    IntegerArray r = I::constructDimsLike(a, n, &ap);
    va_end(ap);
    return r;
}
int IntegerScalar(IntegerArray a) { return I::scalar(a); }
IntegerArray IntegerVector(IntegerArray a) { return I::vector(a); }
IntegerArray IntegerMatrix(IntegerArray a) { return I::matrix(a); }
IntegerArray IntegerTranspose(IntegerArray a) { return I::transpose(a); }
IntegerArray IntegerOuterProduct(IntegerArray a, IntegerArray b) { return I::outerProduct(a, b); }
IntegerArray IntegerSymmetric(IntegerArray a) { return I::symmetric(a); }

// ---- Element-wise arithmetic (wraps on overflow) ----
IntegerArray IntegerAddInto(IntegerArray res, IntegerArray a, IntegerArray b) { return I::addInto(res, a, b); }
IntegerArray IntegerAdd(IntegerArray a, IntegerArray b) { return I::addInto(I::constructLike(a), a, b); }
IntegerArray IntegerSubtractInto(IntegerArray res, IntegerArray a, IntegerArray b) {
    return I::subtractInto(res, a, b);
}
IntegerArray IntegerSubtract(IntegerArray a, IntegerArray b) { return I::subtractInto(I::constructLike(a), a, b); }
IntegerArray IntegerScaleInto(IntegerArray res, IntegerArray a, int s) { return I::scaleInto(res, a, s); }
IntegerArray IntegerScale(IntegerArray a, int s) { return I::scaleInto(I::constructLike(a), a, s); }
IntegerArray IntegerNegateInto(IntegerArray res, IntegerArray a) { return I::negateInto(res, a); }
IntegerArray IntegerNegate(IntegerArray a) { return I::negateInto(I::constructLike(a), a); }

// ---- Reductions ----
int IntegerSum(IntegerArray a) { return I::sum(a); }
int IntegerAbsSum(IntegerArray a) { return I::absSum(a); }
int IntegerMax(IntegerArray a) { return I::max(a); }
int IntegerMin(IntegerArray a) { return I::min(a); }
int IntegerProduct(IntegerArray a) { return I::product(a); }

// ---- Vector and matrix algebra ----
IntegerArray IntegerDiagonal(IntegerArray v) { return I::diagonal(v); }
IntegerArray IntegerCross(IntegerArray x, IntegerArray y) { return I::cross(x, y); }
IntegerArray IntegerSkew(IntegerArray x) { return I::skew(x); }
IntegerArray IntegerMatrixProductInto(IntegerArray res, IntegerArray a, IntegerArray b) {
    return I::matrixProductInto(res, a, b);
}
IntegerArray IntegerMatrixVectorProductInto(IntegerArray res, IntegerArray a, IntegerArray b) {
    return I::matrixVectorProductInto(res, a, b);
}
IntegerArray IntegerVectorMatrixProductInto(IntegerArray res, IntegerArray a, IntegerArray b) {
    return I::vectorMatrixProductInto(res, a, b);
}
int IntegerScalarProduct(IntegerArray a, IntegerArray b) { return I::scalarProduct(a, b); }
IntegerArray IntegerMatrixProduct(IntegerArray a, IntegerArray b) { return I::matrixProduct(a, b); }
IntegerArray IntegerMatrixVectorProduct(IntegerArray a, IntegerArray b) { return I::matrixVectorProduct(a, b); }
IntegerArray IntegerVectorMatrixProduct(IntegerArray a, IntegerArray b) { return I::vectorMatrixProduct(a, b); }
IntegerArray IntegerIdentity(int n) { return I::identity(n); }
IntegerArray IntegerMatrixPower(IntegerArray a, int n) { return I::matrixPower(a, n); }

// ---- Range and Boolean operations ----

// start:stride:stop without tolerance; the difference stop-start is taken in
// 32 bits (wrapping) and the count is floor(difference/stride)+1.
IntegerArray IntegerRange(int start, int stop, int stride) {
    RuntimeAssert(stride != 0, "stride!=0", "range requires non-zero stride");
    const int32_t difference = arrays::wrapSub(stop, start);
    const double q = floor(static_cast<double>(difference) / static_cast<double>(stride)) + 1;
    RuntimeAssert(q <= 2147483647.0, "count<=2147483647", "range requires a finite number of elements");
    const int count = q > 0 ? static_cast<int>(q) : 0;
    IntegerArray r = I::makeVector(count);
    for (int i = 0; i < count; ++i) r.data[i] = arrays::wrapAdd(start, arrays::wrapMul(i, stride));
    return r;
}

IntegerArray IntegerNot(IntegerArray a) {
    IntegerArray r = I::constructLike(a);
    const int32_t n = IntegerNrElements(a);
    for (int32_t i = 0; i < n; ++i) r.data[i] = a.data[i] == 0 ? 1 : 0;
    return r;
}

IntegerArray IntegerAnd(IntegerArray a, IntegerArray b) {
    IntegerArray r = I::constructLike(a);
    RuntimeAssert(IntegerMatchingSizes(a, b), "IntegerMatchingSizes(a,b)",
                  "and of arrays require arguments of matching size");
    const int32_t n = IntegerNrElements(a);
    for (int32_t i = 0; i < n; ++i) r.data[i] = (a.data[i] != 0 && b.data[i] != 0) ? 1 : 0;
    return r;
}

IntegerArray IntegerOr(IntegerArray a, IntegerArray b) {
    IntegerArray r = I::constructLike(a);
    RuntimeAssert(IntegerMatchingSizes(a, b), "IntegerMatchingSizes(a,b)",
                  "or of arrays require arguments of matching size");
    const int32_t n = IntegerNrElements(a);
    for (int32_t i = 0; i < n; ++i) r.data[i] = (a.data[i] != 0 || b.data[i] != 0) ? 1 : 0;
    return r;
}

} // extern "C"

// The Real family: thin wrappers over the shared implementation, plus the
// Real-only operations (difference measure, division by a scalar, inverse,
// ranges, linspace and the conversions to and from Integer arrays).
#include <math.h>

#include "array_impl.h"
#include "linear_solver.h"

namespace {
using R = arrays::Ops<arrays::RealFamily>;
} // namespace

extern "C" {

// ---- Construction, views and copies ----
int RealNrElements(RealArray a) { return R::count(a); }
void RealDimsVa(RealArray* a, int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    R::dimsVa(a, ndims, &ap, SizeAlloc);
    va_end(ap);
}
RealArray RealConstructVa(int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    RealArray r = R::constructVa(ndims, &ap);
    va_end(ap);
    return r;
}
RealArray RealConstruct(int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    RealArray r = R::constructVa(ndims, &ap);
    va_end(ap);
    return r;
}
RealArray RealConstructLike(RealArray a) { return R::constructLike(a); }
RealArray RealMatrixAlloc(int n, int m) { return R::makeMatrix(n, m); }
RealArray RealVectorAlloc(int n) { return R::makeVector(n); }
RealArray RealCopy(RealArray a) { return R::copy(a); }
RealArray RealSubArrayView(int k, int i, RealArray a) { return R::subArrayView(k, i, a); }
RealArray RealWrapData(double* data, int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    RealArray r = R::wrapData(data, ndims, &ap);
    va_end(ap);
    return r;
}
RealArray RealToColumnMajor(RealArray a) { return R::toColumnMajor(a); }
RealArray RealReverseDimsCopy(RealArray a) { return R::reverseDimsCopy(a); }
void RealStridedCopy(RealArray r, int block, RealArray a, int index, int stride, int depth) {
    R::stridedCopy(r, block, a, index, stride, depth);
}

// ---- Subscripting ----
void RealSubscriptGet(RealArray res, int resBlock, int resDim, RealArray a, int aBlock, int aDim, int blockLength,
                      const IndexSpec* item) {
    R::subscriptGet(res, resBlock, resDim, a, aBlock, aDim, blockLength, item);
}
void RealSubscriptSet(RealArray out, int outBlock, int outDim, RealArray a, int aBlock, int aDim, int blockLength,
                      const IndexSpec* item) {
    R::subscriptSet(out, outBlock, outDim, a, aBlock, aDim, blockLength, item);
}
RealArray RealSubscript(RealArray a, ...) {
    va_list ap;
    va_start(ap, a);
    RealArray r = R::subscript(a, ap);
    va_end(ap);
    return r;
}
void RealSubscriptAssign(RealArray a, RealArray out, ...) {
    va_list ap;
    va_start(ap, out);
    R::subscriptAssign(a, out, ap);
    va_end(ap);
}

// ---- Access ----
void RealAssign(RealArray a, RealArray b) { R::assign(a, b); }
double* RealElementAddr(RealArray a, ...) {
    va_list ap;
    va_start(ap, a);
    double* p = R::elementAddr(a, &ap);
    va_end(ap);
    return p;
}
double RealGetElement(RealArray a, ...) {
    va_list ap;
    va_start(ap, a);
    double x = R::getElement(a, &ap);
    va_end(ap);
    return x;
}
void RealSetElement(double x, RealArray a, ...) {
    va_list ap;
    va_start(ap, a);
    R::setElement(x, a, &ap);
    va_end(ap);
}
int RealSize(RealArray a, int i) { return R::size(a, i); }
IntegerArray RealSizes(RealArray a) { return R::sizes(a); }
void RealPrint(RealArray a) { R::print(a); }

// ---- Array constructors, records, concatenation ----
RealArray RealArrayOfArrays(int n, ...) {
    va_list ap;
    va_start(ap, n);
    RealArray r = R::arrayOfArrays(n, &ap);
    va_end(ap);
    return r;
}
RealArray RealVectorOfElements(int n, ...) {
    va_list ap;
    va_start(ap, n);
    RealArray r = R::vectorOfElements(n, &ap);
    va_end(ap);
    return r;
}
RealArray RealRecordField(RealArray a, int offset) { return R::recordField(a, offset); }
RealArray RealRecordSlice(RealArray a, int offset) { return R::recordSlice(a, offset); }
RealArray RealCat(int k, int n, ...) {
    va_list ap;
    va_start(ap, n);
    RealArray r = R::cat(k, n, ap);
    va_end(ap);
    return r;
}

// ---- Reshaping and fills ----
RealArray RealPromote(RealArray a, int n) { return R::promote(a, n); }
RealArray RealPromoteScalar(double x, int n) { return R::promoteScalar(x, n); }
RealArray RealFill(RealArray a, double x) { return R::fill(a, x); }
RealArray RealFillDims(double x, int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    RealArray r = R::fillDims(x, ndims, &ap);
    va_end(ap);
    return r;
}
RealArray RealConstructDimsLike(RealArray a, int n, ...) {
    va_list ap;
    va_start(ap, n);
    RealArray r = R::constructDimsLike(a, n, &ap);
    va_end(ap);
    return r;
}
double RealScalar(RealArray a) { return R::scalar(a); }
RealArray RealVector(RealArray a) { return R::vector(a); }
RealArray RealMatrix(RealArray a) { return R::matrix(a); }
RealArray RealTranspose(RealArray a) { return R::transpose(a); }
RealArray RealOuterProduct(RealArray a, RealArray b) { return R::outerProduct(a, b); }
RealArray RealSymmetric(RealArray a) { return R::symmetric(a); }

// ---- Element-wise arithmetic ----
RealArray RealAddInto(RealArray res, RealArray a, RealArray b) { return R::addInto(res, a, b); }
RealArray RealAdd(RealArray a, RealArray b) { return R::addInto(R::constructLike(a), a, b); }
RealArray RealSubtractInto(RealArray res, RealArray a, RealArray b) { return R::subtractInto(res, a, b); }
RealArray RealSubtract(RealArray a, RealArray b) { return R::subtractInto(R::constructLike(a), a, b); }
RealArray RealScaleInto(RealArray res, RealArray a, double s) { return R::scaleInto(res, a, s); }
RealArray RealScale(RealArray a, double s) { return R::scaleInto(R::constructLike(a), a, s); }
RealArray RealNegateInto(RealArray res, RealArray a) { return R::negateInto(res, a); }
RealArray RealNegate(RealArray a) { return R::negateInto(R::constructLike(a), a); }
RealArray RealScaleDiv(RealArray a, double s) {
    RuntimeAssert(s != 0, "t!=0", "Division by zero in function RealScaleDiv");
    return RealScale(a, 1 / s);
}

// ---- Reductions ----
double RealSum(RealArray a) { return R::sum(a); }
double RealAbsSum(RealArray a) { return R::absSum(a); }
double RealMax(RealArray a) { return R::max(a); }
double RealMin(RealArray a) { return R::min(a); }
double RealProduct(RealArray a) { return R::product(a); }
double RealDiff(RealArray a, RealArray b) {
    const int max_elem = RealNrElements(a);
    RuntimeAssert(max_elem == RealNrElements(b), "max_elem==RealNrElements(b)", "Diff");
    double s = 0;
    for (int i = 0; i < max_elem; ++i) s += fabs((a.data[i] - b.data[i]) / (fabs(a.data[i]) + 1));
    return s;
}

// ---- Vector and matrix algebra ----
RealArray RealDiagonal(RealArray v) { return R::diagonal(v); }
RealArray RealCross(RealArray x, RealArray y) { return R::cross(x, y); }
RealArray RealSkew(RealArray x) { return R::skew(x); }
RealArray RealMatrixProductInto(RealArray res, RealArray a, RealArray b) { return R::matrixProductInto(res, a, b); }
RealArray RealMatrixVectorProductInto(RealArray res, RealArray a, RealArray b) {
    return R::matrixVectorProductInto(res, a, b);
}
RealArray RealVectorMatrixProductInto(RealArray res, RealArray a, RealArray b) {
    return R::vectorMatrixProductInto(res, a, b);
}
double RealScalarProduct(RealArray a, RealArray b) { return R::scalarProduct(a, b); }
RealArray RealMatrixProduct(RealArray a, RealArray b) { return R::matrixProduct(a, b); }
RealArray RealMatrixVectorProduct(RealArray a, RealArray b) { return R::matrixVectorProduct(a, b); }
RealArray RealVectorMatrixProduct(RealArray a, RealArray b) { return R::vectorMatrixProduct(a, b); }
RealArray RealIdentity(int n) { return R::identity(n); }
RealArray RealMatrixPower(RealArray a, int n) { return R::matrixPower(a, n); }

// Solves A^T x = e_i for every i with one factorisation kept across the
// right-hand sides; with A's row-major elements read in column order by the
// solver, row i of the result is row i of the inverse.
RealArray RealInverse(RealArray A) {
    RuntimeAssert(A.ndims == 2, "A.ndims==2", "Can only invert matrices");
    RuntimeAssert(A.dims[0] == A.dims[1], "A.dims[0]==A.dims[1]", "Can only invert square matrices");
    RealArray result = R::constructLike(A);
    const int n = A.dims[0];
    SavedMarks marks = PushMark();
    double* work = RealAlloc(arrays::requireCount(static_cast<int64_t>(n) * (n + 6) + 4));
    int32_t* iwork = IntegerAlloc(arrays::requireCount(2 * static_cast<int64_t>(n) + 1));
    int state = 0;
    int IError = 0;
    const int systemNumber = 0;
    const int mode = 3;
    const int zero = 0;
    const double time = 0;
    const int lda = A.dims[0];
    const int order = A.dims[1];
    for (int i = 0; i < n; ++i) {
        double* row = result.data + static_cast<int64_t>(i) * n;
        for (int j = 0; j < n; ++j) row[j] = 0;
        row[i] = 1.0;
        solveLinearSystemPlain(&systemNumber, &mode, A.data, &lda, &order, row, &time, &zero, &zero, work, iwork,
                               &state, &IError);
        if (IError != 0 && n == 1) {
            // A singular scalar has the inverse 0.
            row[0] = 0;
            IError = 0;
        }
        RuntimeAssert(IError == 0, "IError==0", "Inverse failed");
    }
    PopMark(marks);
    return result;
}

// ---- Ranges and conversions ----
RealArray RealRange(double start, double stop, double stride) {
    RuntimeAssert(stride != 0, "stride!=0", "range requires non-zero stride");
    double d = stop - start;
    double s = stride;
    if (stride < 0) {
        d = -d;
        s = -stride;
    }
    // Steps and spans that are not whole numbers get a relative tolerance,
    // so that 1:0.1:2 ends at 2 despite rounding.
    double tol = 0;
    if (s != floor(s)) tol += fabs(d);
    if (d != floor(d)) tol += fabs(start) + fabs(stop);
    const double q = floor((tol * 1.11022302462516e-16 + d) / s) + 1;
    RuntimeAssert(q <= 2147483647.0, "count<=2147483647", "range requires a finite number of elements");
    const int count = q > 0 ? static_cast<int>(q) : 0;
    RealArray r = R::makeVector(count);
    for (int i = 0; i < count; ++i) r.data[i] = i * stride + start;
    return r;
}

RealArray RealLinspace(double x1, double x2, int n) {
    RealArray r = R::makeVector(n > 0 ? n : 0);
    RuntimeAssert(n >= 2, "n>=2", "Linspace number of point>=2");
    const double step = (x2 - x1) / (n - 1);
    for (int i = 0; i < n - 1; ++i) r.data[i] = x1 + i * step;
    r.data[n - 1] = x2;
    return r;
}

RealArray RealFromInteger(IntegerArray a) {
    const int32_t n = IntegerNrElements(a);
    RealArray r;
    r.ndims = a.ndims;
    r.dims = a.dims;
    r.data = RealAlloc(n);
    for (int32_t i = 0; i < n; ++i) r.data[i] = a.data[i];
    return r;
}

IntegerArray IntegerFromReal(RealArray a) {
    const int32_t n = RealNrElements(a);
    IntegerArray r;
    r.ndims = a.ndims;
    r.dims = a.dims;
    r.data = IntegerAlloc(n);
    for (int32_t i = 0; i < n; ++i) r.data[i] = RealFloorToInteger(a.data[i]);
    return r;
}

int RealFloorToInteger(double x) { return arrays::truncToInt32(floor(x)); }

} // extern "C"

// The String family: thin wrappers over the shared implementation. Elements
// are pointers; every operation moves pointers and never copies texts.
#include "array_impl.h"

namespace {
using S = arrays::Ops<arrays::StringFamily>;
} // namespace

extern "C" {

// ---- Construction, views and copies ----
int StringNrElements(StringArray a) { return S::count(a); }
void StringDimsVa(StringArray* a, int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    S::dimsVa(a, ndims, &ap, SizeAlloc);
    va_end(ap);
}
StringArray StringConstructVa(int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    StringArray r = S::constructVa(ndims, &ap);
    va_end(ap);
    return r;
}
StringArray StringConstruct(int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    StringArray r = S::constructVa(ndims, &ap);
    va_end(ap);
    return r;
}
StringArray StringConstructLike(StringArray a) { return S::constructLike(a); }
StringArray StringMatrixAlloc(int n, int m) { return S::makeMatrix(n, m); }
StringArray StringVectorAlloc(int n) { return S::makeVector(n); }
StringArray StringCopy(StringArray a) { return S::copy(a); }
StringArray StringSubArrayView(int k, int i, StringArray a) { return S::subArrayView(k, i, a); }
StringArray StringWrapData(const char** data, int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    StringArray r = S::wrapData(data, ndims, &ap);
    va_end(ap);
    return r;
}
StringArray StringToColumnMajor(StringArray a) { return S::toColumnMajor(a); }
StringArray StringReverseDimsCopy(StringArray a) { return S::reverseDimsCopy(a); }
void StringStridedCopy(StringArray r, int block, StringArray a, int index, int stride, int depth) {
    S::stridedCopy(r, block, a, index, stride, depth);
}

// ---- Subscripting ----
void StringSubscriptGet(StringArray res, int resBlock, int resDim, StringArray a, int aBlock, int aDim,
                        int blockLength, const IndexSpec* item) {
    S::subscriptGet(res, resBlock, resDim, a, aBlock, aDim, blockLength, item);
}
void StringSubscriptSet(StringArray out, int outBlock, int outDim, StringArray a, int aBlock, int aDim,
                        int blockLength, const IndexSpec* item) {
    S::subscriptSet(out, outBlock, outDim, a, aBlock, aDim, blockLength, item);
}
StringArray StringSubscript(StringArray a, ...) {
    va_list ap;
    va_start(ap, a);
    StringArray r = S::subscript(a, ap);
    va_end(ap);
    return r;
}
void StringSubscriptAssign(StringArray a, StringArray out, ...) {
    va_list ap;
    va_start(ap, out);
    S::subscriptAssign(a, out, ap);
    va_end(ap);
}

// ---- Access ----
void StringAssign(StringArray a, StringArray b) { S::assign(a, b); }
const char* StringGetElement(StringArray a, ...) {
    va_list ap;
    va_start(ap, a);
    const char* p = S::getElement(a, &ap);
    va_end(ap);
    return p;
}
void StringSetElement(const char* p, StringArray a, ...) {
    va_list ap;
    va_start(ap, a);
    S::setElement(p, a, &ap);
    va_end(ap);
}
int StringSize(StringArray a, int i) { return S::size(a, i); }
IntegerArray StringSizes(StringArray a) { return S::sizes(a); }
void StringPrint(StringArray a) { S::print(a); }

// ---- Array constructors, records, concatenation ----
StringArray StringArrayOfArrays(int n, ...) {
    va_list ap;
    va_start(ap, n);
    StringArray r = S::arrayOfArrays(n, &ap);
    va_end(ap);
    return r;
}
StringArray StringVectorOfElements(int n, ...) {
    va_list ap;
    va_start(ap, n);
    StringArray r = S::vectorOfElements(n, &ap);
    va_end(ap);
    return r;
}
StringArray StringRecordField(RealArray a, int offset) { return S::recordField(a, offset); }
StringArray StringRecordSlice(RealArray a, int offset) { return S::recordSlice(a, offset); }
StringArray StringCat(int k, int n, ...) {
    va_list ap;
    va_start(ap, n);
    StringArray r = S::cat(k, n, ap);
    va_end(ap);
    return r;
}

// ---- Reshaping and fills ----
StringArray StringPromote(StringArray a, int n) { return S::promote(a, n); }
StringArray StringPromoteScalar(const char* p, int n) { return S::promoteScalar(p, n); }
StringArray StringFill(StringArray a, const char* p) { return S::fill(a, p); }
StringArray StringFillDims(const char* p, int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    StringArray r = S::fillDims(p, ndims, &ap);
    va_end(ap);
    return r;
}
StringArray StringConstructDimsLike(StringArray a, int n, ...) {
    va_list ap;
    va_start(ap, n);
    StringArray r = S::constructDimsLike(a, n, &ap);
    va_end(ap);
    return r;
}
const char* StringScalar(StringArray a) { return S::scalar(a); }
StringArray StringVector(StringArray a) { return S::vector(a); }
StringArray StringMatrix(StringArray a) { return S::matrix(a); }
StringArray StringTranspose(StringArray a) { return S::transpose(a); }
StringArray StringSymmetric(StringArray a) { return S::symmetric(a); }

} // extern "C"

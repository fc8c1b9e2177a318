// One implementation of the array operations, templated over the family
// (Real, Integer, String). The family record says what differs: the element
// type and its allocator, the family's own check texts, how elements are read
// from a variadic list and printed, Integer arithmetic that wraps, and the
// direct indexing of Real vectors. Numeric operations refuse the String
// family at compile time.
#pragma once

#include <float.h>
#include <stdarg.h>
#include <string.h>

#include "array_support.h"

namespace arrays {

template <typename T>
inline void copyElements(T* destination, const T* source, int64_t n) {
    if (n > 0 && destination != source) memmove(destination, source, static_cast<size_t>(n) * sizeof(T));
}

struct RealFamily {
    using Elem = double;
    using Array = RealArray;
    static constexpr bool kNumeric = true;
    // RealGetElement indexes a vector directly, with a check text of its own.
    static constexpr bool kDirectVectorIndex = true;
    static constexpr Elem kLowest = -DBL_MAX;
    static constexpr Elem kHighest = DBL_MAX;
    static constexpr const char* kMatchAB = "RealMatchingSizes(a,b)";
    static constexpr const char* kMatchResA = "RealMatchingSizes(res,a)";
    static constexpr const char* kMatchFirstNext = "RealMatchingSizes(first,next)";
    static constexpr const char* kMatchElem = "RealMatchingSizes(elemi,elem)";
    static constexpr const char* kOneElement = "RealNrElements(a)==1";
    static constexpr const char* kSameCount = "RealNrElements(a)==RealNrElements(res)";
    static Elem* alloc(int n) { return RealAlloc(n); }
    static Elem* allocNon(int n) { return RealAllocNon(n); }
    static int matching(Array a, Array b) { return RealMatchingSizes(a, b); }
    static Elem readVa(va_list* ap) { return va_arg(*ap, double); }
    static Elem add(Elem a, Elem b) { return a + b; }
    static Elem sub(Elem a, Elem b) { return a - b; }
    static Elem mul(Elem a, Elem b) { return a * b; }
    static Elem neg(Elem a) { return -a; }
    static void printElement(int position, Elem x) { runtimeMessageMatrixElement("", position, 1, x); }
};

struct IntegerFamily {
    using Elem = int32_t;
    using Array = IntegerArray;
    static constexpr bool kNumeric = true;
    static constexpr bool kDirectVectorIndex = false;
    static constexpr Elem kLowest = INT32_MIN;
    static constexpr Elem kHighest = INT32_MAX;
    static constexpr const char* kMatchAB = "IntegerMatchingSizes(a,b)";
    static constexpr const char* kMatchResA = "IntegerMatchingSizes(res,a)";
    static constexpr const char* kMatchFirstNext = "IntegerMatchingSizes(first,next)";
    static constexpr const char* kMatchElem = "IntegerMatchingSizes(elemi,elem)";
    static constexpr const char* kOneElement = "IntegerNrElements(a)==1";
    static constexpr const char* kSameCount = "IntegerNrElements(a)==IntegerNrElements(res)";
    static Elem* alloc(int n) { return IntegerAlloc(n); }
    static Elem* allocNon(int n) { return IntegerAllocNon(n); }
    static int matching(Array a, Array b) { return IntegerMatchingSizes(a, b); }
    static Elem readVa(va_list* ap) { return va_arg(*ap, int); }
    static Elem add(Elem a, Elem b) { return wrapAdd(a, b); }
    static Elem sub(Elem a, Elem b) { return wrapSub(a, b); }
    static Elem mul(Elem a, Elem b) { return wrapMul(a, b); }
    static Elem neg(Elem a) { return wrapNeg(a); }
    static void printElement(int position, Elem x) { runtimeMessageMatrixElement("", position, 1, x); }
};

struct StringFamily {
    using Elem = const char*;
    using Array = StringArray;
    static constexpr bool kNumeric = false;
    static constexpr bool kDirectVectorIndex = false;
    static constexpr const char* kMatchAB = "StringMatchingSizes(a,b)";
    static constexpr const char* kMatchFirstNext = "StringMatchingSizes(first,next)";
    static constexpr const char* kMatchElem = "StringMatchingSizes(elemi,elem)";
    static constexpr const char* kOneElement = "StringNrElements(a)==1";
    static constexpr const char* kSameCount = "StringNrElements(a)==StringNrElements(res)";
    static Elem* alloc(int n) { return StringPointerAlloc(n); }
    static Elem* allocNon(int n) { return StringPointerAllocNon(n); }
    static int matching(Array a, Array b) { return StringMatchingSizes(a, b); }
    static Elem readVa(va_list* ap) { return va_arg(*ap, const char*); }
    // The text itself, nothing added; a null element is printed as empty text.
    static void printElement(int, Elem x) { runtimeMessage(emptyIfNull(x)); }
};

// Row-major index of the subscripts read from the list, each checked against
// its dimension.
inline int64_t arrayIndexVa(int ndims, const int32_t* dims, va_list* ap) {
    int64_t index = 0;
    for (int k = 0; k < ndims; ++k) {
        int j = va_arg(*ap, int);
        int dim = dims[k];
        RuntimeAssert((j >= 1) && (j <= dim), "(j>=1)&&(j<=dim)", "Index out of bounds");
        index = index * dim + (j - 1);
    }
    return index;
}

// Reads one subscript (its code and the values that follow it).
inline IndexSpec readIndexSpec(va_list* ap) {
    IndexSpec s;
    memset(&s, 0, sizeof s);
    s.kind = va_arg(*ap, int);
    switch (s.kind) {
    case IndexColon:
    case IndexEnd:
        break;
    case IndexRange:
        s.start = va_arg(*ap, int);
        s.step = 1;
        s.stop = va_arg(*ap, int);
        break;
    case IndexStepRange:
        s.start = va_arg(*ap, int);
        s.step = va_arg(*ap, int);
        s.stop = va_arg(*ap, int);
        break;
    case IndexVector:
        s.vector = *va_arg(*ap, IntegerArray*);
        break;
    case IndexScalar:
        s.index = va_arg(*ap, int);
        break;
    default:
        // Nothing tells how many values follow an unknown code: stop here.
        RuntimeAssert(0, "(kind>=0)&&(kind<=5)", "Unknown kind of subscript");
        s.kind = IndexEnd;
        break;
    }
    return s;
}

// Number of indices start, start+step, ... up to stop (0 when none), the
// same count for reading and for assignment. A zero step is an error.
inline int64_t rangeCount(const IndexSpec& s) {
    RuntimeAssert(s.step != 0, "step!=0", "Range subscripting: the step must not be zero");
    if (s.step == 0) return 0;
    int64_t num = (static_cast<int64_t>(s.stop) + s.step - s.start) / s.step;
    return num > 0 ? num : 0;
}

// The last index a non-empty range selects (it lies between start and stop).
inline int64_t rangeLast(const IndexSpec& s, int64_t num) { return s.start + (num - 1) * s.step; }

template <typename F>
struct Ops {
    using T = typename F::Elem;
    using A = typename F::Array;
    using SizeAllocator = int32_t* (*)(int);
    using ElemAllocator = T* (*)(int);

    static int32_t count(A a) { return elementCount(a.ndims, a.dims); }

    // ---- Construction ----

    // A new array with a copy of the given sizes; elements uninitialised.
    static A make(int ndims, const int32_t* sizes) {
        int32_t n = elementCount(ndims, sizes);
        A r;
        r.ndims = ndims;
        r.dims = SizeAlloc(ndims);
        copyElements(r.dims, sizes, ndims);
        r.data = F::alloc(n);
        return r;
    }
    static A makeVector(int n) {
        int32_t d[1] = {n};
        return make(1, d);
    }
    static A makeMatrix(int n, int m) {
        int32_t d[2] = {n, m};
        return make(2, d);
    }

    static void dimsVa(A* a, int ndims, va_list* ap, SizeAllocator sizeAlloc) {
        RuntimeAssert(ndims >= 0, "ndims>=0", "Number of array dimensions must not be negative");
        a->ndims = ndims;
        a->dims = sizeAlloc(ndims);
        for (int i = 0; i < ndims; ++i) {
            a->dims[i] = va_arg(*ap, int);
            RuntimeAssert(a->dims[i] >= 0, "dims[i]>=0", "Array sizes must not be negative");
        }
    }
    static A constructVa(int ndims, va_list* ap, SizeAllocator sizeAlloc, ElemAllocator elemAlloc) {
        A r;
        dimsVa(&r, ndims, ap, sizeAlloc);
        r.data = elemAlloc(count(r));
        return r;
    }
    static A constructVa(int ndims, va_list* ap) { return constructVa(ndims, ap, SizeAlloc, F::alloc); }

    static A constructLike(A a) { return make(a.ndims, a.dims); }

    static A copy(A a) {
        A r = make(a.ndims, a.dims);
        copyElements(r.data, a.data, count(r));
        return r;
    }

    // ---- Views, wraps and column-major copies ----

    static A subArrayView(int k, int i, A a) {
        RuntimeAssert((k >= 0) && (k <= a.ndims), "(k>=0)&&(k<=a.ndims)", "Sub-array view: too many leading dimensions");
        int32_t blocks = elementCount(k, a.dims);
        RuntimeAssert((i >= 0) && (i < blocks), "(i>=0)&&(i<blocks)", "Sub-array view: block out of range");
        A r;
        r.ndims = a.ndims - k;
        r.dims = a.dims + k;
        r.data = a.data + static_cast<int64_t>(i) * elementCount(r.ndims, r.dims);
        return r;
    }

    static A wrapData(T* data, int ndims, va_list* ap) {
        A r;
        dimsVa(&r, ndims, ap, SizeAlloc);
        elementCount(r.ndims, r.dims);
        r.data = data;
        return r;
    }

    static void stridedCopy(A r, int64_t block, A a, int64_t index, int64_t stride, int depth) {
        int64_t e = r.dims[depth];
        if (depth < r.ndims - 1) {
            for (int64_t i = 0; i < e; ++i) {
                stridedCopy(r, block * e + i, a, index, stride * e, depth + 1);
                index += stride;
            }
        } else {
            for (int64_t j = 0; j < e; ++j) r.data[block * e + j] = a.data[index + j * stride];
        }
    }

    static A reverseDimsCopy(A a) {
        int32_t n = elementCount(a.ndims, a.dims);
        A r;
        r.ndims = a.ndims;
        r.data = nullptr;
        // Outside a trap a full buffer gives null: nothing is written through it.
        r.dims = SizeAlloc(a.ndims);
        if (!r.dims) return r;
        for (int i = 0; i < a.ndims; ++i) r.dims[i] = a.dims[a.ndims - 1 - i];
        r.data = F::alloc(n);
        if (n > 0 && r.ndims > 0 && r.data) stridedCopy(r, 0, a, 0, 1, 0);
        return r;
    }

    static A toColumnMajor(A a) { return a.ndims <= 1 ? a : reverseDimsCopy(a); }

    // ---- Subscripting ----

    static void subscriptGet(A r, int64_t rBlock, int p, A a, int64_t aBlock, int q, int64_t blockLength,
                             const IndexSpec* item) {
        if (!item) return;
        switch (item->kind) {
        case IndexColon: {
            int64_t n = a.dims[q];
            for (int64_t i = 0; i < n; ++i)
                subscriptGet(r, rBlock * n + i, p + 1, a, aBlock * n + i, q + 1, blockLength, item + 1);
            break;
        }
        case IndexRange:
        case IndexStepRange: {
            int64_t m = r.dims[p];
            for (int64_t i = 0; i < m; ++i)
                subscriptGet(r, rBlock * m + i, p + 1, a, aBlock * a.dims[q] + item->start - 1 + i * item->step,
                             q + 1, blockLength, item + 1);
            break;
        }
        case IndexVector: {
            int64_t m = r.dims[p];
            const IntegerArray& v = item->vector;
            for (int64_t i = 0; i < v.dims[0]; ++i)
                subscriptGet(r, rBlock * m + i, p + 1, a, aBlock * a.dims[q] + v.data[i] - 1, q + 1, blockLength,
                             item + 1);
            break;
        }
        case IndexScalar:
            subscriptGet(r, rBlock, p, a, aBlock * a.dims[q] + item->index - 1, q + 1, blockLength, item + 1);
            break;
        case IndexEnd:
            copyElements(r.data + rBlock * blockLength, a.data + aBlock * blockLength, blockLength);
            break;
        default:
            break;
        }
    }

    static void subscriptSet(A out, int64_t oBlock, int p, A v, int64_t vBlock, int q, int64_t blockLength,
                             const IndexSpec* item) {
        if (!item) return;
        switch (item->kind) {
        case IndexColon: {
            int64_t n = v.dims[q];
            for (int64_t i = 0; i < n; ++i)
                subscriptSet(out, oBlock * n + i, p + 1, v, vBlock * n + i, q + 1, blockLength, item + 1);
            break;
        }
        case IndexRange:
        case IndexStepRange: {
            int64_t n = v.dims[q];
            int64_t position = oBlock * out.dims[p] + item->start - 1;
            for (int64_t i = 0; i < n; ++i) {
                subscriptSet(out, position, p + 1, v, vBlock * n + i, q + 1, blockLength, item + 1);
                position += item->step;
            }
            break;
        }
        case IndexVector: {
            const IntegerArray& vec = item->vector;
            for (int64_t i = 0; i < vec.dims[0]; ++i)
                subscriptSet(out, oBlock * out.dims[p] + vec.data[i] - 1, p + 1, v, vBlock * v.dims[q] + i, q + 1,
                             blockLength, item + 1);
            break;
        }
        case IndexScalar:
            subscriptSet(out, oBlock * out.dims[p] + item->index - 1, p + 1, v, vBlock, q, blockLength, item + 1);
            break;
        case IndexEnd:
            copyElements(out.data + oBlock * blockLength, v.data + vBlock * blockLength, blockLength);
            break;
        default:
            break;
        }
    }

    // a[list]: the list is walked three times (count, sizes and checks, records).
    // The capacity of the record buffer is checked only by the last walk, so a
    // list with more subscripts than the array has dimensions is reported as such.
    static A subscript(A a, va_list list) {
        int nargs = 0;
        int ndims = a.ndims;
        {
            va_list ap;
            va_copy(ap, list);
            for (;;) {
                IndexSpec s = readIndexSpec(&ap);
                if (s.kind == IndexEnd) break;
                if (s.kind == IndexScalar) {
                    RuntimeAssert(ndims > 0, "ndims>0", "Internal error in subscriptring of array");
                    --ndims;
                }
                ++nargs;
            }
            va_end(ap);
        }
        RuntimeAssert(nargs <= a.ndims, "nargs<=a.ndims", "Too many subscripts for array");

        A r;
        r.ndims = ndims;
        r.dims = SizeAlloc(ndims);
        int p = 0;
        int aDim = 0;
        {
            va_list ap;
            va_copy(ap, list);
            for (;;) {
                IndexSpec s = readIndexSpec(&ap);
                if (s.kind == IndexEnd) break;
                const int32_t dim = a.dims[aDim];
                switch (s.kind) {
                case IndexColon:
                    r.dims[p++] = dim;
                    break;
                case IndexRange:
                case IndexStepRange: {
                    int64_t num = rangeCount(s);
                    if (num > 0) {
                        RuntimeAssert((s.start >= 1) && (s.start <= dim), "(start>=1)&&(start<=a.dims[a_dim])",
                                      "Range subscripting: start out of range");
                        int64_t last = rangeLast(s, num);
                        RuntimeAssert((last >= 1) && (last <= dim), "(stop >=1)&&(stop <=a.dims[a_dim])",
                                      "Range subscripting: end out of range");
                    }
                    r.dims[p++] = static_cast<int32_t>(num);
                    break;
                }
                case IndexVector: {
                    const IntegerArray& v = s.vector;
                    RuntimeAssert(v.ndims == 1, "v.ndims==1",
                                  "Array subscripting: only vectors (and scalars) allowed as indicies");
                    r.dims[p++] = v.dims[0];
                    for (int i = 0; i < v.dims[0]; ++i)
                        RuntimeAssert((v.data[i] >= 1) && (v.data[i] <= dim),
                                      "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])",
                                      "Array subscripting: vector index out of range");
                    break;
                }
                case IndexScalar:
                    RuntimeAssert((s.index >= 1) && (s.index <= dim), "(i>=1)&&(i<=a.dims[a_dim])",
                                  "Array subscripting: scalar index out of range");
                    break;
                default:
                    break;
                }
                ++aDim;
            }
            va_end(ap);
        }
        for (; aDim < a.ndims; ++aDim) r.dims[p++] = a.dims[aDim];
        int32_t blockLength = elementCount(a.ndims - nargs, a.dims + nargs);
        r.data = F::alloc(count(r));

        IndexSpec items[num_VA_handler];
        va_list ap;
        va_copy(ap, list);
        parseIndexSpecs(ap, items, num_VA_handler);
        va_end(ap);
        subscriptGet(r, 0, 0, a, 0, 0, blockLength, items);
        return r;
    }

    // out[list] := value; the value is copied first, so it may share storage with out.
    static void subscriptAssign(A value, A out, va_list list) {
        A a = copy(value);
        int aDim = 0;
        int outDim = 0;
        {
            va_list ap;
            va_copy(ap, list);
            for (;;) {
                IndexSpec s = readIndexSpec(&ap);
                if (s.kind == IndexEnd) break;
                switch (s.kind) {
                case IndexColon:
                    RuntimeAssert(outDim < out.ndims, "out_dim<out.ndims", "Internal error in subscripting (:)");
                    RuntimeAssert(aDim < a.ndims, "a_dim<a.ndims", "Internal error in subscripting (:)");
                    RuntimeAssert(out.dims[outDim] == a.dims[aDim], "out.dims[out_dim]==a.dims[a_dim]",
                                  "Assignment array subscripting: A[:]=B must have identical sizes");
                    ++aDim;
                    ++outDim;
                    break;
                case IndexRange:
                case IndexStepRange: {
                    RuntimeAssert(outDim < out.ndims, "out_dim<out.ndims", "Internal error in subscripting: range");
                    RuntimeAssert(aDim < a.ndims, "a_dim<a.ndims", "Internal error in subscripting: range ");
                    int64_t num = rangeCount(s);
                    if (num > 0) {
                        const int32_t dim = out.dims[outDim];
                        RuntimeAssert((s.start >= 1) && (s.start <= dim), "(start>=1)&&(start<=out.dims[out_dim])",
                                      "Assignment array subscripting: start of range out of bounds");
                        int64_t last = rangeLast(s, num);
                        RuntimeAssert((last >= 1) && (last <= dim), "(stop>=1)&&(stop<=out.dims[out_dim])",
                                      "Assignment array subscripting: end of range out of bounds");
                    }
                    RuntimeAssert(a.dims[aDim] == num, "a.dims[a_dim]==num",
                                  "Assignment array subscripting: A[a:b]=B must have identical sizes");
                    ++aDim;
                    ++outDim;
                    break;
                }
                case IndexVector: {
                    const IntegerArray& v = s.vector;
                    RuntimeAssert(outDim < out.ndims, "out_dim<out.ndims", "Internal error in vector subscripting");
                    RuntimeAssert(aDim < a.ndims, "a_dim<a.ndims", "Internal error in vector subscripting");
                    RuntimeAssert(v.ndims == 1, "v.ndims==1",
                                  "Assignment array subscripting: array index must be a vector");
                    RuntimeAssert(a.dims[aDim] == v.dims[0], "a.dims[a_dim]==v.dims[0]",
                                  "Assignment array subscripting: A[vect]=B must have identical sizes");
                    for (int j = 0; j < v.dims[0]; ++j)
                        RuntimeAssert((v.data[j] >= 1) && (v.data[j] <= out.dims[outDim]),
                                      "(v.data[i]>=1)&&(v.data[i]<=out.dims[out_dim])",
                                      "Assignment array subscripting: vector index out of bounds");
                    ++aDim;
                    ++outDim;
                    break;
                }
                case IndexScalar:
                    RuntimeAssert(outDim < out.ndims, "out_dim<out.ndims", "Internal error in scalar subscripting");
                    RuntimeAssert((s.index >= 1) && (s.index <= out.dims[outDim]), "(i>=1)&&(i<=out.dims[out_dim])",
                                  "Assignment array subscripting: scalar index out of bounds");
                    ++outDim;
                    break;
                default:
                    break;
                }
            }
            va_end(ap);
        }
        RuntimeAssert(a.ndims - aDim == out.ndims - outDim, "a.ndims-a_dim==out.ndims-out_dim",
                      "Assignment array subscripting: unequal number of dimensions");
        for (int i = aDim; i < a.ndims; ++i)
            RuntimeAssert(a.dims[i] == out.dims[(i - aDim) + outDim], "a.dims[i]==out.dims[(i-a_dim)+out_dim]",
                          "Internal error in subscripting");
        int32_t blockLength = elementCount(a.ndims - aDim, a.dims + aDim);

        IndexSpec items[num_VA_handler];
        va_list ap;
        va_copy(ap, list);
        parseIndexSpecs(ap, items, num_VA_handler);
        va_end(ap);
        subscriptSet(out, 0, 0, a, 0, 0, blockLength, items);
    }

    // ---- Access ----

    static void assign(A a, A b) {
        RuntimeAssert(F::matching(a, b), F::kMatchAB, "Array dimensions did not match");
        copyElements(a.data, b.data, count(a));
    }

    static T* elementAddr(A a, va_list* ap) { return a.data + arrayIndexVa(a.ndims, a.dims, ap); }

    static T getElement(A a, va_list* ap) {
        if (F::kDirectVectorIndex && a.ndims == 1) {
            int j = va_arg(*ap, int);
            RuntimeAssert((j >= 1) && (j <= a.dims[0]), "(j >= 1) && (j <= a.dims[0])", "Index out of bounds");
            return a.data[j - 1];
        }
        return a.data[arrayIndexVa(a.ndims, a.dims, ap)];
    }

    static void setElement(T x, A a, va_list* ap) { a.data[arrayIndexVa(a.ndims, a.dims, ap)] = x; }

    static int size(A a, int i) {
        RuntimeAssert((i >= 1) && (i <= a.ndims), "(i>=1)&&(i<=a.ndims)", "Size must be between 1 and ndims of array");
        return a.dims[i - 1];
    }

    static IntegerArray sizes(A a) {
        IntegerArray r = Ops<IntegerFamily>::makeVector(a.ndims);
        copyElements(r.data, a.dims, a.ndims);
        return r;
    }

    static void print(A a) {
        runtimeMessageInteger("Dims: ", a.ndims);
        for (int i = 0; i < a.ndims; ++i) runtimeMessageInteger(" ", a.dims[i]);
        for (int i = 0; i < count(a); ++i) F::printElement(i + 1, a.data[i]);
    }

    // ---- Array constructors and concatenation ----

    static A arrayOfArrays(int n, va_list* ap) {
        RuntimeAssert(n >= 1, "n>=1", "An array of arrays needs at least one array");
        A first = *va_arg(*ap, A*);
        A r;
        r.ndims = first.ndims + 1;
        r.dims = SizeAlloc(r.ndims);
        r.dims[0] = n;
        copyElements(r.dims + 1, first.dims, first.ndims);
        r.data = F::alloc(count(r));
        const int32_t blockLength = count(first);
        A next = first;
        for (int i = 0; i < n; ++i) {
            if (i > 0) next = *va_arg(*ap, A*);
            RuntimeAssert(F::matching(first, next), F::kMatchFirstNext, "Arrays in array must be of equal sizes");
            copyElements(r.data + static_cast<int64_t>(i) * blockLength, next.data, blockLength);
        }
        return r;
    }

    static A vectorOfElements(int n, va_list* ap) {
        A r = makeVector(n);
        for (int i = 0; i < n; ++i) r.data[i] = F::readVa(ap);
        return r;
    }

    // The record of element i of an array of records (a RealArray whose last
    // size is the record length in 8-byte words) starts at word i * length.
    static const char* recordAddress(RealArray a, int64_t record, int offset) {
        return reinterpret_cast<const char*>(a.data + record * a.dims[a.ndims - 1]) + offset;
    }

    static A recordField(RealArray a, int offset) {
        RuntimeAssert(a.ndims >= 1, "a.ndims>=1", "An array of records needs a record dimension");
        A r = make(a.ndims - 1, a.dims);
        const int32_t n = count(r);
        for (int32_t i = 0; i < n; ++i) memcpy(&r.data[i], recordAddress(a, i, offset), sizeof(T));
        return r;
    }

    static A recordSlice(RealArray a, int offset) {
        RuntimeAssert(RealNrElements(a) > 0, "RealNrElements(a)>0", "Can only make record slices of non-empty arrays");
        RuntimeAssert(a.ndims >= 1, "a.ndims>=1", "An array of records needs a record dimension");
        const int32_t lenA = elementCount(a.ndims - 1, a.dims);
        A elem;
        memcpy(&elem, recordAddress(a, 0, offset), sizeof elem);
        const int32_t lenElem = count(elem);
        A r;
        r.ndims = a.ndims - 1 + elem.ndims;
        r.dims = SizeAlloc(r.ndims);
        copyElements(r.dims, a.dims, a.ndims - 1);
        copyElements(r.dims + a.ndims - 1, elem.dims, elem.ndims);
        const int32_t lenTemp = count(r);
        RuntimeAssert(lenTemp == static_cast<int64_t>(lenA) * lenElem, "lenTemp==lenA*lenElem", "Consistency");
        r.data = F::alloc(lenTemp);
        for (int32_t l = 0; l < lenA; ++l) {
            A elemi;
            memcpy(&elemi, recordAddress(a, l, offset), sizeof elemi);
            RuntimeAssert(F::matching(elemi, elem), F::kMatchElem, "Can only slice homogenous record arrays");
            copyElements(r.data + static_cast<int64_t>(l) * lenElem, elemi.data, lenElem);
        }
        return r;
    }

    // cat(k, a1, ..., an); the list is walked twice (checks and sizes, copies).
    static A cat(int k, int n, va_list list) {
        RuntimeAssert(n >= 1, "n>=1", "cat needs at least one array");
        va_list ap;
        va_copy(ap, list);
        const A first = *va_arg(ap, A*);
        RuntimeAssert((k >= 1) && (k <= first.ndims), "(k>=1)&&(k<=first.ndims)", "cat dimension out of range");
        int64_t total = first.dims[k - 1];
        for (int i = 1; i < n; ++i) {
            const A a = *va_arg(ap, A*);
            RuntimeAssert(a.ndims == first.ndims, "a.ndims==first.ndims", "Number of dimensions must match for cat");
            for (int j = 0; j < first.ndims; ++j)
                if (j != k - 1)
                    RuntimeAssert(first.dims[j] == a.dims[j], "first.dims[j]==a.dims[j]", "Sizes must match for cat");
            total += a.dims[k - 1];
        }
        va_end(ap);
        A r;
        r.ndims = first.ndims;
        r.dims = SizeAlloc(first.ndims);
        copyElements(r.dims, first.dims, first.ndims);
        r.dims[k - 1] = requireCount(total);
        r.data = F::alloc(count(r));
        const int64_t outer = elementCount(k - 1, first.dims);
        const int64_t inner = elementCount(first.ndims - k, first.dims + k);
        int64_t offset = 0;
        va_copy(ap, list);
        for (int i = 0; i < n; ++i) {
            const A a = *va_arg(ap, A*);
            const int64_t d = a.dims[k - 1];
            for (int64_t j = 0; j < outer; ++j)
                for (int64_t m = 0; m < d; ++m)
                    copyElements(r.data + (j * total + offset + m) * inner, a.data + (j * d + m) * inner, inner);
            offset += d;
        }
        va_end(ap);
        return r;
    }

    // ---- Reshaping and fills ----

    static A promote(A a, int n) {
        RuntimeAssert(n >= a.ndims, "n>=a.ndims", "Promote cannot decrease number of dimensions");
        A r;
        r.ndims = n;
        r.dims = SizeAlloc(n);
        copyElements(r.dims, a.dims, a.ndims);
        for (int i = a.ndims; i < n; ++i) r.dims[i] = 1;
        r.data = a.data;
        return r;
    }

    static A promoteScalar(T x, int n) {
        A r;
        r.ndims = requireCount(n);
        r.dims = SizeAlloc(n);
        for (int i = 0; i < n; ++i) r.dims[i] = 1;
        r.data = F::alloc(1);
        r.data[0] = x;
        return r;
    }

    static A fill(A a, T x) {
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i) a.data[i] = x;
        return a;
    }

    static A fillDims(T x, int ndims, va_list* ap) { return fill(constructVa(ndims, ap), x); }

    static A constructDimsLike(A a, int n, va_list* ap) {
        requireCount(n);
        A r;
        r.ndims = requireCount(static_cast<int64_t>(n) + a.ndims);
        r.dims = SizeAlloc(r.ndims);
        for (int i = 0; i < n; ++i) {
            r.dims[i] = va_arg(*ap, int);
            RuntimeAssert(r.dims[i] >= 0, "dims[i]>=0", "Array sizes must not be negative");
        }
        copyElements(r.dims + n, a.dims, a.ndims);
        r.data = F::alloc(count(r));
        const int32_t blocks = elementCount(n, r.dims);
        const int32_t len = count(a);
        for (int32_t b = 0; b < blocks; ++b) copyElements(r.data + static_cast<int64_t>(b) * len, a.data, len);
        return r;
    }

    static T scalar(A a) {
        RuntimeAssert(count(a) == 1, F::kOneElement, "scalar requires exactly one element");
        return a.data[0];
    }

    static A vector(A a) {
        bool found_non_one = false;
        for (int i = 0; i < a.ndims; ++i) {
            if (a.dims[i] > 1) {
                RuntimeAssert(!found_non_one, "!found_non_one", "vector requires exactly one vector non-unit dimension");
                found_non_one = true;
            }
        }
        A r;
        r.ndims = 1;
        r.dims = SizeAlloc(1);
        r.dims[0] = count(a);
        r.data = a.data;
        return r;
    }

    static A matrix(A a) {
        A r;
        r.ndims = 2;
        r.dims = SizeAlloc(2);
        // A zero-dimensional array (one element) becomes a 1x1 matrix.
        r.dims[0] = a.ndims >= 1 ? a.dims[0] : 1;
        r.dims[1] = a.ndims >= 2 ? a.dims[1] : 1;
        r.data = a.data;
        RuntimeAssert(count(a) == count(r), F::kSameCount, "matrix requires size(x,i)=1 for i>2");
        return r;
    }

    static A transpose(A a) {
        RuntimeAssert(a.ndims >= 2, "a.ndims>=2", "transpose requires ndims>=2");
        A r;
        r.ndims = a.ndims;
        r.dims = SizeAlloc(a.ndims);
        copyElements(r.dims, a.dims, a.ndims);
        r.dims[0] = a.dims[1];
        r.dims[1] = a.dims[0];
        r.data = F::alloc(count(r));
        const int64_t d0 = a.dims[0], d1 = a.dims[1];
        const int64_t rest = elementCount(a.ndims - 2, a.dims + 2);
        for (int64_t i = 0; i < d0; ++i)
            for (int64_t j = 0; j < d1; ++j)
                copyElements(r.data + (j * d0 + i) * rest, a.data + (i * d1 + j) * rest, rest);
        return r;
    }

    static A symmetric(A a) {
        RuntimeAssert(a.ndims == 2, "a.ndims==2", "symmetric requires ndims==2");
        RuntimeAssert(a.dims[0] == a.dims[1], "a.dims[0]==a.dims[1]", "symmetric requires square matrix");
        const int64_t n = a.dims[0];
        A r = makeMatrix(a.dims[0], a.dims[0]);
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j < n; ++j) r.data[i * n + j] = i <= j ? a.data[i * n + j] : a.data[j * n + i];
        return r;
    }

    // ---- Numeric families only ----

    static A outerProduct(A a, A b) {
        static_assert(F::kNumeric, "numeric families only");
        RuntimeAssert(a.ndims == 1, "a.ndims==1", "Outerproduct require a vector as first argument");
        RuntimeAssert(b.ndims == 1, "b.ndims==1", "Outerproduct require a vector as second argument");
        const int64_t n = a.dims[0], m = b.dims[0];
        A r = makeMatrix(a.dims[0], b.dims[0]);
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j < m; ++j) r.data[i * m + j] = F::mul(a.data[i], b.data[j]);
        return r;
    }

    static A addInto(A res, A a, A b) {
        static_assert(F::kNumeric, "numeric families only");
        RuntimeAssert(F::matching(a, b), F::kMatchAB, "Add of arrays require arguments of matching size");
        RuntimeAssert(F::matching(res, a), F::kMatchResA, "Add of arrays require result of matching size");
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i) res.data[i] = F::add(a.data[i], b.data[i]);
        return res;
    }
    static A subtractInto(A res, A a, A b) {
        static_assert(F::kNumeric, "numeric families only");
        RuntimeAssert(F::matching(a, b), F::kMatchAB, "Subtract of arrays require arguments of matching size");
        RuntimeAssert(F::matching(res, a), F::kMatchResA, "Subtract of arrays require result of matching size");
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i) res.data[i] = F::sub(a.data[i], b.data[i]);
        return res;
    }
    static A scaleInto(A res, A a, T s) {
        static_assert(F::kNumeric, "numeric families only");
        RuntimeAssert(F::matching(res, a), F::kMatchResA, "Array times scalar require result of matching size");
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i) res.data[i] = F::mul(a.data[i], s);
        return res;
    }
    static A negateInto(A res, A a) {
        static_assert(F::kNumeric, "numeric families only");
        RuntimeAssert(F::matching(res, a), F::kMatchResA, "Negating a matrix require result of matching size");
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i) res.data[i] = F::neg(a.data[i]);
        return res;
    }

    static T sum(A a) {
        T s = 0;
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i) s = F::add(s, a.data[i]);
        return s;
    }
    static T absSum(A a) {
        T s = 0;
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i) s = a.data[i] > 0 ? F::add(s, a.data[i]) : F::sub(s, a.data[i]);
        return s;
    }
    static T max(A a) {
        T m = F::kLowest;
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i)
            if (a.data[i] > m) m = a.data[i];
        return m;
    }
    static T min(A a) {
        T m = F::kHighest;
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i)
            if (a.data[i] < m) m = a.data[i];
        return m;
    }
    static T product(A a) {
        T p = 1;
        const int32_t n = count(a);
        for (int32_t i = 0; i < n; ++i) p = F::mul(p, a.data[i]);
        return p;
    }

    static A diagonal(A v) {
        RuntimeAssert(v.ndims == 1, "a.ndims==1", "diagonal requires vector input");
        const int64_t n = v.dims[0];
        A r = makeMatrix(v.dims[0], v.dims[0]);
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j < n; ++j) r.data[i * n + j] = i == j ? v.data[i] : 0;
        return r;
    }

    static A cross(A x, A y) {
        A r = makeVector(3);
        RuntimeAssert((x.ndims == 1) && (y.ndims == 1), "(x.ndims==1)&&(y.ndims==1)", "cross requires vector input");
        RuntimeAssert(x.dims[0] == 3, "x.dims[0]==3", "cross requires 3-vector input for first argument");
        RuntimeAssert(y.dims[0] == 3, "y.dims[0]==3", "cross requires 3-vector input for second argument");
        const T* u = x.data;
        const T* v = y.data;
        r.data[0] = F::sub(F::mul(u[1], v[2]), F::mul(u[2], v[1]));
        r.data[1] = F::sub(F::mul(u[2], v[0]), F::mul(u[0], v[2]));
        r.data[2] = F::sub(F::mul(u[0], v[1]), F::mul(u[1], v[0]));
        return r;
    }

    static A skew(A x) {
        A r = makeMatrix(3, 3);
        RuntimeAssert(x.ndims == 1, "x.ndims==1", "skew requires vector input");
        RuntimeAssert(x.dims[0] == 3, "x.dims[0]==3", "skew requires 3-vector input");
        const T* v = x.data;
        const T values[9] = {0, F::neg(v[2]), v[1], v[2], 0, F::neg(v[0]), F::neg(v[1]), v[0], 0};
        copyElements(r.data, values, 9);
        return r;
    }

    static A matrixProductInto(A res, A a, A b) {
        RuntimeAssert(res.ndims == 2, "res.ndims==2", "Matrix multiply gives a matrix as result");
        RuntimeAssert(a.ndims == 2, "a.ndims==2", "Matrix multiply requires that first operand is a matrix");
        RuntimeAssert(b.ndims == 2, "b.ndims==2", "Matrix multiply requires that second operand is a matrix");
        RuntimeAssert(res.dims[0] == a.dims[0], "res.dims[0]==a.dims[0]",
                      "Matrix multiply requires that first dimension of result and first argument match");
        RuntimeAssert(res.dims[1] == b.dims[1], "res.dims[1]==b.dims[1]",
                      "Matrix multiply requires that second dimension of result and second argument match");
        RuntimeAssert(a.dims[1] == b.dims[0], "a.dims[1]==b.dims[0]",
                      "Matrix multiply requires that inner dimensions of operands match");
        const int64_t n = a.dims[0], l = a.dims[1], m = b.dims[1];
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j < m; ++j) {
                T s = 0;
                for (int64_t k = 0; k < l; ++k) s = F::add(s, F::mul(a.data[i * l + k], b.data[k * m + j]));
                res.data[i * m + j] = s;
            }
        return res;
    }

    static A matrixVectorProductInto(A res, A a, A b) {
        RuntimeAssert(a.ndims == 2, "a.ndims==2", "Matrix times vector requires a matrix as first operand");
        RuntimeAssert(b.ndims == 1, "b.ndims==1", "Matrix times vector requires a vector as second operand");
        RuntimeAssert(res.ndims == 1, "res.ndims==1", "Matrix times vector gives a vector result");
        RuntimeAssert(res.dims[0] == a.dims[0], "res.dims[0]==a.dims[0]",
                      "Matrix times vector: requires size(M*v,1)=size(M,1)");
        RuntimeAssert(a.dims[1] == b.dims[0], "a.dims[1]==b.dims[0]",
                      "Matrix times vector: requires size(M,2)==size(v,1)");
        const int64_t n = a.dims[0], l = a.dims[1];
        for (int64_t i = 0; i < n; ++i) {
            T s = 0;
            for (int64_t k = 0; k < l; ++k) s = F::add(s, F::mul(a.data[i * l + k], b.data[k]));
            res.data[i] = s;
        }
        return res;
    }

    static A vectorMatrixProductInto(A res, A a, A b) {
        RuntimeAssert(a.ndims == 1, "a.ndims==1", "Vector times matrix requires a vector as first operand");
        RuntimeAssert(b.ndims == 2, "b.ndims==2", "Vector times matrix requires a matrix as second operand");
        RuntimeAssert(res.ndims == 1, "res.ndims==1", "Vector times matrix gives a vector result");
        RuntimeAssert(res.dims[0] == b.dims[1], "res.dims[0]==b.dims[1]",
                      "Vector times matrix: requires size(v*M,1)=size(M,2)");
        RuntimeAssert(a.dims[0] == b.dims[0], "a.dims[0]==b.dims[0]",
                      "Vector times matrix: requires size(v,1)=size(M,1)");
        const int64_t l = b.dims[0], m = b.dims[1];
        for (int64_t j = 0; j < m; ++j) {
            T s = 0;
            for (int64_t k = 0; k < l; ++k) s = F::add(s, F::mul(a.data[k], b.data[k * m + j]));
            res.data[j] = s;
        }
        return res;
    }

    static T scalarProduct(A a, A b) {
        RuntimeAssert(a.ndims == 1, "a.ndims==1", "Scalar product requires vector as first operand");
        RuntimeAssert(b.ndims == 1, "b.ndims==1", "Scalar product requires vector as second operand");
        RuntimeAssert(a.dims[0] == b.dims[0], "a.dims[0]==b.dims[0]", "Scalar product requires vectors of matching size");
        T s = 0;
        for (int32_t i = 0; i < a.dims[0]; ++i) s = F::add(s, F::mul(a.data[i], b.data[i]));
        return s;
    }

    // The plain products take their result sizes from the operands. A size
    // an operand does not have (a vector where a matrix belongs) is read as
    // 0: the result keeps its shape, and the operand check of the Into form
    // reports the misuse.
    static A matrixProduct(A a, A b) {
        A r = makeMatrix(a.ndims == 2 ? a.dims[0] : 0, b.ndims == 2 ? b.dims[1] : 0);
        return matrixProductInto(r, a, b);
    }
    static A matrixVectorProduct(A a, A b) {
        A r = a.ndims == 2 ? makeVector(a.dims[0]) : makeVector(0);
        return matrixVectorProductInto(r, a, b);
    }
    static A vectorMatrixProduct(A a, A b) {
        A r = b.ndims == 2 ? makeVector(b.dims[1]) : makeVector(0);
        return vectorMatrixProductInto(r, a, b);
    }

    static A identity(int n) {
        A r = makeMatrix(n, n);
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j < n; ++j) r.data[i * n + j] = i == j ? 1 : 0;
        return r;
    }

    static A matrixPower(A a, int n) {
        RuntimeAssert(n >= 0, "n>=0", "Matrices can only be raised to positive integer");
        RuntimeAssert(a.ndims == 2, "a.ndims==2", "Matrix raised to a positive integer requires a matrix as first operand");
        RuntimeAssert(a.dims[0] == a.dims[1], "a.dims[0]==a.dims[1]",
                      "Matrix raised to a positive integer requires a square matrix as first operand");
        if (n == 1) return a;
        if (n == 0) return identity(a.dims[0]);
        if (n % 2 == 1) return matrixProduct(matrixPower(a, n - 1), a);
        A p = matrixPower(a, n / 2);
        return matrixProduct(p, p);
    }
};

} // namespace arrays

// Array records and indexing: element counts, the row-major index, checked
// sizes, subscripted reading and assignment, the subscript reader, views,
// wraps, column-major copies and the element-wise when of Boolean arrays.
#include <math.h>
#include <stdint.h>

#include "test_arrays_support.h"

namespace {

using ArrayCore = ArrayTest;
using V = std::vector<double>;
using D = std::vector<int>;

IndexSpec* parseList(IndexSpec* buffer, ...) {
    va_list ap;
    va_start(ap, buffer);
    parseIndexSpecs(ap, buffer, num_VA_handler);
    va_end(ap);
    return buffer;
}

RealArray counting(int n, int m) {
    RealArray a = RealMatrixAlloc(n, m);
    for (int i = 0; i < n * m; ++i) a.data[i] = i + 1;
    return a;
}

TEST_F(ArrayCore, ElementCountsAndRowMajorIndex) {
    RealArray scalar = RealConstruct(0);
    EXPECT_EQ(RealNrElements(scalar), 1);
    EXPECT_EQ(RealNrElements(RealConstruct(2, 3, 0)), 0);
    EXPECT_EQ(DimsProduct(0, nullptr), 1);
    const int32_t dims[2] = {3, 4};
    EXPECT_EQ(ArrayIndex(2, dims, 2, 3), 6);
    EXPECT_EQ(ArrayIndex(2, dims, 3, 4), 11);
    EXPECT_EQ(failure([&] { ArrayIndex(2, dims, 0, 1); }), "(j>=1)&&(j<=dim) | Index out of bounds");
    EXPECT_EQ(failure([&] { ArrayIndex(2, dims, 1, 5); }), "(j>=1)&&(j<=dim) | Index out of bounds");
}

TEST_F(ArrayCore, NegativeSizesAndOversizedCountsAreRefused) {
    ThreadContext* c = getThreadContext();
    createThreadBuffers();
    double* realBefore = c->currentMark.place.Realbuffer;
    int32_t* sizeBefore = c->currentMark.place.Sizebuffer;
    EXPECT_EQ(failure([] { RealConstruct(1, -1); }), "dims[i]>=0 | Array sizes must not be negative");
    EXPECT_EQ(failure([] { IntegerMatrixAlloc(2, -3); }), "dims[i]>=0 | Array sizes must not be negative");
    EXPECT_EQ(failure([] { StringVectorAlloc(-1); }), "dims[i]>=0 | Array sizes must not be negative");
    EXPECT_EQ(failure([] { RealConstruct(2, 100000, 100000); }), "n<=2147483647 | Too many array elements");
    EXPECT_EQ(failure([] { RealVectorOfElements(-2); }), "dims[i]>=0 | Array sizes must not be negative");
    EXPECT_EQ(failure([] { RealPromoteScalar(1.0, -1); }), "n>=0 | Number of elements must not be negative");
    EXPECT_EQ(failure([] { RealIdentity(-4); }), "dims[i]>=0 | Array sizes must not be negative");
    EXPECT_EQ(failure([] { RealConstruct(-1); }), "ndims>=0 | Number of array dimensions must not be negative");
    // A size product that overflows 32 bits on the way but ends at 0 is an empty array.
    EXPECT_EQ(failure([] { EXPECT_EQ(RealNrElements(RealConstruct(3, 100000, 100000, 0)), 0); }), "");
    EXPECT_EQ(c->currentMark.place.Realbuffer, realBefore);
    EXPECT_GE(c->currentMark.place.Sizebuffer, sizeBefore);
}

TEST_F(ArrayCore, ScalarSubscriptReadsARow) {
    RealArray a = counting(3, 4);
    RealArray row = RealSubscript(a, IndexScalar, 2, IndexEnd);
    EXPECT_EQ(dimsOf(row), D({4}));
    EXPECT_EQ(elementsOf(row), V({5, 6, 7, 8}));
    RealArray column = RealSubscript(a, IndexColon, IndexScalar, 3, IndexEnd);
    EXPECT_EQ(elementsOf(column), V({3, 7, 11}));
    RealArray element = RealSubscript(a, IndexScalar, 3, IndexScalar, 1, IndexEnd);
    EXPECT_EQ(element.ndims, 0);
    EXPECT_EQ(element.data[0], 9);
}

TEST_F(ArrayCore, RangeSubscriptsCountTheSameForReadingAndAssignment) {
    RealArray v = realVector({10, 20, 30, 40, 50});
    // 3:1 selects nothing and tests no bound, not even a start outside the array.
    EXPECT_EQ(dimsOf(RealSubscript(v, IndexRange, 3, 1, IndexEnd)), D({0}));
    EXPECT_EQ(dimsOf(RealSubscript(v, IndexRange, 9, 1, IndexEnd)), D({0}));
    // 3:2:2 selects nothing when reading, as in an assignment.
    EXPECT_EQ(dimsOf(RealSubscript(v, IndexStepRange, 3, 2, 2, IndexEnd)), D({0}));
    RealSubscriptAssign(RealVectorAlloc(0), v, IndexStepRange, 3, 2, 2, IndexEnd);
    EXPECT_EQ(elementsOf(v), V({10, 20, 30, 40, 50}));
    // 1:2:4 on a size-3 dimension selects 1 and 3: the last selected index is inside.
    RealArray three = realVector({1, 2, 3});
    EXPECT_EQ(elementsOf(RealSubscript(three, IndexStepRange, 1, 2, 4, IndexEnd)), V({1, 3}));
    RealSubscriptAssign(realVector({7, 9}), three, IndexStepRange, 1, 2, 4, IndexEnd);
    EXPECT_EQ(elementsOf(three), V({7, 2, 9}));
    EXPECT_EQ(elementsOf(RealSubscript(v, IndexStepRange, 5, -2, 1, IndexEnd)), V({50, 30, 10}));
    EXPECT_EQ(elementsOf(RealSubscript(v, IndexRange, 2, 4, IndexEnd)), V({20, 30, 40}));

    EXPECT_EQ(failure([&] { RealSubscript(v, IndexStepRange, 1, 0, 3, IndexEnd); }),
              "step!=0 | Range subscripting: the step must not be zero");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(v, v, IndexStepRange, 1, 0, 3, IndexEnd); }),
              "step!=0 | Range subscripting: the step must not be zero");
    EXPECT_EQ(failure([&] { RealSubscript(v, IndexRange, 0, 2, IndexEnd); }),
              "(start>=1)&&(start<=a.dims[a_dim]) | Range subscripting: start out of range");
    EXPECT_EQ(failure([&] { RealSubscript(v, IndexStepRange, 2, 2, 8, IndexEnd); }),
              "(stop >=1)&&(stop <=a.dims[a_dim]) | Range subscripting: end out of range");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1, 2}), v, IndexRange, 5, 6, IndexEnd); }),
              "(stop>=1)&&(stop<=out.dims[out_dim]) | Assignment array subscripting: end of range out of bounds");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1, 2}), v, IndexRange, 0, 1, IndexEnd); }),
              "(start>=1)&&(start<=out.dims[out_dim]) | Assignment array subscripting: start of range out of bounds");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1, 2}), v, IndexRange, 1, 3, IndexEnd); }),
              "a.dims[a_dim]==num | Assignment array subscripting: A[a:b]=B must have identical sizes");
}

TEST_F(ArrayCore, VectorColonAndScalarSubscriptChecks) {
    RealArray a = counting(3, 4);
    IntegerArray rows = integerVector({3, 1});
    RealArray picked = RealSubscript(a, IndexVector, &rows, IndexColon, IndexEnd);
    EXPECT_EQ(dimsOf(picked), D({2, 4}));
    EXPECT_EQ(elementsOf(picked), V({9, 10, 11, 12, 1, 2, 3, 4}));

    IntegerArray bad = integerVector({1, 4});
    EXPECT_EQ(failure([&] { RealSubscript(a, IndexVector, &bad, IndexEnd); }),
              "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim]) | Array subscripting: vector index out of range");
    IntegerArray matrixIndex = integerMatrix(1, 1, {1});
    EXPECT_EQ(failure([&] { RealSubscript(a, IndexVector, &matrixIndex, IndexEnd); }),
              "v.ndims==1 | Array subscripting: only vectors (and scalars) allowed as indicies");
    EXPECT_EQ(failure([&] { RealSubscript(a, IndexScalar, 4, IndexEnd); }),
              "(i>=1)&&(i<=a.dims[a_dim]) | Array subscripting: scalar index out of range");
    EXPECT_EQ(failure([&] { RealSubscript(a, IndexColon, IndexColon, IndexColon, IndexEnd); }),
              "nargs<=a.ndims | Too many subscripts for array");
    EXPECT_EQ(failure([&] { RealSubscript(a, IndexScalar, 1, IndexScalar, 1, IndexScalar, 1, IndexEnd); }),
              "ndims>0 | Internal error in subscriptring of array");
    EXPECT_EQ(failure([&] { RealSubscript(a, 9, IndexEnd); }), "(kind>=0)&&(kind<=5) | Unknown kind of subscript");
}

TEST_F(ArrayCore, SubscriptListHoldsAtMost95Subscripts) {
#define Z10 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
    IndexSpec specs[num_VA_handler];
    EXPECT_EQ(failure([&] {
                  parseList(specs, Z10, Z10, Z10, Z10, Z10, Z10, Z10, Z10, Z10, 0, 0, 0, 0, 0, IndexEnd);
              }),
              "");
    EXPECT_EQ(specs[94].kind, IndexColon);
    EXPECT_EQ(specs[95].kind, IndexEnd);
    EXPECT_EQ(failure([&] {
                  parseList(specs, Z10, Z10, Z10, Z10, Z10, Z10, Z10, Z10, Z10, 0, 0, 0, 0, 0, 0, IndexEnd);
              }),
              "i+4<num_VA_handler | Out of memory for va_list");
#undef Z10
    IntegerArray v = integerVector({2, 1});
    parseList(specs, IndexRange, 1, 3, IndexStepRange, 4, -1, 2, IndexVector, &v, IndexScalar, 7, IndexEnd);
    EXPECT_EQ(specs[0].kind, IndexRange);
    EXPECT_EQ(specs[0].step, 1);
    EXPECT_EQ(specs[0].stop, 3);
    EXPECT_EQ(specs[1].start, 4);
    EXPECT_EQ(specs[1].step, -1);
    EXPECT_EQ(specs[2].vector.data, v.data);
    EXPECT_EQ(specs[3].index, 7);
    EXPECT_EQ(specs[4].kind, IndexEnd);
}

TEST_F(ArrayCore, SubscriptedAssignment) {
    RealArray out = RealFillDims(0.0, 2, 3, 4);
    RealSubscriptAssign(realVector({1, 2, 3, 4}), out, IndexScalar, 2, IndexColon, IndexEnd);
    IntegerArray rows = integerVector({3, 1});
    RealSubscriptAssign(realVector({7, 8}), out, IndexVector, &rows, IndexScalar, 2, IndexEnd);
    RealSubscriptAssign(realVector({5, 6}), out, IndexStepRange, 1, 2, 3, IndexScalar, 4, IndexEnd);
    EXPECT_EQ(elementsOf(out), V({0, 8, 0, 5, 1, 2, 3, 4, 0, 7, 0, 6}));

    // The value is copied first, so a value that shares the target's elements
    // is assigned as it was before the assignment.
    RealArray v = realVector({1, 2, 3});
    RealSubscriptAssign(RealWrapData(v.data, 1, 2), v, IndexRange, 2, 3, IndexEnd);
    EXPECT_EQ(elementsOf(v), V({1, 1, 2}));
    IntegerArray reversed = integerVector({3, 2, 1});
    RealSubscriptAssign(v, v, IndexVector, &reversed, IndexEnd);
    EXPECT_EQ(elementsOf(v), V({2, 1, 1}));

    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1, 2}), v, IndexColon, IndexEnd); }),
              "out.dims[out_dim]==a.dims[a_dim] | Assignment array subscripting: A[:]=B must have identical sizes");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1, 2}), out, IndexScalar, 1, IndexEnd); }),
              "a.dims[i]==out.dims[(i-a_dim)+out_dim] | Internal error in subscripting");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1}), out, IndexScalar, 1, IndexScalar, 1, IndexEnd); }),
              "a.ndims-a_dim==out.ndims-out_dim | Assignment array subscripting: unequal number of dimensions");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1}), v, IndexScalar, 4, IndexEnd); }),
              "(i>=1)&&(i<=out.dims[out_dim]) | Assignment array subscripting: scalar index out of bounds");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1}), v, IndexScalar, 1, IndexScalar, 1, IndexEnd); }),
              "out_dim<out.ndims | Internal error in scalar subscripting");
    IntegerArray far = integerVector({4});
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1}), v, IndexVector, &far, IndexEnd); }),
              "(v.data[i]>=1)&&(v.data[i]<=out.dims[out_dim]) | Assignment array subscripting: vector index out of "
              "bounds");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(realVector({1, 2}), v, IndexVector, &far, IndexEnd); }),
              "a.dims[a_dim]==v.dims[0] | Assignment array subscripting: A[vect]=B must have identical sizes");
    EXPECT_EQ(failure([&] { RealSubscriptAssign(RealConstruct(0), v, IndexRange, 1, 1, IndexEnd); }),
              "a_dim<a.ndims | Internal error in subscripting: range ");
}

TEST_F(ArrayCore, ColumnMajorCopies) {
    RealArray a = counting(2, 3);
    RealArray c = RealToColumnMajor(a);
    EXPECT_EQ(dimsOf(c), D({3, 2}));
    EXPECT_EQ(elementsOf(c), V({1, 4, 2, 5, 3, 6}));
    RealArray v = realVector({1, 2});
    EXPECT_EQ(RealToColumnMajor(v).data, v.data);

    RealArray cube = RealConstruct(3, 2, 3, 4);
    for (int i = 0; i < 24; ++i) cube.data[i] = i;
    RealArray r = RealToColumnMajor(cube);
    EXPECT_EQ(dimsOf(r), D({4, 3, 2}));
    for (int i0 = 1; i0 <= 2; ++i0)
        for (int i1 = 1; i1 <= 3; ++i1)
            for (int i2 = 1; i2 <= 4; ++i2)
                EXPECT_EQ(RealGetElement(r, i2, i1, i0), RealGetElement(cube, i0, i1, i2));
    EXPECT_EQ(elementsOf(RealToColumnMajor(RealConstruct(3, 100000, 0, 100000))), V{});
    StringArray s = StringMatrixAlloc(1, 2);
    s.data[0] = "x";
    s.data[1] = "y";
    EXPECT_EQ(dimsOf(StringToColumnMajor(s)), D({2, 1}));
}

TEST_F(ArrayCore, ViewsAndWrapsShareStorage) {
    RealArray a = counting(3, 4);
    RealArray row = RealSubArrayView(1, 2, a);
    EXPECT_EQ(row.ndims, 1);
    EXPECT_EQ(row.dims, a.dims + 1);
    EXPECT_EQ(row.data, a.data + 8);
    EXPECT_EQ(failure([&] { RealSubArrayView(1, 3, a); }), "(i>=0)&&(i<blocks) | Sub-array view: block out of range");
    EXPECT_EQ(failure([&] { RealSubArrayView(3, 0, a); }),
              "(k>=0)&&(k<=a.ndims) | Sub-array view: too many leading dimensions");

    double mine[6] = {1, 2, 3, 4, 5, 6};
    RealArray w = RealWrapData(mine, 2, 2, 3);
    EXPECT_EQ(w.data, mine);
    EXPECT_EQ(RealGetElement(w, 2, 1), 4);
    int32_t ints[2] = {5, 6};
    EXPECT_EQ(IntegerWrapData(ints, 1, 2).data, ints);

    RealArray deep = RealCopy(a);
    EXPECT_NE(deep.data, a.data);
    EXPECT_NE(deep.dims, a.dims);
    EXPECT_EQ(elementsOf(deep), elementsOf(a));
    double buffer[12] = {};
    RealCopyToBuffer(buffer, a);
    EXPECT_EQ(buffer[11], 12);

    const double source[4] = {2.7, -2.7, NAN, 1e10};
    IntegerArray truncated = IntegerFromDoubles(source, 2, 2, 2);
    EXPECT_EQ(elementsOf(truncated), std::vector<int32_t>({2, -2, INT32_MIN, INT32_MIN}));
    EXPECT_STREQ(emptyIfNull(nullptr), "");
    const char* text = "t";
    EXPECT_EQ(emptyIfNull(text), text);
}

TEST_F(ArrayCore, ArrayWhen) {
    IntegerArray cond = integerVector({0, 0, 0});
    IntegerArray eval = integerVector({1, 1, 1});
    IntegerArray armed = integerVector({0, 0, 0});
    int fired = 0;
    EXPECT_EQ(IntegerArrayWhen(cond, eval, armed, 1, &fired), 0);
    EXPECT_EQ(elementsOf(armed), std::vector<int32_t>({1, 1, 1}));
    EXPECT_EQ(fired, 0);

    cond = integerVector({1, 0, 1});
    eval = integerVector({1, 1, 0});
    EXPECT_EQ(IntegerArrayWhen(cond, eval, armed, 0, &fired), 0) << "disabled: nothing fires";
    EXPECT_EQ(IntegerArrayWhen(cond, eval, armed, 1, &fired), 1);
    EXPECT_EQ(elementsOf(armed), std::vector<int32_t>({0, 1, 1}));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(IntegerArrayWhen(integerVector({0}), integerVector({0}), integerVector({1}), 1, &fired), 0);
    EXPECT_EQ(fired, 1) << "the event flag is never cleared";

    EXPECT_EQ(failure([&] { IntegerArrayWhen(cond, integerVector({1}), armed, 1, &fired); }),
              "IntegerMatchingSizes(cond,eval) | Internal error in array when.");
    EXPECT_EQ(failure([&] { IntegerArrayWhen(cond, eval, integerVector({1}), 1, &fired); }),
              "IntegerNrElements(armed)==IntegerNrElements(cond) | Internal error in array when.");
}

} // namespace

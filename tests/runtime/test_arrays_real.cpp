// Real array operations: reductions, ranges, products, powers, the inverse,
// reshaping, concatenation, records, printing and the conversions.
#include <float.h>
#include <math.h>
#include <stddef.h>

#include "test_arrays_support.h"

namespace {

using RealOps = ArrayTest;
using V = std::vector<double>;
using D = std::vector<int>;

TEST_F(RealOps, ReductionsOfEmptyArrays) {
    RealArray e = RealVectorAlloc(0);
    EXPECT_EQ(RealSum(e), 0);
    EXPECT_EQ(RealAbsSum(e), 0);
    EXPECT_EQ(RealDiff(e, e), 0);
    EXPECT_EQ(RealScalarProduct(e, e), 0);
    EXPECT_EQ(RealProduct(e), 1);
    EXPECT_EQ(RealMax(e), -1.7976931348623157e308);
    EXPECT_EQ(RealMin(e), 1.7976931348623157e308);
    RealArray a = realVector({-3, 4, NAN});
    EXPECT_EQ(RealMax(a), 4) << "NaN never replaces the running value";
    EXPECT_EQ(RealMin(a), -3);
    EXPECT_EQ(RealAbsSum(realVector({-3, 4})), 7);
    EXPECT_EQ(RealProduct(realVector({-3, 4})), -12);
}

TEST_F(RealOps, DiffComparesElementCountsOnly) {
    EXPECT_DOUBLE_EQ(RealDiff(realVector({0, 2}), realVector({1, 1})), 1.0 + 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(RealDiff(realMatrix(1, 2, {0, 2}), realVector({1, 1})), 1.0 + 1.0 / 3.0);
    EXPECT_EQ(failure([&] { RealDiff(realVector({1, 2, 3}), realVector({1, 1})); }),
              "max_elem==RealNrElements(b) | Diff");
}

TEST_F(RealOps, Ranges) {
    EXPECT_EQ(RealNrElements(RealRange(1, 2, 0.1)), 11);
    RealArray r = RealRange(0, 1, 0.3);
    EXPECT_EQ(RealNrElements(r), 4);
    EXPECT_DOUBLE_EQ(r.data[3], 0.9);
    EXPECT_EQ(RealNrElements(RealRange(3, 1, 1)), 0);
    EXPECT_EQ(RealNrElements(RealRange(1, 3, -1)), 0);
    EXPECT_EQ(elementsOf(RealRange(3, 1, -1)), V({3, 2, 1}));
    EXPECT_EQ(failure([] { RealRange(1, 2, 0); }), "stride!=0 | range requires non-zero stride");
    // Counts that are not finite or beyond int32 are errors, not undefined conversions.
    EXPECT_EQ(failure([] { RealRange(0, 1, NAN); }), "count<=2147483647 | range requires a finite number of elements");
    EXPECT_EQ(failure([] { RealRange(0, INFINITY, 1); }),
              "count<=2147483647 | range requires a finite number of elements");
    EXPECT_EQ(failure([] { RealRange(0, 1e12, 1); }),
              "count<=2147483647 | range requires a finite number of elements");
    EXPECT_EQ(elementsOf(RealRange(0, -INFINITY, 1)), V{});

    EXPECT_EQ(elementsOf(RealLinspace(0, 1, 3)), V({0, 0.5, 1}));
    EXPECT_EQ(RealLinspace(0.1, 0.7, 7).data[6], 0.7) << "the last point is exactly x2";
    EXPECT_EQ(failure([] { RealLinspace(0, 1, 1); }), "n>=2 | Linspace number of point>=2");
    EXPECT_EQ(failure([] { RealLinspace(0, 1, -5); }), "n>=2 | Linspace number of point>=2");
}

TEST_F(RealOps, RangeEndsSurviveRoundingOfFractionalStrides) {
    const struct {
        double start, stop, stride;
        int count;
    } cases[] = {{0, 0.3, 0.1, 4}, {0, 0.7, 0.1, 8}};
    for (const auto& c : cases)
        EXPECT_EQ(RealNrElements(RealRange(c.start, c.stop, c.stride)), c.count) << c.stop;
}

TEST_F(RealOps, ProductsAndTheirChecks) {
    RealArray a = realMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    RealArray b = realMatrix(3, 2, {7, 8, 9, 10, 11, 12});
    RealArray p = RealMatrixProduct(a, b);
    EXPECT_EQ(dimsOf(p), D({2, 2}));
    EXPECT_EQ(elementsOf(p), V({58, 64, 139, 154}));
    EXPECT_EQ(elementsOf(RealMatrixVectorProduct(a, realVector({1, 0, -1}))), V({-2, -2}));
    EXPECT_EQ(elementsOf(RealVectorMatrixProduct(realVector({1, -1}), a)), V({-3, -3, -3}));
    EXPECT_EQ(RealScalarProduct(realVector({1, 2, 3}), realVector({4, 5, 6})), 32);
    EXPECT_EQ(elementsOf(RealOuterProduct(realVector({1, 2}), realVector({3, 4, 5}))), V({3, 4, 5, 6, 8, 10}));

    RealArray v = realVector({1, 2});
    EXPECT_EQ(failure([&] { RealMatrixProduct(v, b); }),
              "a.ndims==2 | Matrix multiply requires that first operand is a matrix");
    EXPECT_EQ(failure([&] { RealMatrixProduct(a, v); }),
              "b.ndims==2 | Matrix multiply requires that second operand is a matrix");
    EXPECT_EQ(failure([&] { RealMatrixProduct(a, a); }),
              "a.dims[1]==b.dims[0] | Matrix multiply requires that inner dimensions of operands match");
    EXPECT_EQ(failure([&] { RealMatrixProductInto(v, a, b); }), "res.ndims==2 | Matrix multiply gives a matrix as result");
    EXPECT_EQ(failure([&] { RealMatrixProductInto(RealMatrixAlloc(3, 2), a, b); }),
              "res.dims[0]==a.dims[0] | Matrix multiply requires that first dimension of result and first argument "
              "match");
    EXPECT_EQ(failure([&] { RealMatrixVectorProduct(v, v); }),
              "a.ndims==2 | Matrix times vector requires a matrix as first operand");
    EXPECT_EQ(failure([&] { RealMatrixVectorProduct(a, v); }),
              "a.dims[1]==b.dims[0] | Matrix times vector: requires size(M,2)==size(v,1)");
    EXPECT_EQ(failure([&] { RealVectorMatrixProduct(a, a); }),
              "a.ndims==1 | Vector times matrix requires a vector as first operand");
    EXPECT_EQ(failure([&] { RealVectorMatrixProduct(realVector({1, 2, 3}), a); }),
              "a.dims[0]==b.dims[0] | Vector times matrix: requires size(v,1)=size(M,1)");
    EXPECT_EQ(failure([&] { RealScalarProduct(v, realVector({1})); }),
              "a.dims[0]==b.dims[0] | Scalar product requires vectors of matching size");
    EXPECT_EQ(failure([&] { RealOuterProduct(a, v); }), "a.ndims==1 | Outerproduct require a vector as first argument");
}

TEST_F(RealOps, MatrixPower) {
    RealArray a = realMatrix(2, 2, {1, 1, 0, 1});
    RealArray same = RealMatrixPower(a, 1);
    EXPECT_EQ(same.data, a.data);
    EXPECT_EQ(same.dims, a.dims);
    EXPECT_EQ(elementsOf(RealMatrixPower(a, 0)), V({1, 0, 0, 1}));
    EXPECT_EQ(elementsOf(RealMatrixPower(a, 5)), V({1, 5, 0, 1}));
    RealArray m = realMatrix(2, 2, {1, 2, 3, 4});
    EXPECT_EQ(elementsOf(RealMatrixPower(m, 3)), elementsOf(RealMatrixProduct(RealMatrixProduct(m, m), m)));
    EXPECT_EQ(failure([&] { RealMatrixPower(a, -1); }), "n>=0 | Matrices can only be raised to positive integer");
    EXPECT_EQ(failure([&] { RealMatrixPower(realVector({1}), 2); }),
              "a.ndims==2 | Matrix raised to a positive integer requires a matrix as first operand");
    EXPECT_EQ(failure([&] { RealMatrixPower(RealMatrixAlloc(2, 3), 2); }),
              "a.dims[0]==a.dims[1] | Matrix raised to a positive integer requires a square matrix as first operand");
}

TEST_F(RealOps, Inverse) {
    EXPECT_EQ(elementsOf(RealInverse(realMatrix(2, 2, {2, 0, 0, 4}))), V({0.5, 0, 0, 0.25}));
    RealArray inv = RealInverse(realMatrix(2, 2, {1, 2, 3, 4}));
    const V expected = {-2, 1, 1.5, -0.5};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(inv.data[i], expected[i], 1e-12) << i;
    RealArray m = realMatrix(3, 3, {4, -2, 1, 3, 6, -4, 2, 1, 8});
    RealArray identity = RealMatrixProduct(m, RealInverse(m));
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(identity.data[i], i % 4 == 0 ? 1 : 0, 1e-12) << i;
    EXPECT_EQ(RealNrElements(RealInverse(RealMatrixAlloc(0, 0))), 0);

    ThreadContext* c = getThreadContext();
    double* before = c->currentMark.place.Realbuffer;
    RealArray zero = RealInverse(realMatrix(1, 1, {0}));
    EXPECT_EQ(zero.data[0], 0) << "a singular scalar has the inverse 0";
    EXPECT_EQ(c->currentMark.place.Realbuffer, before + 2) << "only the operand and the result stay allocated";

    EXPECT_EQ(failure([] { RealInverse(realMatrix(2, 2, {1, 2, 2, 4})); }), "IError==0 | Inverse failed");
    EXPECT_EQ(failure([] { RealInverse(realVector({1})); }), "A.ndims==2 | Can only invert matrices");
    EXPECT_EQ(failure([] { RealInverse(RealMatrixAlloc(2, 3)); }), "A.dims[0]==A.dims[1] | Can only invert square matrices");
}

TEST_F(RealOps, ElementwiseArithmetic) {
    RealArray a = realVector({1, 2, 3});
    RealArray b = realVector({4, 5, 6});
    EXPECT_EQ(elementsOf(RealAdd(a, b)), V({5, 7, 9}));
    EXPECT_EQ(elementsOf(RealSubtract(a, b)), V({-3, -3, -3}));
    EXPECT_EQ(elementsOf(RealScale(a, 2)), V({2, 4, 6}));
    EXPECT_EQ(elementsOf(RealNegate(a)), V({-1, -2, -3}));
    EXPECT_EQ(elementsOf(RealScaleDiv(a, 4)), V({0.25, 0.5, 0.75}));
    RealArray res = RealAddInto(a, a, b);
    EXPECT_EQ(res.data, a.data);
    EXPECT_EQ(failure([&] { RealScaleDiv(a, 0); }), "t!=0 | Division by zero in function RealScaleDiv");
    EXPECT_EQ(failure([&] { RealAdd(a, realVector({1})); }),
              "RealMatchingSizes(a,b) | Add of arrays require arguments of matching size");
    EXPECT_EQ(failure([&] { RealSubtractInto(realVector({1}), a, b); }),
              "RealMatchingSizes(res,a) | Subtract of arrays require result of matching size");
    EXPECT_EQ(failure([&] { RealScaleInto(realVector({1}), a, 2); }),
              "RealMatchingSizes(res,a) | Array times scalar require result of matching size");
    EXPECT_EQ(failure([&] { RealNegateInto(realVector({1}), a); }),
              "RealMatchingSizes(res,a) | Negating a matrix require result of matching size");
}

TEST_F(RealOps, ElementAccessAndReshaping) {
    RealArray v = realVector({1, 2, 3});
    EXPECT_EQ(RealGetElement(v, 3), 3);
    EXPECT_EQ(failure([&] { RealGetElement(v, 0); }), "(j >= 1) && (j <= a.dims[0]) | Index out of bounds");
    RealArray m = realMatrix(2, 2, {1, 2, 3, 4});
    EXPECT_EQ(failure([&] { RealGetElement(m, 3, 1); }), "(j>=1)&&(j<=dim) | Index out of bounds");
    RealSetElement(9.5, m, 2, 1);
    EXPECT_EQ(*RealElementAddr(m, 2, 1), 9.5);

    EXPECT_EQ(dimsOf(RealMatrix(RealConstruct(0))), D({1, 1})) << "a zero-dimensional array is a 1x1 matrix";

    RealArray cube = RealConstruct(3, 2, 3, 2);
    for (int i = 0; i < 12; ++i) cube.data[i] = i;
    RealArray t = RealTranspose(cube);
    EXPECT_EQ(dimsOf(t), D({3, 2, 2}));
    EXPECT_EQ(RealGetElement(t, 3, 2, 2), RealGetElement(cube, 2, 3, 2));
    EXPECT_EQ(RealGetElement(t, 1, 2, 1), RealGetElement(cube, 2, 1, 1));

    RealArray promoted = RealPromote(v, 3);
    EXPECT_EQ(dimsOf(promoted), D({3, 1, 1}));
    EXPECT_EQ(promoted.data, v.data);
    EXPECT_EQ(dimsOf(RealPromoteScalar(2.5, 2)), D({1, 1}));
    RealArray like = RealConstructDimsLike(realVector({1, 2}), 2, 2, 1);
    EXPECT_EQ(dimsOf(like), D({2, 1, 2}));
    EXPECT_EQ(elementsOf(like), V({1, 2, 1, 2}));
    EXPECT_EQ(elementsOf(RealFillDims(1.5, 2, 1, 2)), V({1.5, 1.5}));
}

TEST_F(RealOps, ConstructorsAndConcatenation) {
    RealArray a = realMatrix(2, 2, {1, 2, 3, 4});
    RealArray b = realMatrix(1, 2, {5, 6});
    RealArray c = realMatrix(2, 1, {7, 8});
    RealArray rows = RealCat(1, 2, &a, &b);
    EXPECT_EQ(dimsOf(rows), D({3, 2}));
    EXPECT_EQ(elementsOf(rows), V({1, 2, 3, 4, 5, 6}));
    RealArray cols = RealCat(2, 3, &a, &c, &a);
    EXPECT_EQ(dimsOf(cols), D({2, 5}));
    EXPECT_EQ(elementsOf(cols), V({1, 2, 7, 1, 2, 3, 4, 8, 3, 4}));
    EXPECT_EQ(failure([&] { RealCat(3, 1, &a); }), "(k>=1)&&(k<=first.ndims) | cat dimension out of range");

    RealArray x = realVector({1, 2});
    RealArray y = realVector({3, 4});
    RealArray both = RealArrayOfArrays(2, &x, &y);
    EXPECT_EQ(dimsOf(both), D({2, 2}));
    EXPECT_EQ(elementsOf(both), V({1, 2, 3, 4}));
    EXPECT_EQ(elementsOf(RealVectorOfElements(3, 1.5, -2.0, 3.25)), V({1.5, -2, 3.25}));

    EXPECT_EQ(elementsOf(RealDiagonal(realVector({1, 2}))), V({1, 0, 0, 2}));
    EXPECT_EQ(elementsOf(RealIdentity(2)), V({1, 0, 0, 1}));
    EXPECT_EQ(elementsOf(RealCross(realVector({1, 0, 0}), realVector({0, 1, 0}))), V({0, 0, 1}));
    EXPECT_EQ(elementsOf(RealSkew(realVector({1, 2, 3}))), V({0, -3, 2, 3, 0, -1, -2, 1, 0}));
    EXPECT_EQ(failure([&] { RealCross(x, realVector({1, 2, 3})); }),
              "x.dims[0]==3 | cross requires 3-vector input for first argument");
    EXPECT_EQ(failure([&] { RealSkew(a); }), "x.ndims==1 | skew requires vector input");
    EXPECT_EQ(failure([&] { RealDiagonal(a); }), "a.ndims==1 | diagonal requires vector input");
}

struct Record {
    double x;
    RealArray field;
};
static_assert(sizeof(Record) == 4 * sizeof(double), "a record of four 8-byte words");

TEST_F(RealOps, RecordFieldsAndSlices) {
    Record records[2] = {{1.5, realVector({1, 2})}, {2.5, realVector({3, 4})}};
    RealArray a = RealWrapData(reinterpret_cast<double*>(records), 2, 2, 4);
    RealArray xs = RealRecordField(a, offsetof(Record, x));
    EXPECT_EQ(dimsOf(xs), D({2}));
    EXPECT_EQ(elementsOf(xs), V({1.5, 2.5}));
    RealArray fields = RealRecordSlice(a, offsetof(Record, field));
    EXPECT_EQ(dimsOf(fields), D({2, 2}));
    EXPECT_EQ(elementsOf(fields), V({1, 2, 3, 4}));

    records[1].field = realVector({3});
    EXPECT_EQ(failure([&] { RealRecordSlice(a, offsetof(Record, field)); }),
              "RealMatchingSizes(elemi,elem) | Can only slice homogenous record arrays");
    EXPECT_EQ(failure([&] { RealRecordSlice(RealConstruct(2, 0, 4), 8); }),
              "RealNrElements(a)>0 | Can only make record slices of non-empty arrays");
}

TEST_F(RealOps, PrintLogsDimsAndElements) {
    RealPrint(realVector({1.5, -2}));
    EXPECT_EQ(logLines(), std::vector<std::string>({"Dims:  1", "  2", "  [1, 1] = 1.5", "  [2, 1] = -2"}));
}

TEST_F(RealOps, ConversionsToAndFromInteger) {
    RealArray r = realVector({1.5, -1.5, 2, NAN, 3e9});
    IntegerArray i = IntegerFromReal(r);
    EXPECT_EQ(i.dims, r.dims);
    EXPECT_EQ(elementsOf(i), std::vector<int32_t>({1, -2, 2, INT32_MIN, INT32_MIN}));
    RealArray back = RealFromInteger(integerVector({INT32_MIN, 7}));
    EXPECT_EQ(elementsOf(back), V({-2147483648.0, 7}));
    EXPECT_EQ(RealFloorToInteger(-0.5), -1);
    EXPECT_EQ(RealFloorToInteger(2147483647.9), INT32_MAX);
    EXPECT_EQ(RealFloorToInteger(-2147483648.5), INT32_MIN);
}

} // namespace

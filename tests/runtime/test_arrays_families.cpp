// The operations the three families share, with the same checks in the same
// order (typed over Real, Integer and String), and what is particular to the
// Integer family (wrapping arithmetic, ranges, Booleans) and to the String
// family (pointers only, printing texts).
#include <stddef.h>

#include <functional>

#include "test_arrays_support.h"

namespace {

const char* const kTexts[] = {"t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8", "t9", "t10", "t11"};

template <typename A>
struct Family;

template <>
struct Family<RealArray> {
    using T = double;
    static constexpr const char* kName = "Real";
    static T value(int i) { return i + 0.5; }
    static RealArray vector(int n) { return RealVectorAlloc(n); }
    static RealArray matrix(int n, int m) { return RealMatrixAlloc(n, m); }
    static RealArray cube(int a, int b, int c) { return RealConstruct(3, a, b, c); }
    static void assign(RealArray a, RealArray b) { RealAssign(a, b); }
    static T get(RealArray a, int i) { return RealGetElement(a, i); }
    static T get(RealArray a, int i, int j) { return RealGetElement(a, i, j); }
    static int size(RealArray a, int i) { return RealSize(a, i); }
    static IntegerArray sizes(RealArray a) { return RealSizes(a); }
    static T scalar(RealArray a) { return RealScalar(a); }
    static RealArray asVector(RealArray a) { return RealVector(a); }
    static RealArray asMatrix(RealArray a) { return RealMatrix(a); }
    static RealArray transpose(RealArray a) { return RealTranspose(a); }
    static RealArray symmetric(RealArray a) { return RealSymmetric(a); }
    static RealArray cat(int k, RealArray a, RealArray b) { return RealCat(k, 2, &a, &b); }
    static RealArray promote(RealArray a, int n) { return RealPromote(a, n); }
    static RealArray arrayOf(RealArray a, RealArray b) { return RealArrayOfArrays(2, &a, &b); }
    static RealArray recordSlice(RealArray records, int offset) { return RealRecordSlice(records, offset); }
    static RealArray row(RealArray a, int i) { return RealSubscript(a, IndexScalar, i, IndexEnd); }
    template <typename... Subscripts>
    static RealArray subscript(RealArray a, Subscripts... list) {
        return RealSubscript(a, list...);
    }
    static void assignRows(RealArray value, RealArray out, IntegerArray* rows) {
        RealSubscriptAssign(value, out, IndexVector, rows, IndexColon, IndexEnd);
    }
    static RealArray copy(RealArray a) { return RealCopy(a); }
    static RealArray fill(RealArray a, T x) { return RealFill(a, x); }
    static RealArray fillDims(T x, int n, int m) { return RealFillDims(x, 2, n, m); }
    static RealArray dimsLike(RealArray a, int n) { return RealConstructDimsLike(a, 1, n); }
    static RealArray columnMajor(RealArray a) { return RealToColumnMajor(a); }
};

template <>
struct Family<IntegerArray> {
    using T = int32_t;
    static constexpr const char* kName = "Integer";
    static T value(int i) { return 10 * i + 1; }
    static IntegerArray vector(int n) { return IntegerVectorAlloc(n); }
    static IntegerArray matrix(int n, int m) { return IntegerMatrixAlloc(n, m); }
    static IntegerArray cube(int a, int b, int c) { return IntegerConstruct(3, a, b, c); }
    static void assign(IntegerArray a, IntegerArray b) { IntegerAssign(a, b); }
    static T get(IntegerArray a, int i) { return IntegerGetElement(a, i); }
    static T get(IntegerArray a, int i, int j) { return IntegerGetElement(a, i, j); }
    static int size(IntegerArray a, int i) { return IntegerSize(a, i); }
    static IntegerArray sizes(IntegerArray a) { return IntegerSizes(a); }
    static T scalar(IntegerArray a) { return IntegerScalar(a); }
    static IntegerArray asVector(IntegerArray a) { return IntegerVector(a); }
    static IntegerArray asMatrix(IntegerArray a) { return IntegerMatrix(a); }
    static IntegerArray transpose(IntegerArray a) { return IntegerTranspose(a); }
    static IntegerArray symmetric(IntegerArray a) { return IntegerSymmetric(a); }
    static IntegerArray cat(int k, IntegerArray a, IntegerArray b) { return IntegerCat(k, 2, &a, &b); }
    static IntegerArray promote(IntegerArray a, int n) { return IntegerPromote(a, n); }
    static IntegerArray arrayOf(IntegerArray a, IntegerArray b) { return IntegerArrayOfArrays(2, &a, &b); }
    static IntegerArray recordSlice(RealArray records, int offset) { return IntegerRecordSlice(records, offset); }
    static IntegerArray row(IntegerArray a, int i) { return IntegerSubscript(a, IndexScalar, i, IndexEnd); }
    template <typename... Subscripts>
    static IntegerArray subscript(IntegerArray a, Subscripts... list) {
        return IntegerSubscript(a, list...);
    }
    static void assignRows(IntegerArray value, IntegerArray out, IntegerArray* rows) {
        IntegerSubscriptAssign(value, out, IndexVector, rows, IndexColon, IndexEnd);
    }
    static IntegerArray copy(IntegerArray a) { return IntegerCopy(a); }
    static IntegerArray fill(IntegerArray a, T x) { return IntegerFill(a, x); }
    static IntegerArray fillDims(T x, int n, int m) { return IntegerFillDims(x, 2, n, m); }
    static IntegerArray dimsLike(IntegerArray a, int n) { return IntegerConstructDimsLike(a, 1, n); }
    static IntegerArray columnMajor(IntegerArray a) { return IntegerToColumnMajor(a); }
};

template <>
struct Family<StringArray> {
    using T = const char*;
    static constexpr const char* kName = "String";
    static T value(int i) { return kTexts[i % 12]; }
    static StringArray vector(int n) { return StringVectorAlloc(n); }
    static StringArray matrix(int n, int m) { return StringMatrixAlloc(n, m); }
    static StringArray cube(int a, int b, int c) { return StringConstruct(3, a, b, c); }
    static void assign(StringArray a, StringArray b) { StringAssign(a, b); }
    static T get(StringArray a, int i) { return StringGetElement(a, i); }
    static T get(StringArray a, int i, int j) { return StringGetElement(a, i, j); }
    static int size(StringArray a, int i) { return StringSize(a, i); }
    static IntegerArray sizes(StringArray a) { return StringSizes(a); }
    static T scalar(StringArray a) { return StringScalar(a); }
    static StringArray asVector(StringArray a) { return StringVector(a); }
    static StringArray asMatrix(StringArray a) { return StringMatrix(a); }
    static StringArray transpose(StringArray a) { return StringTranspose(a); }
    static StringArray symmetric(StringArray a) { return StringSymmetric(a); }
    static StringArray cat(int k, StringArray a, StringArray b) { return StringCat(k, 2, &a, &b); }
    static StringArray promote(StringArray a, int n) { return StringPromote(a, n); }
    static StringArray arrayOf(StringArray a, StringArray b) { return StringArrayOfArrays(2, &a, &b); }
    static StringArray recordSlice(RealArray records, int offset) { return StringRecordSlice(records, offset); }
    static StringArray row(StringArray a, int i) { return StringSubscript(a, IndexScalar, i, IndexEnd); }
    template <typename... Subscripts>
    static StringArray subscript(StringArray a, Subscripts... list) {
        return StringSubscript(a, list...);
    }
    static void assignRows(StringArray value, StringArray out, IntegerArray* rows) {
        StringSubscriptAssign(value, out, IndexVector, rows, IndexColon, IndexEnd);
    }
    static StringArray copy(StringArray a) { return StringCopy(a); }
    static StringArray fill(StringArray a, T x) { return StringFill(a, x); }
    static StringArray fillDims(T x, int n, int m) { return StringFillDims(x, 2, n, m); }
    static StringArray dimsLike(StringArray a, int n) { return StringConstructDimsLike(a, 1, n); }
    static StringArray columnMajor(StringArray a) { return StringToColumnMajor(a); }
};

template <typename A>
class FamilyTest : public ArrayTest {
protected:
    using F = Family<A>;
    using T = typename F::T;
    // The family's own name in a check text: "%sMatchingSizes(a,b)".
    static std::string text(const std::string& pattern) {
        std::string s = pattern;
        for (size_t at; (at = s.find("%s")) != std::string::npos;) s.replace(at, 2, F::kName);
        return s;
    }
    static A numbered(A a) {
        int n = 1;
        for (int i = 0; i < a.ndims; ++i) n *= a.dims[i];
        for (int i = 0; i < n; ++i) a.data[i] = F::value(i);
        return a;
    }
    static std::vector<T> values(std::initializer_list<int> numbers) {
        std::vector<T> v;
        for (int i : numbers) v.push_back(F::value(i));
        return v;
    }
};

using Families = ::testing::Types<RealArray, IntegerArray, StringArray>;
TYPED_TEST_SUITE(FamilyTest, Families);

TYPED_TEST(FamilyTest, AssignCopiesElementsOfMatchingArrays) {
    using F = typename TestFixture::F;
    TypeParam a = this->numbered(F::vector(3));
    TypeParam b = F::vector(3);
    F::assign(b, a);
    EXPECT_EQ(elementsOf(b), elementsOf(a));
    EXPECT_EQ(this->failure([&] { F::assign(F::vector(2), a); }),
              this->text("%sMatchingSizes(a,b) | Array dimensions did not match"));
}

TYPED_TEST(FamilyTest, ElementAndSizeChecks) {
    using F = typename TestFixture::F;
    TypeParam v = this->numbered(F::vector(2));
    EXPECT_EQ(F::get(v, 2), F::value(1));
    // Only Real vectors are indexed directly, with a check text of their own.
    const char* vectorCheck = std::string(F::kName) == "Real" ? "(j >= 1) && (j <= a.dims[0]) | Index out of bounds"
                                                              : "(j>=1)&&(j<=dim) | Index out of bounds";
    EXPECT_EQ(this->failure([&] { F::get(v, 3); }), vectorCheck);
    TypeParam m = this->numbered(F::matrix(2, 3));
    EXPECT_EQ(F::get(m, 2, 1), F::value(3));
    EXPECT_EQ(this->failure([&] { F::get(m, 3, 1); }), "(j>=1)&&(j<=dim) | Index out of bounds");
    EXPECT_EQ(F::size(m, 2), 3);
    EXPECT_EQ(elementsOf(F::sizes(m)), std::vector<int32_t>({2, 3}));
    EXPECT_EQ(this->failure([&] { F::size(m, 0); }),
              "(i>=1)&&(i<=a.ndims) | Size must be between 1 and ndims of array");
}

TYPED_TEST(FamilyTest, ScalarVectorAndMatrix) {
    using F = typename TestFixture::F;
    EXPECT_EQ(this->failure([&] { F::scalar(F::vector(0)); }),
              this->text("%sNrElements(a)==1 | scalar requires exactly one element"));
    EXPECT_EQ(F::scalar(this->numbered(F::cube(1, 1, 1))), F::value(0));
    EXPECT_EQ(this->failure([&] { F::asVector(F::matrix(2, 3)); }),
              "!found_non_one | vector requires exactly one vector non-unit dimension");
    TypeParam column = this->numbered(F::cube(1, 3, 1));
    TypeParam v = F::asVector(column);
    EXPECT_EQ(dimsOf(v), std::vector<int>({3}));
    EXPECT_EQ(v.data, column.data);
    TypeParam m = F::asMatrix(v);
    EXPECT_EQ(dimsOf(m), std::vector<int>({3, 1}));
    EXPECT_EQ(m.data, v.data);
    EXPECT_EQ(this->failure([&] { F::asMatrix(F::cube(2, 2, 2)); }),
              this->text("%sNrElements(a)==%sNrElements(res) | matrix requires size(x,i)=1 for i>2"));
}

TYPED_TEST(FamilyTest, TransposeAndSymmetric) {
    using F = typename TestFixture::F;
    EXPECT_EQ(this->failure([&] { F::transpose(F::vector(2)); }), "a.ndims>=2 | transpose requires ndims>=2");
    TypeParam t = F::transpose(this->numbered(F::matrix(2, 3)));
    EXPECT_EQ(dimsOf(t), std::vector<int>({3, 2}));
    EXPECT_EQ(elementsOf(t), this->values({0, 3, 1, 4, 2, 5}));
    EXPECT_EQ(this->failure([&] { F::symmetric(F::vector(4)); }), "a.ndims==2 | symmetric requires ndims==2");
    EXPECT_EQ(this->failure([&] { F::symmetric(F::matrix(2, 3)); }),
              "a.dims[0]==a.dims[1] | symmetric requires square matrix");
    // {{p, q}, {r, s}} gives {{p, q}, {q, s}}.
    EXPECT_EQ(elementsOf(F::symmetric(this->numbered(F::matrix(2, 2)))), this->values({0, 1, 1, 3}));
}

TYPED_TEST(FamilyTest, ConstructorsConcatenationAndPromotion) {
    using F = typename TestFixture::F;
    TypeParam a = this->numbered(F::matrix(2, 2));
    TypeParam b = this->numbered(F::matrix(2, 1));
    TypeParam joined = F::cat(2, a, b);
    EXPECT_EQ(dimsOf(joined), std::vector<int>({2, 3}));
    EXPECT_EQ(elementsOf(joined), this->values({0, 1, 0, 2, 3, 1}));
    EXPECT_EQ(this->failure([&] { F::cat(1, a, F::vector(2)); }),
              "a.ndims==first.ndims | Number of dimensions must match for cat");
    EXPECT_EQ(this->failure([&] { F::cat(1, a, b); }), "first.dims[j]==a.dims[j] | Sizes must match for cat");

    TypeParam pair = F::arrayOf(a, a);
    EXPECT_EQ(dimsOf(pair), std::vector<int>({2, 2, 2}));
    EXPECT_EQ(this->failure([&] { F::arrayOf(a, b); }),
              this->text("%sMatchingSizes(first,next) | Arrays in array must be of equal sizes"));
    EXPECT_EQ(dimsOf(F::promote(b, 4)), std::vector<int>({2, 1, 1, 1}));
    EXPECT_EQ(this->failure([&] { F::promote(a, 1); }), "n>=a.ndims | Promote cannot decrease number of dimensions");
    EXPECT_EQ(this->failure([&] { F::recordSlice(RealConstruct(2, 0, 4), 8); }),
              "RealNrElements(a)>0 | Can only make record slices of non-empty arrays");
}

TYPED_TEST(FamilyTest, SubscriptingWithTheSameChecks) {
    using F = typename TestFixture::F;
    TypeParam m = this->numbered(F::matrix(3, 2));
    EXPECT_EQ(elementsOf(F::row(m, 2)), this->values({2, 3}));
    EXPECT_EQ(this->failure([&] { F::row(m, 4); }),
              "(i>=1)&&(i<=a.dims[a_dim]) | Array subscripting: scalar index out of range");
    IntegerArray rows = integerVector({3, 1});
    F::assignRows(F::fillDims(F::value(7), 2, 2), m, &rows);
    EXPECT_EQ(elementsOf(m), this->values({7, 7, 2, 3, 7, 7}));
    EXPECT_EQ(this->failure([&] { F::assignRows(F::matrix(3, 2), m, &rows); }),
              "a.dims[a_dim]==v.dims[0] | Assignment array subscripting: A[vect]=B must have identical sizes");
}

TYPED_TEST(FamilyTest, TooManySubscriptsAreReportedBeforeTheListCapacity) {
    using F = typename TestFixture::F;
#define C8 IndexColon, IndexColon, IndexColon, IndexColon, IndexColon, IndexColon, IndexColon, IndexColon
    TypeParam m = F::matrix(2, 2);
    const std::function<void()> lists[] = {
        [&] { F::subscript(m, IndexColon, IndexColon, IndexColon, IndexEnd); },
        [&] { F::subscript(m, C8, C8, C8, C8, C8, C8, C8, C8, C8, C8, C8, C8, IndexEnd); }, // 96 subscripts
    };
#undef C8
    for (const auto& list : lists)
        EXPECT_EQ(this->failure(list), "nargs<=a.ndims | Too many subscripts for array");
}

TYPED_TEST(FamilyTest, CopiesFillsAndColumnMajor) {
    using F = typename TestFixture::F;
    TypeParam a = this->numbered(F::matrix(2, 3));
    TypeParam c = F::copy(a);
    EXPECT_NE(c.data, a.data);
    EXPECT_NE(c.dims, a.dims);
    EXPECT_EQ(elementsOf(c), elementsOf(a));
    TypeParam filled = F::fill(c, F::value(5));
    EXPECT_EQ(filled.data, c.data);
    EXPECT_EQ(elementsOf(c), this->values({5, 5, 5, 5, 5, 5}));
    TypeParam sixCopies = F::fillDims(F::value(4), 2, 3);
    EXPECT_EQ(dimsOf(sixCopies), std::vector<int>({2, 3}));
    EXPECT_EQ(elementsOf(sixCopies), this->values({4, 4, 4, 4, 4, 4}));
    TypeParam twice = F::dimsLike(this->numbered(F::vector(2)), 2);
    EXPECT_EQ(dimsOf(twice), std::vector<int>({2, 2}));
    EXPECT_EQ(elementsOf(twice), this->values({0, 1, 0, 1}));
    EXPECT_EQ(elementsOf(F::columnMajor(a)), this->values({0, 3, 1, 4, 2, 5}));
}

// ---- Integer family ----

using IntegerOps = ArrayTest;
using I = std::vector<int32_t>;

TEST_F(IntegerOps, ArithmeticWrapsInThirtyTwoBits) {
    EXPECT_EQ(IntegerSum(integerVector({INT32_MAX, 1})), INT32_MIN);
    EXPECT_EQ(IntegerAbsSum(integerVector({-3, 4})), 7);
    EXPECT_EQ(IntegerAbsSum(integerVector({INT32_MIN})), INT32_MIN);
    EXPECT_EQ(IntegerProduct(integerVector({65536, 65536})), 0);
    EXPECT_EQ(elementsOf(IntegerNegate(integerVector({INT32_MIN, 5}))), I({INT32_MIN, -5}));
    EXPECT_EQ(elementsOf(IntegerAdd(integerVector({INT32_MAX}), integerVector({2}))), I({INT32_MIN + 1}));
    EXPECT_EQ(elementsOf(IntegerSubtract(integerVector({INT32_MIN}), integerVector({1}))), I({INT32_MAX}));
    EXPECT_EQ(elementsOf(IntegerScale(integerVector({1 << 30}), 4)), I({0}));
    EXPECT_EQ(IntegerScalarProduct(integerVector({65536, 3}), integerVector({65536, 4})), 12);
    IntegerArray big = integerMatrix(1, 1, {1 << 20});
    EXPECT_EQ(IntegerMatrixProduct(big, big).data[0], 0);

    IntegerArray e = IntegerVectorAlloc(0);
    EXPECT_EQ(IntegerSum(e), 0);
    EXPECT_EQ(IntegerAbsSum(e), 0);
    EXPECT_EQ(IntegerScalarProduct(e, e), 0);
    EXPECT_EQ(IntegerProduct(e), 1);
    EXPECT_EQ(IntegerMax(e), INT32_MIN);
    EXPECT_EQ(IntegerMin(e), INT32_MAX);
    EXPECT_EQ(failure([&] { IntegerAdd(e, integerVector({1})); }),
              "IntegerMatchingSizes(a,b) | Add of arrays require arguments of matching size");
}

TEST_F(IntegerOps, Ranges) {
    EXPECT_EQ(elementsOf(IntegerRange(1, 5, 2)), I({1, 3, 5}));
    EXPECT_EQ(elementsOf(IntegerRange(1, 6, 2)), I({1, 3, 5}));
    EXPECT_EQ(elementsOf(IntegerRange(5, 1, -2)), I({5, 3, 1}));
    EXPECT_EQ(IntegerNrElements(IntegerRange(3, 1, 1)), 0);
    EXPECT_EQ(IntegerNrElements(IntegerRange(0, -1, 2)), 0);
    EXPECT_EQ(elementsOf(IntegerRange(1, 1, 7)), I({1}));
    EXPECT_EQ(failure([] { IntegerRange(1, 5, 0); }), "stride!=0 | range requires non-zero stride");
    // The difference is taken in 32 bits: it wraps, without undefined behaviour.
    EXPECT_EQ(IntegerNrElements(IntegerRange(INT32_MIN, INT32_MAX, 1)), 0);
    EXPECT_EQ(failure([] { IntegerRange(0, INT32_MAX, 1); }),
              "count<=2147483647 | range requires a finite number of elements");
}

TEST_F(IntegerOps, BooleanOperations) {
    EXPECT_EQ(elementsOf(IntegerNot(integerVector({0, 1, 5, -1}))), I({1, 0, 0, 0}));
    EXPECT_EQ(elementsOf(IntegerAnd(integerVector({1, 2, 0}), integerVector({3, 0, 0}))), I({1, 0, 0}));
    EXPECT_EQ(elementsOf(IntegerOr(integerVector({0, 2, 0}), integerVector({0, 0, -1}))), I({0, 1, 1}));
    EXPECT_EQ(failure([] { IntegerAnd(integerVector({1, 2}), integerVector({1, 2, 3})); }),
              "IntegerMatchingSizes(a,b) | and of arrays require arguments of matching size");
    EXPECT_EQ(failure([] { IntegerOr(integerVector({1, 2}), integerVector({1, 2, 3})); }),
              "IntegerMatchingSizes(a,b) | or of arrays require arguments of matching size");
}

TEST_F(IntegerOps, AlgebraAndPower) {
    IntegerArray a = integerMatrix(2, 2, {1, 1, 0, 1});
    EXPECT_EQ(IntegerMatrixPower(a, 1).data, a.data);
    EXPECT_EQ(elementsOf(IntegerMatrixPower(a, 0)), I({1, 0, 0, 1}));
    EXPECT_EQ(elementsOf(IntegerMatrixPower(a, 5)), I({1, 5, 0, 1}));
    EXPECT_EQ(failure([&] { IntegerMatrixPower(a, -1); }), "n>=0 | Matrices can only be raised to positive integer");
    EXPECT_EQ(elementsOf(IntegerCross(integerVector({1, 0, 0}), integerVector({0, 1, 0}))), I({0, 0, 1}));
    EXPECT_EQ(elementsOf(IntegerSkew(integerVector({1, 2, 3}))), I({0, -3, 2, 3, 0, -1, -2, 1, 0}));
    EXPECT_EQ(failure([] { IntegerSkew(integerVector({1, 2})); }), "x.dims[0]==3 | skew requires 3-vector input");
    EXPECT_EQ(elementsOf(IntegerOuterProduct(integerVector({1, 2}), integerVector({3}))), I({3, 6}));
    EXPECT_EQ(elementsOf(IntegerDiagonal(integerVector({4, 5}))), I({4, 0, 0, 5}));
    EXPECT_EQ(elementsOf(IntegerVectorOfElements(3, 7, -8, 9)), I({7, -8, 9}));
    EXPECT_EQ(IntegerMax(integerVector({-3, 4})), 4);
    EXPECT_EQ(IntegerMin(integerVector({-3, 4})), -3);
}

TEST_F(IntegerOps, PrintShowsLargeValuesInExponentForm) {
    IntegerPrint(integerVector({7, 1000000}));
    EXPECT_EQ(logLines(), std::vector<std::string>({"Dims:  1", "  2", "  [1, 1] = 7", "  [2, 1] = 1E+06"}));
}

TEST_F(IntegerOps, RecordFields) {
    struct Record {
        int32_t flag;
        double x;
        IntegerArray field;
    };
    static_assert(sizeof(Record) == 5 * sizeof(double), "a record of five 8-byte words");
    Record records[2] = {{3, 0, integerVector({1, 2})}, {4, 0, integerVector({5, 6})}};
    RealArray a = RealWrapData(reinterpret_cast<double*>(records), 2, 2, 5);
    EXPECT_EQ(elementsOf(IntegerRecordField(a, offsetof(Record, flag))), I({3, 4}));
    EXPECT_EQ(elementsOf(IntegerRecordSlice(a, offsetof(Record, field))), I({1, 2, 5, 6}));
}

// ---- String family ----

using StringOps = ArrayTest;
using P = std::vector<const char*>;

TEST_F(StringOps, OperationsMovePointersNotTexts) {
    const char* p = "p";
    const char* q = "q";
    StringArray a = StringVectorOfElements(2, p, q);
    EXPECT_EQ(elementsOf(a), P({p, q}));
    StringArray b = StringVectorAlloc(2);
    StringAssign(b, a);
    EXPECT_EQ(elementsOf(b), P({p, q}));
    EXPECT_EQ(elementsOf(StringCopy(a)), P({p, q}));
    StringArray m = StringMatrix(a);
    EXPECT_EQ(dimsOf(m), std::vector<int>({2, 1}));
    EXPECT_EQ(elementsOf(StringTranspose(m)), P({p, q}));
    EXPECT_EQ(elementsOf(StringFillDims(p, 2, 2, 3)), P({p, p, p, p, p, p}));
    EXPECT_EQ(elementsOf(StringPromoteScalar(q, 2)), P({q}));
    EXPECT_EQ(failure([&] { StringAssign(b, StringVectorAlloc(3)); }),
              "StringMatchingSizes(a,b) | Array dimensions did not match");
}

TEST_F(StringOps, PrintLogsTheTextsThemselves) {
    StringPrint(StringVectorOfElements(2, "x", "yz"));
    EXPECT_EQ(logLines(), std::vector<std::string>({"Dims:  1", "  2", "x", "yz"}));
}

} // namespace

// Arrays of Reals, Integers (also Booleans) and Strings for generated model
// code and generated Modelica functions: the by-value records, indexing and
// subscripting, the operations of the three families, the persistent pool and
// the simple strings with the String conversions.
//
// Records are plain C structs passed by value. Copying a record copies its
// three fields only, so records may share `dims` and `data`. Nobody frees an
// array: storage comes from the per-thread buffers (released with the marks)
// or from the persistent pool (never released). Elements are row-major,
// subscripts 1-based. Every check is a RuntimeAssert: a failed check unwinds
// the evaluation, so no operation returns an error code.
//
// Variadic lists carry every value in an 8-byte slot: ints (sizes, subscripts,
// subscript kind codes, Integer elements) are read as int, Reals as double,
// Strings as pointers, and arrays as pointers to their records.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RealArray {
    int32_t ndims;
    int32_t* dims;
    double* data;
} RealArray;

typedef struct IntegerArray {
    int32_t ndims;
    int32_t* dims;
    int32_t* data;
} IntegerArray;

typedef struct StringArray {
    int32_t ndims;
    int32_t* dims;
    const char** data;
} StringArray;

// Codes of a subscript list; each code is followed by its values.
enum IndexSpecKind {
    IndexColon = 0,     // ':'            no values
    IndexRange = 1,     // start:stop     start, stop
    IndexStepRange = 2, // start:step:stop start, step, stop
    IndexVector = 3,    // index vector   pointer to an IntegerArray
    IndexScalar = 4,    // scalar index   index (the dimension is dropped)
    IndexEnd = 5        // end of the list
};

// One subscript after reading.
typedef struct IndexSpec {
    int32_t kind;
    int32_t start;
    int32_t step;
    int32_t stop;
    IntegerArray vector;
    int32_t index;
} IndexSpec;

// Capacity of the subscript records of one subscripting call.
enum { num_VA_handler = 100 };

// ---- Records and indexing ----
int ArrayIndex(int ndims, const int32_t* dims, ...);
int DimsProduct(int n, const int32_t* dims);
int RealNrElements(RealArray a);
int IntegerNrElements(IntegerArray a);
int StringNrElements(StringArray a);
int RealMatchingSizes(RealArray a, RealArray b);
int IntegerMatchingSizes(IntegerArray a, IntegerArray b);
int StringMatchingSizes(StringArray a, StringArray b);

void RealDimsVa(RealArray* a, int ndims, va_list sizes);
void IntegerDimsVa(IntegerArray* a, int ndims, va_list sizes);
void StringDimsVa(StringArray* a, int ndims, va_list sizes);
RealArray RealConstructVa(int ndims, va_list sizes);
IntegerArray IntegerConstructVa(int ndims, va_list sizes);
StringArray StringConstructVa(int ndims, va_list sizes);
RealArray RealConstruct(int ndims, ...);
IntegerArray IntegerConstruct(int ndims, ...);
StringArray StringConstruct(int ndims, ...);
RealArray RealConstructLike(RealArray a);
IntegerArray IntegerConstructLike(IntegerArray a);
StringArray StringConstructLike(StringArray a);
RealArray RealMatrixAlloc(int n, int m);
IntegerArray IntegerMatrixAlloc(int n, int m);
StringArray StringMatrixAlloc(int n, int m);
RealArray RealVectorAlloc(int n);
IntegerArray IntegerVectorAlloc(int n);
StringArray StringVectorAlloc(int n);
RealArray RealCopy(RealArray a);
IntegerArray IntegerCopy(IntegerArray a);
StringArray StringCopy(StringArray a);
RealArray RealSubArrayView(int k, int i, RealArray a);
IntegerArray IntegerSubArrayView(int k, int i, IntegerArray a);
StringArray StringSubArrayView(int k, int i, StringArray a);
RealArray RealWrapData(double* data, int ndims, ...);
IntegerArray IntegerWrapData(int32_t* data, int ndims, ...);
StringArray StringWrapData(const char** data, int ndims, ...);
IntegerArray IntegerFromDoubles(const double* data, int ndims, ...);
void RealCopyToBuffer(double* buffer, RealArray a);
RealArray RealToColumnMajor(RealArray a);
IntegerArray IntegerToColumnMajor(IntegerArray a);
StringArray StringToColumnMajor(StringArray a);
RealArray RealReverseDimsCopy(RealArray a);
IntegerArray IntegerReverseDimsCopy(IntegerArray a);
StringArray StringReverseDimsCopy(StringArray a);
void RealStridedCopy(RealArray r, int block, RealArray a, int index, int stride, int depth);
void IntegerStridedCopy(IntegerArray r, int block, IntegerArray a, int index, int stride, int depth);
void StringStridedCopy(StringArray r, int block, StringArray a, int index, int stride, int depth);
IndexSpec* parseIndexSpecs(va_list list, IndexSpec* buffer, int capacity);
void RealSubscriptGet(RealArray res, int resBlock, int resDim, RealArray a, int aBlock, int aDim, int blockLength,
                      const IndexSpec* item);
void IntegerSubscriptGet(IntegerArray res, int resBlock, int resDim, IntegerArray a, int aBlock, int aDim,
                         int blockLength, const IndexSpec* item);
void StringSubscriptGet(StringArray res, int resBlock, int resDim, StringArray a, int aBlock, int aDim,
                        int blockLength, const IndexSpec* item);
void RealSubscriptSet(RealArray out, int outBlock, int outDim, RealArray a, int aBlock, int aDim, int blockLength,
                      const IndexSpec* item);
void IntegerSubscriptSet(IntegerArray out, int outBlock, int outDim, IntegerArray a, int aBlock, int aDim,
                         int blockLength, const IndexSpec* item);
void StringSubscriptSet(StringArray out, int outBlock, int outDim, StringArray a, int aBlock, int aDim,
                        int blockLength, const IndexSpec* item);
int IntegerArrayWhen(IntegerArray cond, IntegerArray eval, IntegerArray armed, int enable, int* fired);
const char* emptyIfNull(const char* text);

// ---- Real arrays ----
void RealAssign(RealArray a, RealArray b);
double* RealElementAddr(RealArray a, ...);
double RealGetElement(RealArray a, ...);
void RealSetElement(double x, RealArray a, ...);
int RealSize(RealArray a, int i);
IntegerArray RealSizes(RealArray a);
void RealPrint(RealArray a);
RealArray RealArrayOfArrays(int n, ...);
RealArray RealVectorOfElements(int n, ...);
RealArray RealRecordField(RealArray a, int offset);
RealArray RealRecordSlice(RealArray a, int offset);
RealArray RealCat(int k, int n, ...);
RealArray RealPromote(RealArray a, int n);
RealArray RealPromoteScalar(double x, int n);
RealArray RealSubscript(RealArray a, ...);
void RealSubscriptAssign(RealArray a, RealArray out, ...);
RealArray RealFill(RealArray a, double x);
RealArray RealFillDims(double x, int ndims, ...);
RealArray RealConstructDimsLike(RealArray a, int n, ...);
double RealScalar(RealArray a);
RealArray RealVector(RealArray a);
RealArray RealMatrix(RealArray a);
RealArray RealTranspose(RealArray a);
RealArray RealOuterProduct(RealArray a, RealArray b);
RealArray RealSymmetric(RealArray a);
RealArray RealAddInto(RealArray res, RealArray a, RealArray b);
RealArray RealAdd(RealArray a, RealArray b);
RealArray RealSubtractInto(RealArray res, RealArray a, RealArray b);
RealArray RealSubtract(RealArray a, RealArray b);
RealArray RealScaleInto(RealArray res, RealArray a, double s);
RealArray RealScale(RealArray a, double s);
RealArray RealNegateInto(RealArray res, RealArray a);
RealArray RealNegate(RealArray a);
RealArray RealScaleDiv(RealArray a, double s);
double RealSum(RealArray a);
double RealAbsSum(RealArray a);
double RealDiff(RealArray a, RealArray b);
double RealMax(RealArray a);
double RealMin(RealArray a);
double RealProduct(RealArray a);
RealArray RealDiagonal(RealArray v);
RealArray RealCross(RealArray x, RealArray y);
RealArray RealSkew(RealArray x);
RealArray RealMatrixProductInto(RealArray res, RealArray a, RealArray b);
RealArray RealMatrixVectorProductInto(RealArray res, RealArray a, RealArray b);
RealArray RealVectorMatrixProductInto(RealArray res, RealArray a, RealArray b);
double RealScalarProduct(RealArray a, RealArray b);
RealArray RealMatrixProduct(RealArray a, RealArray b);
RealArray RealMatrixVectorProduct(RealArray a, RealArray b);
RealArray RealVectorMatrixProduct(RealArray a, RealArray b);
RealArray RealIdentity(int n);
RealArray RealMatrixPower(RealArray a, int n);
RealArray RealInverse(RealArray A);
RealArray RealRange(double start, double stop, double stride);
RealArray RealLinspace(double x1, double x2, int n);
RealArray RealFromInteger(IntegerArray a);
IntegerArray IntegerFromReal(RealArray a);
int RealFloorToInteger(double x);

// ---- Integer (and Boolean) arrays ----
void IntegerAssign(IntegerArray a, IntegerArray b);
int IntegerGetElement(IntegerArray a, ...);
void IntegerSetElement(int x, IntegerArray a, ...);
int IntegerSize(IntegerArray a, int i);
IntegerArray IntegerSizes(IntegerArray a);
void IntegerPrint(IntegerArray a);
IntegerArray IntegerArrayOfArrays(int n, ...);
IntegerArray IntegerVectorOfElements(int n, ...);
IntegerArray IntegerRecordField(RealArray a, int offset);
IntegerArray IntegerRecordSlice(RealArray a, int offset);
IntegerArray IntegerCat(int k, int n, ...);
IntegerArray IntegerPromote(IntegerArray a, int n);
IntegerArray IntegerPromoteScalar(int x, int n);
IntegerArray IntegerSubscript(IntegerArray a, ...);
void IntegerSubscriptAssign(IntegerArray a, IntegerArray out, ...);
IntegerArray IntegerFill(IntegerArray a, int x);
IntegerArray IntegerFillDims(int x, int ndims, ...);
IntegerArray IntegerConstructDimsLike(IntegerArray a, int n, ...);
int IntegerScalar(IntegerArray a);
IntegerArray IntegerVector(IntegerArray a);
IntegerArray IntegerMatrix(IntegerArray a);
IntegerArray IntegerTranspose(IntegerArray a);
IntegerArray IntegerOuterProduct(IntegerArray a, IntegerArray b);
IntegerArray IntegerSymmetric(IntegerArray a);
IntegerArray IntegerAddInto(IntegerArray res, IntegerArray a, IntegerArray b);
IntegerArray IntegerAdd(IntegerArray a, IntegerArray b);
IntegerArray IntegerSubtractInto(IntegerArray res, IntegerArray a, IntegerArray b);
IntegerArray IntegerSubtract(IntegerArray a, IntegerArray b);
IntegerArray IntegerScaleInto(IntegerArray res, IntegerArray a, int s);
IntegerArray IntegerScale(IntegerArray a, int s);
IntegerArray IntegerNegateInto(IntegerArray res, IntegerArray a);
IntegerArray IntegerNegate(IntegerArray a);
int IntegerSum(IntegerArray a);
int IntegerAbsSum(IntegerArray a);
int IntegerMax(IntegerArray a);
int IntegerMin(IntegerArray a);
int IntegerProduct(IntegerArray a);
IntegerArray IntegerDiagonal(IntegerArray v);
IntegerArray IntegerCross(IntegerArray x, IntegerArray y);
IntegerArray IntegerSkew(IntegerArray x);
IntegerArray IntegerMatrixProductInto(IntegerArray res, IntegerArray a, IntegerArray b);
IntegerArray IntegerMatrixVectorProductInto(IntegerArray res, IntegerArray a, IntegerArray b);
IntegerArray IntegerVectorMatrixProductInto(IntegerArray res, IntegerArray a, IntegerArray b);
int IntegerScalarProduct(IntegerArray a, IntegerArray b);
IntegerArray IntegerMatrixProduct(IntegerArray a, IntegerArray b);
IntegerArray IntegerMatrixVectorProduct(IntegerArray a, IntegerArray b);
IntegerArray IntegerVectorMatrixProduct(IntegerArray a, IntegerArray b);
IntegerArray IntegerIdentity(int n);
IntegerArray IntegerMatrixPower(IntegerArray a, int n);
IntegerArray IntegerRange(int start, int stop, int stride);
IntegerArray IntegerNot(IntegerArray a);
IntegerArray IntegerAnd(IntegerArray a, IntegerArray b);
IntegerArray IntegerOr(IntegerArray a, IntegerArray b);

// ---- String arrays (pointers only: texts are never copied) ----
void StringAssign(StringArray a, StringArray b);
const char* StringGetElement(StringArray a, ...);
void StringSetElement(const char* p, StringArray a, ...);
int StringSize(StringArray a, int i);
IntegerArray StringSizes(StringArray a);
void StringPrint(StringArray a);
StringArray StringArrayOfArrays(int n, ...);
StringArray StringVectorOfElements(int n, ...);
StringArray StringRecordField(RealArray a, int offset);
StringArray StringRecordSlice(RealArray a, int offset);
StringArray StringCat(int k, int n, ...);
StringArray StringPromote(StringArray a, int n);
StringArray StringPromoteScalar(const char* p, int n);
StringArray StringSubscript(StringArray a, ...);
void StringSubscriptAssign(StringArray a, StringArray out, ...);
StringArray StringFill(StringArray a, const char* p);
StringArray StringFillDims(const char* p, int ndims, ...);
StringArray StringConstructDimsLike(StringArray a, int n, ...);
const char* StringScalar(StringArray a);
StringArray StringVector(StringArray a);
StringArray StringMatrix(StringArray a);
StringArray StringTranspose(StringArray a);
StringArray StringSymmetric(StringArray a);

// ---- Persistent pool: storage that outlives every evaluation ----
double* RealAllocNon(int n);
int32_t* IntegerAllocNon(int n);
int32_t* SizeAllocNon(int n);
const char** StringPointerAllocNon(int n);
void RealDimsVaNon(RealArray* a, int ndims, va_list sizes);
void IntegerDimsVaNon(IntegerArray* a, int ndims, va_list sizes);
void StringDimsVaNon(StringArray* a, int ndims, va_list sizes);
RealArray RealConstructVaNon(int ndims, va_list sizes);
IntegerArray IntegerConstructVaNon(int ndims, va_list sizes);
StringArray StringConstructVaNon(int ndims, va_list sizes);
RealArray RealConstructNon(int ndims, ...);
IntegerArray IntegerConstructNon(int ndims, ...);
StringArray StringConstructNon(int ndims, ...);

// ---- Simple strings and String conversion ----
char* SimpleStringAlloc(int len);
char* SimpleStringConcat(const char* a, const char* b);
char* RealToString(double x, int minwidth, int precision);
char* IntegerToString(int i, int minwidth, int precision);
char* RealToStringJustified(double x, int leftJustified, int minwidth, int precision);
char* RealToStringDefault(double x, int leftJustified, int minwidth);
char* IntegerToStringJustified(int i, int leftJustified, int minwidth);
char* BooleanToString(int b, int leftJustified, int minwidth);
char* RealToStringFormat(double x, const char* format);
const char* SimpleStringToNon(const char* s);
StringArray StringArrayToNon(StringArray a);

#ifdef __cplusplus
} // extern "C"
#endif

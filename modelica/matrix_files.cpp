// Matrix-file functions of generated code: files are opened without a class
// check and walked matrix by matrix in file order until the requested name
// is met. Every check releases the file and the matrix record before it
// raises, so a failed read leaks nothing. Outside an evaluation a failed
// check or allocation returns (the failure stays in the status word): the
// function then returns at once with an empty result (every size 0, no
// elements), reads nothing more and writes through no null pointer.
#include "matrix_files.h"

#include <stdarg.h>
#include <string.h>
#include <sys/stat.h>

#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "amat.h"
#include "array_support.h"
#include "locale_c.h"

namespace {

const char kDimensionIncorrect[] = "Matrix dimension incorrect";
const char kNumericTypeCondition[] =
    "amatrix.type==doubleMatrix || amatrix.type==realMatrix || amatrix.type==integerMatrix";
const char kNoStringMatrices[] = "No string matrices allowed";
const char kIntegerRequired[] = "Integer matrix required";
const char kOnlyMatrices[] = "Current version can only read scalars, vectors, and matrices";
const char kReadFailed[] = "Read of matrix failed";
const char kWriteMustSucceed[] = "Write of matrix must succeed";
const char kTooManyMatricesCondition[] = "matrices<=100000";
const char kTooManyMatrices[] = "Too many matrices in file";

// The most matrices a file may hold, for every walk and for the file an
// append writes. A source that yields matrices for ever (a device such as
// /dev/zero, a FIFO fed without end) is refused at the first matrix past it
// instead of running on.
bool withinMatrixBound(int64_t matrices) { return matrices <= 100000; }

// What Reading::next returns for a matrix past the bound (a reader error).
enum { kTooManyMatricesRead = 5 };

// Raises the check when it failed; returns whether it held, so that callers
// can return at once when no trap is armed and the raise comes back.
bool check(bool ok, const char* condition, const char* message) {
    if (!ok) RuntimeAssert(0, condition, message);
    return ok;
}

// Room for "<name>.size" with names of up to 202 characters.
enum { kSizeNameSize = 208 };

// Builds "<name>.size"; false when the name does not fit.
bool sizeMatrixName(char (&buffer)[kSizeNameSize], const char* name) {
    return name != nullptr && snprintf_C(buffer, sizeof buffer, "%s.size", name) >= 0;
}

bool isNumeric(AmatType type) { return type == doubleMatrix || type == realMatrix || type == integerMatrix; }

bool hasName(const AmatMatrix& m, const char* name) {
    return m.name != nullptr && name != nullptr && strcmp(m.name, name) == 0;
}

// Element k of a block matrix (column by column) as a double.
double elementAsDouble(const AmatMatrix& m, int64_t k) {
    switch (m.type) {
    case integerMatrix: return static_cast<const int32_t*>(m.data)[k];
    case realMatrix: return static_cast<const float*>(m.data)[k];
    default: return static_cast<const double*>(m.data)[k];
    }
}

// A file open for reading and the matrix last read from it. release() closes
// and frees both; the destructor does it too when a check unwinds past it.
class Reading {
public:
    Reading() {
        memset(&file_, 0, sizeof file_);
        amatInitMatrix(&matrix_);
    }
    ~Reading() { release(); }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

    int open(const char* fileName, const char* version = nullptr) {
        const int ret = amatGetOpen(fileName, "NoClass", version, &file_);
        open_ = ret == 0;
        return ret;
    }
    // Reads the next matrix in place of the previous one; the reader's code.
    // Every matrix read counts against the bound (the read that meets the
    // end of the file is no matrix); one past it is dropped and gives
    // kTooManyMatricesRead.
    int next(int trimBlanks = 1) {
        amatFreeMatrix(&matrix_);
        const int ret = amatGetMatrix(&file_, &matrix_, 0, nullptr, trimBlanks);
        if (ret <= 1 && !withinMatrixBound(++count_)) {
            amatFreeMatrix(&matrix_);
            tooMany_ = true;
            return kTooManyMatricesRead;
        }
        return ret;
    }
    // True once the walk has met a matrix past the bound.
    bool tooMany() const { return tooMany_; }
    // Hands the matrix last read over to the caller, who frees it.
    AmatMatrix take() {
        const AmatMatrix m = matrix_;
        amatInitMatrix(&matrix_);
        return m;
    }
    void release() {
        amatFreeMatrix(&matrix_);
        if (open_) amatGetClose(&file_);
        open_ = false;
    }
    // A failed check releases everything, then raises the runtime error.
    // Returns whether the check held.
    bool require(bool ok, const char* condition, const char* message) {
        if (ok) return true;
        char text[AMAT_MESSAGE_SIZE];
        snprintf_C(text, sizeof text, "%s", message);
        release();
        RuntimeAssert(0, condition, text);
        return false;
    }
    // One step of a walk: false after the failed check of a read error, the
    // end of the file, or the bound on matrices.
    bool step(int* ret, int trimBlanks = 1) {
        *ret = next(trimBlanks);
        if (!require(!tooMany_, kTooManyMatricesCondition, kTooManyMatrices)) return false;
        return require(*ret <= 1, "ret<=1", amatMessage);
    }
    // Walks on to the matrix named `name`; false after a failed check.
    // Matrices without elements are passed like any other.
    bool walkTo(const char* name, int* ret, int trimBlanks = 1) {
        while (step(ret, trimBlanks))
            if (hasName(matrix_, name)) return true;
        return false;
    }
    const AmatMatrix& matrix() const { return matrix_; }
    AmatMatrix& matrix() { return matrix_; }

private:
    AmatGetFile file_;
    AmatMatrix matrix_;
    bool open_ = false;
    int64_t count_ = 0; // matrices read so far
    bool tooMany_ = false;
};

const char* typeText(AmatType type) {
    if (type == integerMatrix) return "Integer";
    if (type == realMatrix || type == doubleMatrix) return "Real";
    return "Unknown";
}

// A new simple string holding the text; null when the buffer is full.
char* simpleCopy(const char* text) {
    if (text == nullptr) text = "";
    const size_t n = strlen(text);
    if (!check(n < INT32_MAX, "len<2147483647", "String too long")) return nullptr;
    char* copy = SimpleStringAlloc(static_cast<int>(n));
    if (copy != nullptr) memcpy(copy, text, n + 1);
    return copy;
}

// What a reader returns after a failure: ndims sizes of 0 and no elements.
// Only when the size buffer itself is full are the sizes null too.
template <typename A>
A emptyArray(int ndims) {
    A a{ndims, SizeAlloc(ndims), nullptr};
    if (a.dims != nullptr)
        for (int i = 0; i < ndims; ++i) a.dims[i] = 0;
    return a;
}

// The rows of string tables read from files. Generated code may keep a
// string parameter beyond the evaluation that read it, and a table may be
// larger than the per-thread string buffer, so the rows live on the heap:
// each distinct text once, in one library-wide set shared by all threads
// under its lock. Reading a table again adds nothing.
//
// The set is reached through a pointer and freed by releaseKeptTexts, a
// destructor of the library: it runs when the library is unloaded, or at
// process exit after the exit handlers. A host object destroyed by those
// handlers (one made before the set was) may still read the texts it holds.
std::mutex keptTextsLock;
std::unordered_set<std::string>* keptTexts = nullptr; // nodes never move: c_str() stays valid

// The copy of the text kept until the library is unloaded; null when memory
// runs out.
const char* keepTextUntilUnload(const char* text) {
    if (text == nullptr || *text == '\0') return "";
    std::lock_guard<std::mutex> guard(keptTextsLock);
    try {
        if (keptTexts == nullptr) keptTexts = new std::unordered_set<std::string>;
        return keptTexts->emplace(text).first->c_str();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

__attribute__((destructor)) void releaseKeptTexts() {
    std::lock_guard<std::mutex> guard(keptTextsLock);
    delete keptTexts;
    keptTexts = nullptr;
}

// Closes a file being written after a failure, keeping the failure's message.
void closeAfterFailure(AmatPutFile* file) {
    char saved[AMAT_MESSAGE_SIZE];
    memcpy(saved, amatMessage, sizeof saved);
    amatPutClose(file);
    memcpy(amatMessage, saved, sizeof saved);
}

void freeMatrices(std::vector<AmatMatrix>& matrices) {
    for (AmatMatrix& m : matrices) amatFreeMatrix(&m);
    matrices.clear();
}

// How writing a matrix file ended.
enum class Write { done, failed, tooManyMatrices };

// Reads every matrix of an existing file except the one named `skip`, in
// file order. Unless the file is read to its end, within the bound on
// matrices, nothing is kept and the file is to be left as it is.
Write readOtherMatrices(const char* fileName, const char* skip, std::vector<AmatMatrix>& kept) {
    Reading reading;
    if (reading.open(fileName, "0.0") != 0) return Write::failed;
    int ret = 0;
    while ((ret = reading.next()) <= 1)
        if (!hasName(reading.matrix(), skip)) kept.push_back(reading.take());
    if (ret == 3) return Write::done;
    freeMatrices(kept);
    return reading.tooMany() ? Write::tooManyMatrices : Write::failed;
}

bool existsWithContent(const char* fileName) {
    struct stat st;
    return fileName != nullptr && fileName[0] != '\0' && stat(fileName, &st) == 0 && st.st_size > 0;
}

// Rewrites the file with its other matrices and then `matrix`; the file may
// not end up with more matrices than the bound.
Write appendMatrix(const char* fileName, const AmatMatrix& matrix) {
    std::vector<AmatMatrix> kept;
    if (existsWithContent(fileName)) {
        const Write read = readOtherMatrices(fileName, matrix.name, kept);
        if (read != Write::done) return read;
    }
    if (!withinMatrixBound(static_cast<int64_t>(kept.size()) + 1)) {
        freeMatrices(kept);
        return Write::tooManyMatrices;
    }
    AmatPutFile file;
    memset(&file, 0, sizeof file);
    bool ok = amatPutOpen(fileName, amatBinaryFormat, binNormal, "", "", "", &file) == 0;
    if (ok) {
        for (const AmatMatrix& m : kept)
            if (amatPutMatrix(&file, &m) != 0) {
                ok = false;
                break;
            }
        if (ok && amatPutMatrix(&file, &matrix) != 0) ok = false;
        if (amatPutClose(&file) != 0) ok = false;
    }
    freeMatrices(kept);
    return ok ? Write::done : Write::failed;
}

struct ParameterArray {
    int32_t* dims;
    void* data;
};

// The data matrix `name` as ndims-dimensional array. Arrays of more than two
// dimensions take their sizes from the size matrix "<name>.size" that must
// precede the data matrix and match its element count. False after a failed
// check: the sizes are then 0 and there are no elements.
bool readParameterArray(const char* fileName, const char* name, int ndims, bool real, ParameterArray* result) {
    result->dims = nullptr;
    result->data = nullptr;
    if (!check(ndims >= 1, "(ndims >= 1)", kOnlyMatrices)) return false;
    result->dims = SizeAlloc(ndims);
    if (result->dims == nullptr) return false;
    for (int i = 0; i < ndims; ++i) result->dims[i] = 0;
    char sizeName[kSizeNameSize] = "";
    if (ndims > 2 && !check(sizeMatrixName(sizeName, name), "strlen(name)<=202", "Name of matrix too long"))
        return false;
    int32_t* dims = result->dims;
    Reading reading;
    bool found = false;
    bool sizeFound = false;
    if (reading.open(fileName) == 0) {
        int ret = 0;
        while (!found) {
            if (!reading.step(&ret)) break;
            const AmatMatrix& m = reading.matrix();
            if (hasName(m, name)) {
                const bool typeOk =
                    real ? reading.require(isNumeric(m.type), kNumericTypeCondition, kNoStringMatrices)
                         : reading.require(m.type == integerMatrix, "amatrix.type==integerMatrix", kIntegerRequired);
                if (!typeOk) break;
                const int64_t n = static_cast<int64_t>(m.nrow) * m.ncol;
                if (!reading.require(n <= INT32_MAX, "n<=2147483647", "Too many array elements")) break;
                if (ndims > 2) {
                    if (!reading.require(sizeFound, "sizeFound", "Size matrix required for more than two dimensions"))
                        break;
                    int64_t product = 1;
                    for (int i = 0; i < ndims && product <= n; ++i) product *= dims[i];
                    if (!reading.require(product == n, "product(size)==rows*cols",
                                         "Size matrix does not match the data matrix"))
                        break;
                } else {
                    dims[0] = m.nrow;
                    if (ndims == 2) dims[1] = m.ncol;
                }
                if (real) {
                    double* data = RealAlloc(static_cast<int>(n));
                    if (data == nullptr) break;
                    for (int64_t k = 0; k < n; ++k) data[k] = elementAsDouble(m, k);
                    result->data = data;
                } else {
                    int32_t* data = IntegerAlloc(static_cast<int>(n));
                    if (data == nullptr) break;
                    if (n > 0) memcpy(data, m.data, static_cast<size_t>(n) * sizeof(int32_t));
                    result->data = data;
                }
                found = true;
            } else if (ndims > 2 && hasName(m, sizeName) && m.nrow == ndims) {
                if (!reading.require(m.type == integerMatrix, "amatrix.type == integerMatrix", kIntegerRequired))
                    break;
                const int32_t* values = static_cast<const int32_t*>(m.data);
                bool sizesOk = true;
                for (int i = 0; i < ndims && sizesOk; ++i) {
                    sizesOk = reading.require(values[i] >= 0, "size>=0", "Array sizes must not be negative");
                    if (sizesOk) dims[i] = values[i];
                }
                if (!sizesOk) break;
                sizeFound = true;
            }
        }
        // The walk ends at the data matrix or after a failed check or
        // allocation; the sizes taken so far are dropped.
        if (!found) {
            for (int i = 0; i < ndims; ++i) dims[i] = 0;
            return false;
        }
    }
    reading.release();
    return check(found, "found", kReadFailed);
}

// Writes one array record of generated code: `record` points to a RealArray,
// IntegerArray or StringArray, which share their layout. Arrays of more than
// two dimensions, and String matrices, go as one column after their size
// matrix. The elements are written in the array's own order.
int putArray(AmatPutFile* file, const char* name, int type, const RealArray* record) {
    const int ndims = record->ndims;
    if (ndims < 1) return 1;
    int64_t count = 1;
    for (int i = 0; i < ndims; ++i) {
        if (record->dims[i] < 0) return 1;
        count *= record->dims[i];
        if (count > INT32_MAX) return 1;
    }
    int32_t rows = record->dims[0];
    int32_t cols = ndims == 2 ? record->dims[1] : 1;
    if (ndims > 2 || (ndims == 2 && type == 4)) {
        rows = static_cast<int32_t>(count);
        cols = 1;
        const int ret = writeSizeMatrix(file, ndims, record->dims, name);
        if (ret != 0) return ret;
    }
    const AmatType amatType = type == 1 ? integerMatrix : type == 3 ? doubleMatrix : charMatrix;
    AmatMatrix m;
    amatSetMatrix(const_cast<char*>(name), rows, cols, amatType, static_cast<void*>(record->data), &m);
    return amatPutMatrix(file, &m);
}

// One scalar of writeMatrices, taken from the argument list.
int putScalar(AmatPutFile* file, const char* name, int type, va_list* ap) {
    AmatMatrix m;
    char* nameText = const_cast<char*>(name);
    if (type == 1) {
        int32_t value = va_arg(*ap, int);
        amatSetMatrix(nameText, 1, 1, integerMatrix, &value, &m);
        return amatPutMatrix(file, &m);
    }
    if (type == 3) {
        double value = va_arg(*ap, double);
        amatSetMatrix(nameText, 1, 1, doubleMatrix, &value, &m);
        return amatPutMatrix(file, &m);
    }
    if (type == 4) {
        const char* text = va_arg(*ap, const char*);
        char* rows[1] = {const_cast<char*>(text != nullptr ? text : "")};
        amatSetMatrix(nameText, 1, static_cast<int32_t>(strlen(rows[0])), charMatrix, rows, &m);
        return amatPutMatrixFill(file, &m, '\0');
    }
    (void)va_arg(*ap, void*);
    return 1;
}

// The rows of the named string table; false after a failed check, with no
// rows then.
bool readStringTable(const char* fileName, const char* name, int ndims, StringArray* result) {
    if (!check(ndims >= 1, "(ndims >= 1)", kOnlyMatrices)) return false;
    if (!check(ndims == 1, "(ndims<=1)&&(ndims>=1)", "Current version can only read scalars and vectors"))
        return false;
    bool found = false;
    Reading reading;
    if (reading.open(fileName) == 0) {
        int ret = 0;
        // Text rows keep their trailing blanks.
        if (!reading.walkTo(name, &ret, 0)) return false;
        const AmatMatrix& m = reading.matrix();
        if (!reading.require(m.type == charMatrix, "amatrix.type == charMatrix", "Only string matrices allowed"))
            return false;
        // The rows are kept as heap copies (keepTextUntilUnload); the
        // record's own rows are freed with it.
        const char** data = StringPointerAlloc(m.nrow);
        if (data == nullptr) return false;
        const char* const* rows = static_cast<const char* const*>(m.data);
        for (int i = 0; i < m.nrow; ++i) {
            data[i] = keepTextUntilUnload(rows != nullptr ? rows[i] : nullptr);
            if (!reading.require(data[i] != nullptr, "copy!=NULL", "Not enough memory to copy the strings"))
                return false;
        }
        result->dims[0] = m.nrow;
        result->data = data;
        found = true;
    }
    reading.release();
    return check(found, "found", kReadFailed);
}

} // namespace

extern "C" {

RealArray readRealMatrix(const char* fileName, const char* matrixName, int nrow, int ncol) {
    // Sizes and elements are given to the result only once the matrix is read.
    RealArray result = emptyArray<RealArray>(2);
    if (result.dims == nullptr) return result;
    if (!check(nrow >= 0 && ncol >= 0, "dims[i]>=0", "Array sizes must not be negative")) return result;
    const int64_t n = static_cast<int64_t>(nrow) * ncol;
    if (!check(n <= INT32_MAX, "n<=2147483647", "Too many array elements")) return result;
    double* data = RealAlloc(static_cast<int>(n));
    if (data == nullptr) return result;
    Reading reading;
    int ret = 0;
    if (!reading.require(reading.open(fileName) == 0, "ret==0", amatMessage)) return result;
    if (!reading.walkTo(matrixName, &ret)) return result;
    const AmatMatrix& m = reading.matrix();
    // A matrix without elements comes back with no sizes: it fits any
    // request without elements.
    const bool sizesMatch = ret == 1 ? n == 0 : nrow == m.nrow && ncol == m.ncol;
    if (!reading.require(sizesMatch, "rows==amatrix.nrow && cols==amatrix.ncol", kDimensionIncorrect)) return result;
    if (!reading.require(isNumeric(m.type), kNumericTypeCondition, kNoStringMatrices)) return result;
    if (ret == 0)
        for (int i = 0; i < nrow; ++i)
            for (int j = 0; j < ncol; ++j)
                data[static_cast<int64_t>(i) * ncol + j] = elementAsDouble(m, static_cast<int64_t>(j) * nrow + i);
    reading.release();
    result.dims[0] = nrow;
    result.dims[1] = ncol;
    result.data = data;
    return result;
}

IntegerArray readMatrixSize(const char* fileName, const char* matrixName) {
    IntegerArray result = emptyArray<IntegerArray>(1);
    if (result.dims == nullptr) return result;
    int32_t* data = IntegerAlloc(2);
    if (data == nullptr) return result;
    Reading reading;
    int ret = 0;
    if (!reading.require(reading.open(fileName) == 0, "ret==0", amatMessage)) return result;
    if (!reading.walkTo(matrixName, &ret)) return result;
    data[0] = reading.matrix().nrow;
    data[1] = reading.matrix().ncol;
    reading.release();
    result.dims[0] = 2;
    result.data = data;
    return result;
}

StringArray readMatrixNames(const char* fileName) {
    StringArray result = emptyArray<StringArray>(2);
    if (result.dims == nullptr) return result;
    int count = 0;
    {
        Reading reading;
        if (!reading.require(reading.open(fileName) == 0, "ret==0", amatMessage)) return result;
        // The walk ends at the first read that fails, without raising; only
        // a matrix past the bound is an error.
        while (reading.next() <= 1) ++count;
        if (!reading.require(!reading.tooMany(), kTooManyMatricesCondition, kTooManyMatrices)) return result;
    }
    const char** names = StringPointerAlloc(2 * count);
    if (names == nullptr) return result;
    for (int k = 0; k < 2 * count; ++k) names[k] = "";
    Reading reading;
    // The file may have changed since it was counted: never more rows than
    // were counted.
    if (reading.open(fileName) == 0)
        for (int k = 0; k < count && reading.next() <= 1; ++k) {
            names[2 * k] = simpleCopy(reading.matrix().name);
            if (names[2 * k] == nullptr) return result;
            names[2 * k + 1] = typeText(reading.matrix().type);
        }
    result.dims[0] = count;
    result.dims[1] = 2;
    result.data = names;
    return result;
}

int writeRealMatrix(const char* fileName, const char* matrixName, RealArray matrix, int append) {
    if (!check(matrix.ndims == 2, "mat.ndims==2", "Only writing of matrices")) return 0;
    const int32_t rows = matrix.dims[0];
    const int32_t cols = matrix.dims[1];
    const SavedMarks marks = PushMark();
    // The matrix record holds the elements column by column.
    const RealArray columns = RealToColumnMajor(matrix);
    Write result = Write::failed;
    if (columns.data != nullptr) {
        AmatMatrix m;
        amatSetMatrix(const_cast<char*>(matrixName), rows, cols, doubleMatrix, columns.data, &m);
        if (append)
            result = appendMatrix(fileName, m);
        else if (amatWriteFile(fileName, amatBinaryFormat, &m) == 0)
            result = Write::done;
    }
    PopMark(marks);
    check(result != Write::tooManyMatrices, kTooManyMatricesCondition, kTooManyMatrices);
    return result == Write::done ? 1 : 0;
}

RealArray readRealParameterArray(const char* fileName, const char* name, int ndims) {
    ParameterArray a;
    readParameterArray(fileName, name, ndims, true, &a);
    // A one-dimensional result is already the vector.
    return RealArray{ndims, a.dims, static_cast<double*>(a.data)};
}

double readRealParameter(const char* fileName, const char* name) {
    ParameterArray a;
    if (!readParameterArray(fileName, name, 2, true, &a)) return 0.0;
    const RealArray r{2, a.dims, static_cast<double*>(a.data)};
    // RealScalar raises unless there is exactly one element.
    const double value = RealScalar(r);
    return RealNrElements(r) == 1 ? value : 0.0;
}

IntegerArray readIntegerParameterArray(const char* fileName, const char* name, int ndims) {
    ParameterArray a;
    readParameterArray(fileName, name, ndims, false, &a);
    // A one-dimensional result is already the vector.
    return IntegerArray{ndims, a.dims, static_cast<int32_t*>(a.data)};
}

int readIntegerParameter(const char* fileName, const char* name) {
    ParameterArray a;
    if (!readParameterArray(fileName, name, 2, false, &a)) return 0;
    const IntegerArray r{2, a.dims, static_cast<int32_t*>(a.data)};
    // IntegerScalar raises unless there is exactly one element.
    const int value = IntegerScalar(r);
    return IntegerNrElements(r) == 1 ? value : 0;
}

StringArray readStringParameterArray(const char* fileName, const char* name, int ndims) {
    // A one-dimensional result is already the vector.
    StringArray result = emptyArray<StringArray>(1);
    if (result.dims != nullptr) readStringTable(fileName, name, ndims, &result);
    return result;
}

const char* readStringParameter(const char* fileName, const char* name) {
    StringArray result = emptyArray<StringArray>(1);
    if (result.dims == nullptr || !readStringTable(fileName, name, 1, &result)) return "";
    // StringScalar raises unless there is exactly one row.
    const char* value = StringScalar(result);
    return result.dims[0] == 1 ? value : "";
}

int writeSizeMatrix(AmatPutFile* file, int ndims, const int32_t* dims, const char* name) {
    char sizeName[kSizeNameSize];
    if (!sizeMatrixName(sizeName, name)) {
        snprintf_C(amatMessage, sizeof amatMessage, "Name of matrix \"%.100s...\" too long for its size matrix.\n",
                   name != nullptr ? name : "");
        return 1;
    }
    AmatMatrix m;
    amatSetMatrix(sizeName, ndims, 1, integerMatrix, const_cast<int32_t*>(dims), &m);
    return amatPutMatrix(file, &m);
}

void writeMatrices(const char* fileName, int count, ...) {
    AmatPutFile file;
    memset(&file, 0, sizeof file);
    if (!check(amatPutOpen(fileName, amatBinaryFormat, binNormal, "", "", "", &file) == 0, "false",
               "failed to open output file"))
        return;
    va_list ap;
    va_start(ap, count);
    int ret = 0;
    for (int i = 0; i < count && ret == 0; ++i) {
        const char* name = va_arg(ap, const char*);
        const int type = va_arg(ap, int);
        const int ndims = va_arg(ap, int);
        if (ndims == 0) {
            ret = putScalar(&file, name, type, &ap);
        } else {
            const RealArray* record = va_arg(ap, const RealArray*);
            ret = (type == 1 || type == 3 || type == 4) && record != nullptr ? putArray(&file, name, type, record) : 1;
        }
    }
    va_end(ap);
    if (ret != 0) {
        closeAfterFailure(&file);
        RuntimeAssert(0, "ret==0", kWriteMustSucceed);
        return;
    }
    RuntimeAssert(amatPutClose(&file) == 0, "ret==0", kWriteMustSucceed);
}

} // extern "C"

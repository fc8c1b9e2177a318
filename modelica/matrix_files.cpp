// Matrix-file functions of generated code: files are opened without a class
// check and walked matrix by matrix in file order until the requested name
// is met. Every check releases the file and the matrix record before it
// raises, so a failed read leaks nothing.
#include "matrix_files.h"

#include <stdarg.h>
#include <string.h>
#include <sys/stat.h>

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
    int next(int trimBlanks = 1) {
        amatFreeMatrix(&matrix_);
        return amatGetMatrix(&file_, &matrix_, 0, nullptr, trimBlanks);
    }
    void release() {
        amatFreeMatrix(&matrix_);
        if (open_) amatGetClose(&file_);
        open_ = false;
    }
    // A failed check: releases everything, then raises the runtime error.
    void require(bool ok, const char* condition, const char* message) {
        if (ok) return;
        char text[AMAT_MESSAGE_SIZE];
        snprintf_C(text, sizeof text, "%s", message);
        release();
        RuntimeAssert(0, condition, text);
    }
    // Walks on to the matrix named `name`: a read error or the end of the
    // file raises with the library's message. Matrices without elements are
    // passed like any other.
    int walkTo(const char* name) {
        for (;;) {
            const int ret = next();
            require(ret <= 1, "ret<=1", amatMessage);
            if (hasName(matrix_, name)) return ret;
        }
    }
    const AmatMatrix& matrix() const { return matrix_; }
    AmatMatrix& matrix() { return matrix_; }

private:
    AmatGetFile file_;
    AmatMatrix matrix_;
    bool open_ = false;
};

const char* typeText(AmatType type) {
    if (type == integerMatrix) return "Integer";
    if (type == realMatrix || type == doubleMatrix) return "Real";
    return "Unknown";
}

char* simpleCopy(const char* text) {
    if (text == nullptr) text = "";
    const size_t n = strlen(text);
    RuntimeAssert(n < INT32_MAX, "len<2147483647", "String too long");
    char* copy = SimpleStringAlloc(static_cast<int>(n));
    memcpy(copy, text, n + 1);
    return copy;
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

// Reads every matrix of an existing file except the one named `skip`. False
// when the file cannot be read to its end: it is then left as it is.
bool readOtherMatrices(const char* fileName, const char* skip, std::vector<AmatMatrix>& kept) {
    AmatGetFile file;
    memset(&file, 0, sizeof file);
    if (amatGetOpen(fileName, "NoClass", "0.0", &file) != 0) return false;
    int ret = 0;
    for (;;) {
        AmatMatrix m;
        amatInitMatrix(&m);
        ret = amatGetNextMatrix(&file, &m);
        if (ret > 1) {
            amatFreeMatrix(&m);
            break;
        }
        if (hasName(m, skip))
            amatFreeMatrix(&m);
        else
            kept.push_back(m);
    }
    amatGetClose(&file);
    if (ret == 3) return true;
    freeMatrices(kept);
    return false;
}

bool existsWithContent(const char* fileName) {
    struct stat st;
    return fileName != nullptr && fileName[0] != '\0' && stat(fileName, &st) == 0 && st.st_size > 0;
}

// Rewrites the file with its other matrices and then `matrix`; true on success.
bool appendMatrix(const char* fileName, const AmatMatrix& matrix) {
    std::vector<AmatMatrix> kept;
    if (existsWithContent(fileName) && !readOtherMatrices(fileName, matrix.name, kept)) return false;
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
    return ok;
}

struct ParameterArray {
    int32_t* dims;
    void* data;
};

// The data matrix `name` as ndims-dimensional array. Arrays of more than two
// dimensions take their sizes from the size matrix "<name>.size" that must
// precede the data matrix and match its element count.
ParameterArray readParameterArray(const char* fileName, const char* name, int ndims, bool real) {
    RuntimeAssert(ndims >= 1, "(ndims >= 1)", kOnlyMatrices);
    ParameterArray result{SizeAlloc(ndims), nullptr};
    char sizeName[kSizeNameSize] = "";
    if (ndims > 2) RuntimeAssert(sizeMatrixName(sizeName, name), "strlen(name)<=202", "Name of matrix too long");
    Reading reading;
    bool found = false;
    bool sizeFound = false;
    if (reading.open(fileName) == 0) {
        for (;;) {
            const int ret = reading.next();
            reading.require(ret <= 1, "ret<=1", amatMessage);
            const AmatMatrix& m = reading.matrix();
            if (hasName(m, name)) {
                if (real)
                    reading.require(isNumeric(m.type), kNumericTypeCondition, kNoStringMatrices);
                else
                    reading.require(m.type == integerMatrix, "amatrix.type==integerMatrix", kIntegerRequired);
                const int64_t n = static_cast<int64_t>(m.nrow) * m.ncol;
                reading.require(n <= INT32_MAX, "n<=2147483647", "Too many array elements");
                if (ndims > 2) {
                    reading.require(sizeFound, "sizeFound", "Size matrix required for more than two dimensions");
                    int64_t product = 1;
                    for (int i = 0; i < ndims && product <= n; ++i) product *= result.dims[i];
                    reading.require(product == n, "product(size)==rows*cols",
                                    "Size matrix does not match the data matrix");
                } else {
                    result.dims[0] = m.nrow;
                    if (ndims == 2) result.dims[1] = m.ncol;
                }
                if (real) {
                    double* data = RealAlloc(static_cast<int>(n));
                    for (int64_t k = 0; k < n; ++k) data[k] = elementAsDouble(m, k);
                    result.data = data;
                } else {
                    int32_t* data = IntegerAlloc(static_cast<int>(n));
                    if (n > 0) memcpy(data, m.data, static_cast<size_t>(n) * sizeof(int32_t));
                    result.data = data;
                }
                found = true;
                break;
            }
            if (ndims > 2 && hasName(m, sizeName) && m.nrow == ndims) {
                reading.require(m.type == integerMatrix, "amatrix.type == integerMatrix", kIntegerRequired);
                const int32_t* sizes = static_cast<const int32_t*>(m.data);
                for (int i = 0; i < ndims; ++i) {
                    reading.require(sizes[i] >= 0, "size>=0", "Array sizes must not be negative");
                    result.dims[i] = sizes[i];
                }
                sizeFound = true;
            }
        }
    }
    reading.release();
    RuntimeAssert(found, "found", kReadFailed);
    return result;
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

} // namespace

extern "C" {

RealArray readRealMatrix(const char* fileName, const char* matrixName, int nrow, int ncol) {
    RealArray result = RealMatrixAlloc(nrow, ncol);
    Reading reading;
    reading.require(reading.open(fileName) == 0, "ret==0", amatMessage);
    const int ret = reading.walkTo(matrixName);
    const AmatMatrix& m = reading.matrix();
    // A matrix without elements comes back with no sizes: it fits any
    // request without elements.
    const bool sizesMatch = ret == 1 ? static_cast<int64_t>(nrow) * ncol == 0 : nrow == m.nrow && ncol == m.ncol;
    reading.require(sizesMatch, "rows==amatrix.nrow && cols==amatrix.ncol", kDimensionIncorrect);
    reading.require(isNumeric(m.type), kNumericTypeCondition, kNoStringMatrices);
    if (ret == 0)
        for (int i = 0; i < nrow; ++i)
            for (int j = 0; j < ncol; ++j)
                result.data[static_cast<int64_t>(i) * ncol + j] = elementAsDouble(m, static_cast<int64_t>(j) * nrow + i);
    reading.release();
    return result;
}

IntegerArray readMatrixSize(const char* fileName, const char* matrixName) {
    IntegerArray result = IntegerVectorAlloc(2);
    Reading reading;
    reading.require(reading.open(fileName) == 0, "ret==0", amatMessage);
    reading.walkTo(matrixName);
    result.data[0] = reading.matrix().nrow;
    result.data[1] = reading.matrix().ncol;
    reading.release();
    return result;
}

StringArray readMatrixNames(const char* fileName) {
    int count = 0;
    {
        Reading reading;
        reading.require(reading.open(fileName) == 0, "ret==0", amatMessage);
        while (count < INT32_MAX && reading.next() <= 1) ++count;
    }
    StringArray result = StringMatrixAlloc(count, 2);
    for (int k = 0; k < 2 * count; ++k) result.data[k] = "";
    Reading reading;
    if (reading.open(fileName) != 0) return result;
    // The file may have changed since it was counted: never more rows than
    // the result has.
    for (int k = 0; k < count && reading.next() <= 1; ++k) {
        result.data[2 * k] = simpleCopy(reading.matrix().name);
        result.data[2 * k + 1] = typeText(reading.matrix().type);
    }
    return result;
}

int writeRealMatrix(const char* fileName, const char* matrixName, RealArray matrix, int append) {
    RuntimeAssert(matrix.ndims == 2, "mat.ndims==2", "Only writing of matrices");
    const SavedMarks marks = PushMark();
    const RealArray columns = RealToColumnMajor(matrix);
    AmatMatrix m;
    amatSetMatrix(const_cast<char*>(matrixName), matrix.dims[0], matrix.dims[1], doubleMatrix, columns.data, &m);
    const bool ok = append ? appendMatrix(fileName, m) : amatWriteFile(fileName, amatBinaryFormat, &m) == 0;
    PopMark(marks);
    return ok ? 1 : 0;
}

RealArray readRealParameterArray(const char* fileName, const char* name, int ndims) {
    const ParameterArray a = readParameterArray(fileName, name, ndims, true);
    const RealArray r{ndims, a.dims, static_cast<double*>(a.data)};
    return ndims == 1 ? RealVector(r) : r;
}

double readRealParameter(const char* fileName, const char* name) {
    return RealScalar(readRealParameterArray(fileName, name, 2));
}

IntegerArray readIntegerParameterArray(const char* fileName, const char* name, int ndims) {
    const ParameterArray a = readParameterArray(fileName, name, ndims, false);
    const IntegerArray r{ndims, a.dims, static_cast<int32_t*>(a.data)};
    return ndims == 1 ? IntegerVector(r) : r;
}

int readIntegerParameter(const char* fileName, const char* name) {
    return IntegerScalar(readIntegerParameterArray(fileName, name, 2));
}

StringArray readStringParameterArray(const char* fileName, const char* name, int ndims) {
    RuntimeAssert(ndims >= 1, "(ndims >= 1)", kOnlyMatrices);
    RuntimeAssert(ndims == 1, "(ndims<=1)&&(ndims>=1)", "Current version can only read scalars and vectors");
    StringArray result{1, SizeAlloc(1), nullptr};
    bool found = false;
    Reading reading;
    if (reading.open(fileName) == 0) {
        for (;;) {
            const int ret = reading.next(0);
            reading.require(ret <= 1, "ret<=1", amatMessage);
            const AmatMatrix& m = reading.matrix();
            if (!hasName(m, name)) continue;
            reading.require(m.type == charMatrix, "amatrix.type == charMatrix", "Only string matrices allowed");
            // The rows are copied into the per-thread string buffer, which the
            // evaluation's marks release; the record's own rows are freed.
            result.dims[0] = m.nrow;
            result.data = StringPointerAlloc(m.nrow);
            const char* const* rows = static_cast<const char* const*>(m.data);
            for (int i = 0; i < m.nrow; ++i) result.data[i] = simpleCopy(rows != nullptr ? rows[i] : nullptr);
            found = true;
            break;
        }
    }
    reading.release();
    RuntimeAssert(found, "found", kReadFailed);
    return StringVector(result);
}

const char* readStringParameter(const char* fileName, const char* name) {
    return StringScalar(readStringParameterArray(fileName, name, 1));
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
    if (amatPutOpen(fileName, amatBinaryFormat, binNormal, "", "", "", &file) != 0)
        RuntimeAssert(0, "false", "failed to open output file");
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
    }
    RuntimeAssert(amatPutClose(&file) == 0, "ret==0", kWriteMustSucceed);
}

} // extern "C"

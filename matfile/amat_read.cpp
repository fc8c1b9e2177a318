// Reading matrix files: opening with the class check, and reading the next
// matrix (binary form here, text form in amat_read_text.cpp) with the checks
// against the caller's request and the conversion to the delivered type.
//
// Sizes taken from a file are bounded before anything is allocated for them.
// Those of the text form, binary names of more than 100 characters and binary
// data of more than 64 KiB (as stored) are checked against the bytes that
// remain in the file, so such claims cannot ask for more memory than the
// file's own size implies. Shorter binary names and smaller binary data are
// read without first asking for the file's size (see kUncheckedData): a short
// read meets the end of the file with the same message and code as the check,
// and what they allocate is bounded by those fixed limits, not by the file.
#include "amat_internal.h"

#include "locale_c.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

int64_t amatRemainingBytes(FILE* fp) {
    struct stat st;
    if (fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) return INT64_MAX;
    long pos = ftell(fp);
    if (pos < 0) return INT64_MAX;
    int64_t left = static_cast<int64_t>(st.st_size) - pos;
    return left > 0 ? left : 0;
}

bool amatStoreValue(AmatMatrix* m, int32_t i, int32_t j, double v) {
    size_t index = static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(m->nrow);
    switch (m->type) {
    case integerMatrix:
        // Truncation toward zero, refused where it would be undefined.
        if (!(v > -2147483649.0 && v < 2147483648.0)) return false;
        static_cast<int32_t*>(m->data)[index] = static_cast<int32_t>(v);
        return true;
    case realMatrix:
    case realRowMatrix: {
        float f;
        if (v > 3.4028234663852886e38) f = HUGE_VALF;
        else if (v < -3.4028234663852886e38) f = -HUGE_VALF;
        else f = static_cast<float>(v);
        if (m->type == realMatrix) static_cast<float*>(m->data)[index] = f;
        else static_cast<float**>(m->data)[i][j] = f;
        return true;
    }
    case doubleMatrix: static_cast<double*>(m->data)[index] = v; return true;
    case doubleRowMatrix: static_cast<double**>(m->data)[i][j] = v; return true;
    default: return false;
    }
}

int amatNumericDataError(const AmatGetFile* file, const AmatMatrix* current) {
    amatSetMessage("Error when reading numeric data of matrix \"%.400s(%d,%d)\" from file\n\"%.400s\"\n",
                   current->name != nullptr ? current->name : "", current->nrow, current->ncol, file->fileName);
    return 4;
}

namespace {

const char* const eofText = "End-Of-File reached.";

// Binary names of up to 100 characters and data of up to this many bytes are
// read without asking for the size of the file first: a short read meets the
// end with the same message, and a walk over many small matrices then costs
// no system calls per matrix. Only larger claims are held against the bytes
// left, before anything is allocated for them.
constexpr int64_t kUncheckedData = 65536;

const char* readError(FILE* fp) { return ferror(fp) && errno != 0 ? strerror(errno) : eofText; }

int headerError(const AmatGetFile* file, const char* text, int code) {
    amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", file->fileName, text);
    return code;
}

// Reads exactly n bytes.
bool readBytes(FILE* fp, void* data, size_t size, size_t n) { return n == 0 || fread(data, size, n, fp) == n; }

// What a binary declaration says beyond the record: the element precision.
struct Stored {
    AmatType type = voidMatrix;
    int precision = 0;  // P of the type word
};

int readBinaryDeclaration(AmatGetFile* file, const char* requestName, AmatMatrix* current, Stored* stored) {
    FILE* fp = file->fp;
    AmatHeader h;
    errno = 0;
    size_t got = fread(&h, 1, sizeof h, fp);
    if (got == 0) return headerError(file, readError(fp), ferror(fp) ? 4 : 3);
    if (got < sizeof h) return headerError(file, readError(fp), 4);
    if (h.type < 0 || h.type / 1000 != 0) {
        amatSetMessage("Cannot read matrix from file \"%.400s\".\nThe file has incorrect format (note that binary files "
                       "must be saved with '-v4' in MATLAB).\n",
                       file->fileName);
        return 4;
    }
    if (h.namlen < 0 || (h.namlen > 100 && h.namlen > amatRemainingBytes(fp)))
        return headerError(file, eofText, 4);
    size_t namlen = static_cast<size_t>(h.namlen);
    if (requestName != nullptr) {
        char name[101];
        size_t keep = namlen < 100 ? namlen : 100;
        if (!readBytes(fp, name, 1, keep) || fseek(fp, static_cast<long>(namlen - keep), SEEK_CUR) != 0)
            return headerError(file, readError(fp), 4);
        name[keep] = '\0';
        if (strcmp(name, requestName) != 0) {
            amatSetMessage("Error when reading matrix \"%.400s\" from file \"%.400s\",\nbecause matrix-name = \"%.400s\" "
                           "required.\n",
                           name, file->fileName, requestName);
            return 2;
        }
        current->name = const_cast<char*>(requestName);
    } else {
        char* name = static_cast<char*>(malloc(namlen + 1));
        if (name == nullptr) {
            amatSetMessage("Error when reading matrix from file \"%.400s\",\nbecause it is not possible to allocate "
                           "storage for\nthe matrix name (length = %d)\n:%.400s\n",
                           file->fileName, h.namlen, strerror(ENOMEM));
            return 4;
        }
        current->name = name;
        if (!readBytes(fp, name, 1, namlen)) return headerError(file, readError(fp), 4);
        name[namlen] = '\0';  // a name without its NUL stays bounded
    }
    const char* name = current->name;
    if (h.imagf != 0) {
        amatSetMessage("Not possible to read matrix \"%.400s\" from file \"%.400s\",\nbecause it has an imaginary part "
                       "(imagf = %d); only real matrices are supported.\n",
                       name, file->fileName, h.imagf);
        return 4;
    }
    int t = h.type % 10;
    int p = (h.type % 100) / 10;
    if (t == 1) {
        stored->type = charMatrix;
    } else if (t != 0) {
        amatSetMessage("Wrong type flag (= %d) of matrix \"%.400s\" on file \"%.400s\".\nThe type flag must be 0 (= "
                       "numeric matrix) or 1 (= character matrix).\n",
                       t, name, file->fileName);
        return 4;
    } else if (p == 0 || p == 1 || p == 2) {
        stored->type = p == 0 ? doubleMatrix : p == 1 ? realMatrix : integerMatrix;
    } else {
        amatSetMessage("Wrong precision flag (= %d) of numeric matrix \"%.400s\" on file \"%.400s\"\nFlag must be 0 (= "
                       "64-bit) or 1 (32-bit).\n",
                       p, name, file->fileName);
        return 4;
    }
    stored->precision = p;
    current->nrow = file->binTrans ? h.ncols : h.mrows;
    current->ncol = file->binTrans ? h.mrows : h.ncols;
    current->type = stored->type;
    return 0;
}

size_t storedSize(const Stored& stored) {
    if (stored.type == charMatrix) return stored.precision == 0 ? 8 : 1;
    return stored.type == doubleMatrix ? 8 : 4;
}

double storedValue(const Stored& stored, const unsigned char* p) {
    if (stored.type == integerMatrix) { int32_t v; memcpy(&v, p, 4); return v; }
    if (stored.type == realMatrix) { float v; memcpy(&v, p, 4); return v; }
    double v;
    memcpy(&v, p, 8);
    return v;
}

int readBinaryNumeric(AmatGetFile* file, AmatMatrix* m, const Stored& stored) {
    FILE* fp = file->fp;
    size_t size = storedSize(stored);
    size_t total = static_cast<size_t>(m->nrow) * static_cast<size_t>(m->ncol);
    if (!file->binTrans && stored.type == m->type)
        return readBytes(fp, m->data, size, total) ? 0 : amatNumericDataError(file, m);
    // Stored element k lies at (k mod nrow, k / nrow), or transposed at
    // (k / ncol, k mod ncol).
    unsigned char buffer[512 * 8];
    const size_t chunk = sizeof buffer / 8;
    for (size_t k = 0; k < total;) {
        size_t n = total - k < chunk ? total - k : chunk;
        if (!readBytes(fp, buffer, size, n)) return amatNumericDataError(file, m);
        for (size_t e = 0; e < n; ++e, ++k) {
            size_t i = file->binTrans ? k / static_cast<size_t>(m->ncol) : k % static_cast<size_t>(m->nrow);
            size_t j = file->binTrans ? k % static_cast<size_t>(m->ncol) : k / static_cast<size_t>(m->nrow);
            if (!amatStoreValue(m, static_cast<int32_t>(i), static_cast<int32_t>(j), storedValue(stored, buffer + e * size)))
                return amatNumericDataError(file, m);
        }
    }
    return 0;
}

int textDataError(const AmatGetFile* file, const AmatMatrix* m, const char* text) {
    amatSetMessage("Error reading data of text matrix \"%.40s(%d,%d)\" from file \"%.400s\":\n%.400s\n", m->name,
                   m->nrow, m->ncol, file->fileName, text);
    return 4;
}

int textStorageError(const AmatGetFile* file, const AmatMatrix* m, int64_t count) {
    amatSetMessage("Error when reading text matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nsince it is not possible to "
                   "allocate storage for\n%d characters.\n",
                   m->name, m->nrow, m->ncol, file->fileName, static_cast<int>(count > INT32_MAX ? INT32_MAX : count));
    return 4;
}

int readBinaryChar(AmatGetFile* file, AmatMatrix* m, const Stored& stored, int trimBlanks) {
    FILE* fp = file->fp;
    if (stored.precision != 5 && stored.precision != 0) {
        amatSetMessage("Wrong precision flag (= %d) of character matrix \"%.400s(%d,%d)\"\non file \"%.400s\".\nFlag must "
                       "be 0 (= 64-bit) or 5 (= 8-bit unsigned integer).\n",
                       stored.precision, m->name, m->nrow, m->ncol, file->fileName);
        return 4;
    }
    size_t nrow = static_cast<size_t>(m->nrow), width = static_cast<size_t>(m->ncol);
    size_t total = nrow * width;
    unsigned char* chars = static_cast<unsigned char*>(malloc(total + 1));
    if (chars == nullptr) return textStorageError(file, m, static_cast<int64_t>(total));
    errno = 0;
    bool ok = true;
    if (stored.precision == 5) {
        ok = readBytes(fp, chars, 1, total);
    } else {
        // One double per character, whose value is the character code.
        for (size_t k = 0; k < total && ok; ++k) {
            double v;
            ok = readBytes(fp, &v, sizeof v, 1);
            if (ok && !(v >= 0.0 && v <= 255.0)) {
                free(chars);
                return amatNumericDataError(file, m);
            }
            if (ok) chars[k] = static_cast<unsigned char>(v);
        }
    }
    if (!ok) {
        free(chars);
        return textDataError(file, m, readError(fp));
    }
    char** rows = static_cast<char**>(m->data);
    char* row = static_cast<char*>(malloc(width + 1));
    if (row == nullptr) {
        free(chars);
        return textStorageError(file, m, static_cast<int64_t>(width));
    }
    int32_t longest = 0;
    int result = 0;
    for (size_t r = 0; r < nrow && result == 0; ++r) {
        for (size_t p = 0; p < width; ++p) row[p] = static_cast<char>(file->binTrans ? chars[r * width + p] : chars[r + p * nrow]);
        size_t n = width;
        while (n > 0 && (trimBlanks ? isspace_C(static_cast<unsigned char>(row[n - 1])) != 0 : row[n - 1] == '\0')) --n;
        rows[r] = nullptr;
        if (n == 0) continue;
        row[n] = '\0';
        rows[r] = amatCopyText(row);
        if (rows[r] == nullptr) result = textStorageError(file, m, static_cast<int64_t>(n));
        else if (static_cast<int32_t>(strlen(rows[r])) > longest) longest = static_cast<int32_t>(strlen(rows[r]));
    }
    free(row);
    free(chars);
    if (result == 0) m->ncol = longest;
    return result;
}

bool isNumeric(uint32_t type) {
    return type == integerMatrix || type == realMatrix || type == doubleMatrix || type == realRowMatrix ||
           type == doubleRowMatrix;
}

// Compares the declaration read with the request: 0 fits, 1 no elements,
// 2 not the matrix asked for, 4 impossible sizes.
int checkRequest(const AmatGetFile* file, const AmatMatrix* request, const AmatMatrix* current) {
    const char* name = current->name;
    const char* fileName = file->fileName;
    int32_t nrow = current->nrow, ncol = current->ncol;
    if (isNumeric(request->type) && current->type == charMatrix) {
        amatSetMessage("Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause matrix should be of "
                       "type \"integer\", \"real\" or \"double\"\nand not of type \"%.400s\".\n",
                       name, nrow, ncol, fileName, "char");
        return 2;
    }
    if (request->type == charMatrix && current->type != charMatrix) {
        const char* stored = current->type == integerMatrix ? "integer" : current->type == realMatrix ? "real" : "double";
        amatSetMessage("Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause matrix should be of "
                       "type \"char\" and not of type \"%.400s\".\n",
                       name, nrow, ncol, fileName, stored);
        return 2;
    }
    if (nrow < 0) {
        amatSetMessage("Wrong row dimension (= %d) of matrix \"%.400s\" on file \"%.400s\".\nDimension must be >= 0.\n",
                       nrow, name, fileName);
        return 4;
    }
    if (ncol < 0) {
        amatSetMessage("Wrong column dimension (= %d) of matrix \"%.400s\" on file \"%.400s\".\nDimension must be >= "
                       "0.\n",
                       ncol, name, fileName);
        return 4;
    }
    if (static_cast<int64_t>(nrow) * ncol == 0) {
        amatSetMessage("Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause number of matrix "
                       "elements is zero.\n",
                       name, nrow, ncol, fileName);
        return 1;
    }
    const char* format = nullptr;
    int32_t required = 0;
    if (request->nrow > 0 && request->nrow != nrow) {
        format = "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause row dimension = %d "
                 "required.\n";
        required = request->nrow;
    } else if (request->ncol > 0 && request->ncol != ncol) {
        format = "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause column dimension = %d "
                 "required.\n";
        required = request->ncol;
    } else if (request->nrow < 0 && nrow > -static_cast<int64_t>(request->nrow)) {
        format = "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause row dimension <= %d "
                 "required.\n";
        required = -request->nrow;
    } else if (request->ncol < 0 && ncol > -static_cast<int64_t>(request->ncol)) {
        format = "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause column dimension <= %d "
                 "required.\n";
        required = -request->ncol;
    }
    if (format != nullptr) {
        amatSetMessage(format, name, nrow, ncol, fileName, required);
        return 2;
    }
    return 0;
}

// The type delivered for a request and the stored type; voidMatrix when the
// request's type is unknown.
AmatType chooseType(AmatType request, AmatType stored, int preferredReal) {
    bool floating = stored == realMatrix || stored == doubleMatrix;
    switch (request) {
    case voidMatrix:
        if (floating && preferredReal == 2) return realMatrix;
        if (floating && preferredReal == 3) return doubleMatrix;
        return stored;
    case integerMatrix:
    case realMatrix:
    case charMatrix:
    case realRowMatrix: return request;
    case doubleMatrix: return stored == realMatrix ? realMatrix : doubleMatrix;
    case doubleRowMatrix: return stored == realMatrix ? realRowMatrix : doubleRowMatrix;
    default: return voidMatrix;
    }
}

void freeRows(void** rows, int32_t n) {
    if (rows == nullptr) return;
    for (int32_t i = 0; i < n; ++i) free(rows[i]);
    free(rows);
}

// Allocates the storage of current for its delivered type; 4 on failure.
int allocate(const AmatGetFile* file, AmatMatrix* m) {
    int64_t rows = m->nrow > 1 ? m->nrow : 1;
    int64_t n = rows * m->ncol;
    size_t count = static_cast<size_t>(n);
    bool ok = true;
    switch (m->type) {
    case integerMatrix: m->data = malloc(count * sizeof(int32_t)); break;
    case realMatrix: m->data = malloc(count * sizeof(float)); break;
    case doubleMatrix: m->data = malloc(count * sizeof(double)); break;
    case charMatrix: m->data = calloc(static_cast<size_t>(rows), sizeof(char*)); break;
    default: {
        size_t element = m->type == realRowMatrix ? sizeof(float) : sizeof(double);
        m->rowCapacity = m->nrow > 10 ? m->nrow : 10;
        m->rowNext = 0;
        void** pointers = static_cast<void**>(calloc(static_cast<size_t>(m->rowCapacity), sizeof(void*)));
        m->data = pointers;
        for (int32_t i = 0; pointers != nullptr && i < m->nrow && ok; ++i) {
            pointers[i] = malloc(static_cast<size_t>(m->ncol) * element);
            ok = pointers[i] != nullptr;
        }
        if (!ok) {
            freeRows(pointers, m->nrow);
            m->data = nullptr;
        }
    }
    }
    if (m->data == nullptr) {
        amatSetMessage("Error when reading numeric matrix \"%.400s(%d,%d)\" from file\n\"%.400s\", since it is not "
                       "possible to allocate storage for\n%d numeric elements.\n",
                       m->name, m->nrow, m->ncol, file->fileName, static_cast<int>(n > INT32_MAX ? INT32_MAX : n));
        return 4;
    }
    return 0;
}

// A file can hold at most as many elements as its remaining bytes allow.
bool fitsInFile(const AmatGetFile* file, const AmatMatrix* m, const Stored& stored) {
    int64_t elements = static_cast<int64_t>(m->nrow) * m->ncol;
    if (file->format == amatBinaryFormat) {
        const int64_t size = static_cast<int64_t>(storedSize(stored));
        return elements <= kUncheckedData / size || elements <= amatRemainingBytes(file->fp) / size;
    }
    return (m->type == charMatrix ? m->nrow : elements) <= amatRemainingBytes(file->fp);
}

void releaseStorage(AmatMatrix* m, bool ownName, bool ownData) {
    if (ownName) free(m->name);
    if (ownData) {
        if (m->type == charMatrix) amatFreeStrings(static_cast<char**>(m->data), m->nrow);
        else if (m->type == realRowMatrix || m->type == doubleRowMatrix) freeRows(static_cast<void**>(m->data), m->nrow);
        else free(m->data);
    }
    m->name = nullptr;
    m->data = nullptr;
}

void closeStream(AmatGetFile* file) {
    if (file->fp != nullptr) fclose(file->fp);
    file->fp = nullptr;
}

} // namespace

extern "C" int amatGetMatrix(AmatGetFile* file, AmatMatrix* matrix, int preferredReal, const long* position,
                             int trimBlanks) {
    if (file == nullptr || matrix == nullptr) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    if (file->fp == nullptr) {
        amatSetMessage("Not possible to read a matrix from file \"%.400s\": the file is not open.\n",
                       file->fileName != nullptr ? file->fileName : "");
        return 4;
    }
    AmatMatrix* m = &file->current;
    amatInitMatrix(m);
    if (position != nullptr && fseek(file->fp, *position, SEEK_SET) != 0) {
        amatSetMessage("Not possible to move to position %ld of file \"%.400s\":\n%.400s\n", *position, file->fileName,
                       strerror(errno));
        return 4;
    }
    Stored stored;
    int result = file->format == amatBinaryFormat ? readBinaryDeclaration(file, matrix->name, m, &stored)
                                                   : amatReadTextDeclaration(file, matrix->name, m);
    if (file->format != amatBinaryFormat) stored.type = m->type;
    bool ownName = matrix->name == nullptr;
    bool callerData = matrix->data != nullptr;
    if (result == 0) {
        // A request with its own storage always has its sizes checked, so
        // that the storage cannot be overrun; a position only moves the stream.
        result = checkRequest(file, matrix, m);
    }
    AmatType chosen = voidMatrix;
    if (result <= 1) {
        chosen = chooseType(matrix->type, stored.type, preferredReal);
        if (chosen == voidMatrix) {
            amatSetMessage("Error should never occur when reading matrix \"%.400s(%d,%d)\"\nfrom file \"%.400s\" "
                           "(matrix->type = %d)\n",
                           m->name, m->nrow, m->ncol, file->fileName, static_cast<int>(matrix->type));
            result = 4;
        }
    }
    if (result == 1) {
        if (ownName) matrix->name = m->name;
        matrix->nrow = 0;
        matrix->ncol = 0;
        matrix->type = chosen;
        m->name = nullptr;
        return 1;
    }
    if (result == 0 && callerData) {
        bool rowType = chosen == realRowMatrix || chosen == doubleRowMatrix;
        if (rowType || matrix->nrow == 0 || (matrix->ncol == 0 && chosen != charMatrix) || matrix->type == voidMatrix) {
            amatSetMessage("Programming error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\".\nFunction "
                           "amatGetMatrix is called with storage supplied for the\nmatrix data (matrix.data != NULL), "
                           "but row dimension, column dimension\nand matrix type are not all predefined\n(matrix.nrow "
                           "= %d, matrix.ncol = %d, matrix.type = %.400s)\n",
                           m->name, m->nrow, m->ncol, file->fileName, matrix->nrow, matrix->ncol,
                           amatTypeName(matrix->type));
            result = 4;
        }
    }
    if (result == 0) {
        m->type = chosen;
        if (!fitsInFile(file, m, stored)) {
            result = chosen == charMatrix ? textDataError(file, m, "End-Of-File reached.") : amatNumericDataError(file, m);
        } else if (callerData) {
            m->data = matrix->data;
        } else {
            result = allocate(file, m);
        }
    }
    if (result == 0) {
        if (file->format != amatBinaryFormat) result = amatReadTextData(file, m, stored.type);
        else if (chosen == charMatrix) result = readBinaryChar(file, m, stored, trimBlanks);
        else result = readBinaryNumeric(file, m, stored);
        if (result == 0 && (chosen == realRowMatrix || chosen == doubleRowMatrix)) m->rowNext = m->nrow;
    }
    if (result != 0) {
        releaseStorage(m, ownName, !callerData);
        return result == 2 || result == 3 ? result : 4;
    }
    if (ownName) matrix->name = m->name;
    matrix->nrow = m->nrow;
    matrix->ncol = m->ncol;
    matrix->type = chosen;
    matrix->rowCapacity = m->rowCapacity;
    matrix->rowNext = m->rowNext;
    matrix->data = m->data;
    m->name = nullptr;
    m->data = nullptr;
    return 0;
}

extern "C" int amatGetNextMatrix(AmatGetFile* file, AmatMatrix* matrix) {
    return amatGetMatrix(file, matrix, 0, nullptr, 1);
}

namespace {

bool sameText(const char* row, const char* wanted) {
    return strcmp(row != nullptr ? row : "", wanted != nullptr ? wanted : "") == 0;
}

int readClassMatrix(AmatGetFile* file, const char* className, const char* version) {
    AmatMatrix* cls = &file->classMatrix;
    amatInitMatrix(cls);
    cls->type = charMatrix;
    int r = amatGetMatrix(file, cls, 0, nullptr, 1);
    if (r != 0) {
        // A class matrix without elements comes back named but empty.
        free(cls->name);
        amatInitMatrix(cls);
        return r == 1 || r == 2 ? 1 : r == 3 ? 4 : 5;
    }
    const char* fileName = file->fileName;
    char* name = cls->name;
    cls->name = const_cast<char*>(strcmp(name, "Aclass") == 0 ? "Aclass" : "class");
    if (strcmp(name, "Aclass") != 0 && strcmp(name, "class") != 0) {
        amatSetMessage("Not possible to read matrices from file \"%.400s\",\nbecause the first matrix on file "
                       "(=\"%.400s\")\nhas not the name \"class\" or \"Aclass\".\n",
                       fileName, name);
        free(name);
        return 2;
    }
    free(name);
    char** rows = static_cast<char**>(cls->data);
    if (cls->nrow < 3) {
        amatSetMessage("Not possible to read matrices from file \"%.400s\",\nbecause matrix \"Aclass\" has less than 3 "
                       "rows.\n(in the first row the class-name, in the second row\nthe version-number and in the third "
                       "row the description text\nmust be stored)\n",
                       fileName);
        return 5;
    }
    if (className == nullptr || !sameText(rows[0], className)) {
        amatSetMessage("Not possible to read matrices from file \"%.400s\",\nbecause the class name (= \"%.400s\") does "
                       "not correspond to\nthe required class name (= \"%.400s\").\nNote, that the class name is stored "
                       "in the first row\nof the first matrix \"Aclass\" on file.\n",
                       fileName, rows[0] != nullptr ? rows[0] : "", className != nullptr ? className : "");
        return 2;
    }
    if (version != nullptr && !sameText(rows[1], version)) {
        amatSetMessage("Not possible to read matrices from file \"%.400s\",\nbecause the version number  (= \"%.400s\") "
                       "does not correspond to\nthe required version number (= \"%.400s\").\nNote, that the version "
                       "number is stored in the second row\nof the first matrix \"Aclass\" on file.\n",
                       fileName, rows[1] != nullptr ? rows[1] : "", version);
        return 3;
    }
    if (cls->nrow > 3 && sameText(rows[3], "binTrans")) file->binTrans = 1;
    return 0;
}

int firstCharError(AmatGetFile* file, const char* fileName) {
    amatSetMessage("Error reading first character from file \"%.400s\":\n%.400s\n", fileName, readError(file->fp));
    closeStream(file);
    return 5;
}

int openError(const char* fileName) {
    amatSetMessage("Not possible to open file \"%.400s\": %.400s\n", fileName, strerror(errno));
    return 5;
}

} // namespace

extern "C" int amatGetOpen(const char* fileName, const char* className, const char* version, AmatGetFile* file) {
    if (file == nullptr || fileName == nullptr) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    memset(file, 0, sizeof *file);
    amatInitMatrix(&file->classMatrix);
    amatInitMatrix(&file->current);
    errno = 0;
    file->fp = fopen(fileName, "r");
    if (file->fp == nullptr) return openError(fileName);
    int c = getc(file->fp);
    if (c == EOF) return firstCharError(file, fileName);
    if (c == 0xEF) {
        int b = getc(file->fp);
        int f = b == 0xBB ? getc(file->fp) : EOF;
        if (b == 0xBB && f == 0xBF) {
            c = getc(file->fp);
        } else {
            closeStream(file);
            file->fp = fopen(fileName, "r");
            if (file->fp == nullptr) return openError(fileName);
            c = getc(file->fp);
        }
        if (c == EOF) return firstCharError(file, fileName);
    }
    if (c == '#') {
        file->format = amatTextFormat;
        int d = getc(file->fp);
        if (d != '1') {
            int code = 5;
            if (d == EOF && !ferror(file->fp)) {
                amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", fileName, eofText);
                code = 4;
            } else if (d == EOF) {
                amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", fileName, strerror(errno));
            } else {
                amatSetMessage("Error reading format and version information in first line of \nfile \"%.400s\": "
                               "\"#%.400s\" expected, but \"#%c\" found.\n",
                               fileName, "1", d);
            }
            closeStream(file);
            return code;
        }
    } else {
        file->format = amatBinaryFormat;
        closeStream(file);
        file->fp = fopen(fileName, "rb");
        if (file->fp == nullptr) return openError(fileName);
    }
    file->fileName = amatCopyText(fileName);
    if (file->fileName == nullptr) {
        amatSetMessage("Not possible to allocate enough storage in order to open\nfile \"%.400s\" for reading of "
                       "matrices:\n%.400s\n",
                       fileName, strerror(ENOMEM));
        closeStream(file);
        return 5;
    }
    if (className != nullptr && strcmp(className, "NoClass") == 0) return 0;
    int result = readClassMatrix(file, className, version);
    if (result != 0) amatGetClose(file);
    return result;
}

extern "C" void amatGetClose(AmatGetFile* file) {
    if (file == nullptr || (file->fp == nullptr && file->fileName == nullptr)) return;
    closeStream(file);
    free(file->fileName);
    file->fileName = nullptr;
    amatFreeStrings(static_cast<char**>(file->classMatrix.data), file->classMatrix.nrow);
    amatInitMatrix(&file->classMatrix);
    amatInitMatrix(&file->current);
    file->format = amatTextFormat;
    file->binTrans = 0;
}

// Writing matrix files: opening with the class matrix, whole matrices in the
// binary and text forms, and closing. Row-wise writing is in amat_rows.cpp.
#include "amat_internal.h"

#include "locale_c.h"

#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

const char* amatPutFileName(const AmatPutFile* file) {
    return file->fileName != nullptr ? file->fileName : "stdout";
}

int amatPutStreamError(const AmatPutFile* file, const char* name, int32_t nrow, int32_t ncol) {
    amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\n%.400s\n", name, nrow, ncol,
                   amatPutFileName(file), errno != 0 ? strerror(errno) : "write failed");
    return 1;
}

bool amatWriteBytes(FILE* fp, const void* data, size_t size, size_t count) {
    return count == 0 || fwrite(data, size, count, fp) == count;
}

bool amatWriteHeader(AmatPutFile* file, const char* name) {
    static_assert(sizeof(AmatHeader) == 20, "binary header is 20 bytes");
    return amatWriteBytes(file->fp, &file->header, sizeof file->header, 1) &&
           amatWriteBytes(file->fp, name, 1, strlen(name) + 1);
}

namespace {

int64_t rowLength(const char* row) { return row != nullptr ? static_cast<int64_t>(strlen(row)) : 0; }

int64_t longestRow(const AmatMatrix* matrix) {
    const char* const* rows = static_cast<const char* const*>(matrix->data);
    int64_t width = 0;
    for (int32_t r = 0; rows != nullptr && r < matrix->nrow; ++r) {
        int64_t n = rowLength(rows[r]);
        if (n > width) width = n;
    }
    return width;
}

size_t elementSize(AmatType type) {
    return (type == doubleMatrix || type == doubleRowMatrix) ? sizeof(double) : 4;
}

// Address of element (i, j) of a numeric matrix, whichever way it is kept.
const char* elementAt(const AmatMatrix* matrix, int32_t i, int32_t j) {
    size_t size = elementSize(matrix->type);
    if (matrix->type == realRowMatrix || matrix->type == doubleRowMatrix) {
        const char* row = static_cast<const char* const*>(matrix->data)[i];
        return row + size * static_cast<size_t>(j);
    }
    size_t index = static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(matrix->nrow);
    return static_cast<const char*>(matrix->data) + size * index;
}

double valueAt(const AmatMatrix* matrix, int32_t i, int32_t j) {
    const char* p = elementAt(matrix, i, j);
    switch (matrix->type) {
    case integerMatrix: { int32_t v; memcpy(&v, p, 4); return v; }
    case realMatrix:
    case realRowMatrix: { float v; memcpy(&v, p, 4); return v; }
    default: { double v; memcpy(&v, p, 8); return v; }
    }
}

uint32_t binaryTypeWord(AmatType type) {
    switch (type) {
    case integerMatrix: return 20;
    case realMatrix:
    case realRowMatrix: return 10;
    case charMatrix: return 51;
    default: return 0;
    }
}

// Records the stream position of element (1, 0) of a 2-row real or double
// matrix, so a later header rewrite can put a value there.
void recordPatch(AmatPutFile* file, AmatType type) {
    long pos = ftell(file->fp);
    if (pos < 0) {
        file->patchPos = 0;
        return;
    }
    file->patchPos = pos;
    file->patchType = type == realMatrix ? 5 : 6;
    file->patchState = 2;
}

bool writeBinaryChar(AmatPutFile* file, const AmatMatrix* matrix, int64_t width, char fill) {
    const char* const* rows = static_cast<const char* const*>(matrix->data);
    FILE* fp = file->fp;
    bool ok = true;
    if (file->bstruct == binNormal) {
        for (int64_t p = 0; p < width && ok; ++p) {
            for (int32_t r = 0; r < matrix->nrow && ok; ++r) {
                int64_t n = rowLength(rows[r]);
                int c = p < n ? static_cast<unsigned char>(rows[r][p]) : p == n ? 0 : static_cast<unsigned char>(fill);
                ok = putc(c, fp) != EOF;
            }
        }
    } else {
        for (int32_t r = 0; r < matrix->nrow && ok; ++r) {
            int64_t n = rowLength(rows[r]);
            ok = amatWriteBytes(fp, rows[r], 1, static_cast<size_t>(n));
            for (int64_t p = n; p < width && ok; ++p) ok = putc(static_cast<unsigned char>(fill), fp) != EOF;
        }
    }
    return ok;
}

bool writeBinaryNumeric(AmatPutFile* file, const AmatMatrix* matrix) {
    FILE* fp = file->fp;
    size_t size = elementSize(matrix->type);
    bool block = matrix->type == integerMatrix || matrix->type == realMatrix || matrix->type == doubleMatrix;
    bool patch = file->patchState == 1 && (matrix->type == realMatrix || matrix->type == doubleMatrix) &&
                 matrix->nrow == 2 && matrix->ncol >= 1;
    size_t count = static_cast<size_t>(matrix->nrow) * static_cast<size_t>(matrix->ncol);
    if (file->bstruct == binNormal) {
        if (block) {
            const char* data = static_cast<const char*>(matrix->data);
            if (!patch) return amatWriteBytes(fp, data, size, count);
            if (!amatWriteBytes(fp, data, size, 1)) return false;
            recordPatch(file, matrix->type);
            return amatWriteBytes(fp, data + size, size, count - 1);
        }
        for (int32_t j = 0; j < matrix->ncol; ++j)
            for (int32_t i = 0; i < matrix->nrow; ++i)
                if (!amatWriteBytes(fp, elementAt(matrix, i, j), size, 1)) return false;
        return true;
    }
    for (int32_t i = 0; i < matrix->nrow; ++i) {
        if (patch && i == 1) recordPatch(file, matrix->type);
        if (!block) {
            if (!amatWriteBytes(fp, elementAt(matrix, i, 0), size, static_cast<size_t>(matrix->ncol))) return false;
            continue;
        }
        for (int32_t j = 0; j < matrix->ncol; ++j)
            if (!amatWriteBytes(fp, elementAt(matrix, i, j), size, 1)) return false;
    }
    return true;
}

int writeBinary(AmatPutFile* file, const AmatMatrix* matrix, char fill) {
    int64_t width = matrix->type == charMatrix ? longestRow(matrix) : matrix->ncol;
    if (width > INT32_MAX) width = INT32_MAX;
    int32_t ncol = static_cast<int32_t>(width);
    AmatHeader& h = file->header;
    h.type = static_cast<int32_t>(binaryTypeWord(matrix->type));
    h.imagf = 0;
    h.namlen = static_cast<int32_t>(strlen(matrix->name) + 1);
    bool trans = file->bstruct == binTrans;
    h.mrows = trans ? ncol : matrix->nrow;
    h.ncols = trans ? matrix->nrow : ncol;
    errno = 0;
    bool ok = amatWriteHeader(file, matrix->name);
    if (ok && static_cast<int64_t>(matrix->nrow) * width > 0)
        ok = matrix->type == charMatrix ? writeBinaryChar(file, matrix, width, fill) : writeBinaryNumeric(file, matrix);
    if (!ok || ferror(file->fp)) return amatPutStreamError(file, matrix->name, matrix->nrow, ncol);
    return 0;
}

// ---- Text form ----

int digitCount(int64_t v) {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

// Writes text with a backslash doubled and a newline as backslash-n.
void writeEscaped(FILE* fp, const char* text) {
    if (text == nullptr) return;
    if (strpbrk(text, "\\\n") == nullptr) {
        fputs(text, fp);
        return;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') fputs("\\n", fp);
        else if (*p == '\\') fputs("\\\\", fp);
        else putc(*p, fp);
    }
}

void writeRowEnd(FILE* fp, const char* const* rowNames, int indent, int32_t i) {
    if (rowNames != nullptr) {
        const char* name = rowNames[i] != nullptr ? rowNames[i] : "";
        if (indent > 0) {
            fprintf(fp, "%*s# ", indent - 1, "");
            writeEscaped(fp, name);
        } else {
            fputs(name, fp);
        }
    }
    putc('\n', fp);
}

void writeTextInt(FILE* fp, const AmatMatrix* m, const char* const* rowNames, int indent) {
    int64_t largest = 0;
    bool negative = false;
    for (int32_t j = 0; j < m->ncol; ++j)
        for (int32_t i = 0; i < m->nrow; ++i) {
            int64_t v = static_cast<int64_t>(valueAt(m, i, j));
            if (v < 0) negative = true;
            if ((v < 0 ? -v : v) > largest) largest = v < 0 ? -v : v;
        }
    int w = digitCount(largest) + (negative ? 1 : 0);
    for (int32_t i = 0; i < m->nrow; ++i) {
        for (int32_t j = 0; j < m->ncol; ++j) {
            if (j > 0 && j % 7 == 0) fputs("\n    ", fp);
            fprintf_C(fp, " %*d", w, static_cast<int32_t>(valueAt(m, i, j)));
        }
        writeRowEnd(fp, rowNames, indent, i);
    }
}

// A value whose integer part lies in -100000..100000 is written as an integer.
bool smallIntegral(double v) { return v == floor(v) && v >= -100000.0 && v <= 100000.0; }

double clip(double v, double limit) { return v > limit ? limit : v < -limit ? -limit : v; }

void writeTextFloat(FILE* fp, const AmatMatrix* m, const char* const* rowNames, int indent) {
    for (int32_t i = 0; i < m->nrow; ++i) {
        for (int32_t j = 0; j < m->ncol; ++j) {
            if (j > 0 && j % 5 == 0) fputs("\n    ", fp);
            double v = clip(valueAt(m, i, j), 3.4028234663852886e38);
            if (smallIntegral(v)) fprintf_C(fp, " %7d       ", static_cast<int>(v));
            else fprintf_C(fp, " %14.7E", v);
        }
        writeRowEnd(fp, rowNames, indent, i);
    }
}

bool writeTextDouble(FILE* fp, const AmatMatrix* m, const char* const* rowNames, int indent) {
    // Width of every column that holds only integral values below 10000000 in
    // magnitude; 0 for any other column.
    int* widths = static_cast<int*>(calloc(m->ncol > 0 ? static_cast<size_t>(m->ncol) : 1, sizeof(int)));
    if (widths == nullptr) return false;
    for (int32_t j = 0; j < m->ncol; ++j) {
        int d = 0;
        for (int32_t i = 0; i < m->nrow; ++i) {
            double v = valueAt(m, i, j);
            if (!(v == floor(v) && fabs(v) < 10000000.0)) {
                d = 0;
                break;
            }
            int n = digitCount(static_cast<int64_t>(fabs(v)));
            if (n > d) d = n;
        }
        widths[j] = d;
    }
    for (int32_t i = 0; i < m->nrow; ++i) {
        int count = 0;
        for (int32_t j = 0; j < m->ncol; ++j) {
            if (count > 70) {
                putc('\n', fp);
                count = 0;
            }
            double v = clip(valueAt(m, i, j), 1.7976931348623157e308);
            if (widths[j] > 0) {
                fprintf_C(fp, " %*d", widths[j] + 1, static_cast<int>(v));
                count += widths[j] + 2;
            } else {
                if (smallIntegral(v)) fprintf_C(fp, " %7d                ", static_cast<int>(v));
                else fprintf_C(fp, " %23.16E", v);
                count += 24;
            }
        }
        writeRowEnd(fp, rowNames, indent, i);
    }
    free(widths);
    return true;
}

int writeText(AmatPutFile* file, const AmatMatrix* m, const char* comment, const char* const* rowNames, int indent) {
    FILE* fp = file->fp;
    errno = 0;
    if (comment != nullptr) fprintf(fp, "%s\n", comment);
    bool ok = true;
    if (m->type == charMatrix) {
        int64_t width = longestRow(m);
        if (m->ncol > width) width = m->ncol;
        if (width > INT32_MAX) width = INT32_MAX;
        fprintf_C(fp, "char %s(%d,%d)\n", m->name, m->nrow, static_cast<int32_t>(width));
        const char* const* rows = static_cast<const char* const*>(m->data);
        for (int32_t r = 0; r < m->nrow; ++r) {
            writeEscaped(fp, rows != nullptr ? rows[r] : nullptr);
            putc('\n', fp);
        }
    } else if (m->type == integerMatrix) {
        fprintf_C(fp, "int %s(%d,%d)\n", m->name, m->nrow, m->ncol);
        writeTextInt(fp, m, rowNames, indent);
    } else if (m->type == realMatrix || m->type == realRowMatrix) {
        fprintf_C(fp, "float %s(%d,%d)\n", m->name, m->nrow, m->ncol);
        writeTextFloat(fp, m, rowNames, indent);
    } else {
        fprintf_C(fp, "double %s(%d,%d)\n", m->name, m->nrow, m->ncol);
        ok = writeTextDouble(fp, m, rowNames, indent);
        if (!ok) {
            amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\n%.400s\n", m->name,
                           m->nrow, m->ncol, amatPutFileName(file), "not enough memory\n");
            return 1;
        }
    }
    putc('\n', fp);
    if (ferror(fp)) return amatPutStreamError(file, m->name, m->nrow, m->ncol);
    return 0;
}

// Closes the stream (standard output is flushed, never closed) and releases
// the names; a failed flush or close is reported.
int closeStream(AmatPutFile* file, bool report) {
    int result = 0;
    if (file->fp != nullptr) {
        errno = 0;
        bool failed = ferror(file->fp) != 0;
        failed = fflush(file->fp) != 0 || failed;
        if (file->isFile) failed = fclose(file->fp) != 0 || failed;
        if (failed && report) {
            amatSetMessage("Error when closing file \"%.400s\":\n%.400s\n", amatPutFileName(file),
                           errno != 0 ? strerror(errno) : "write failed");
        }
        result = failed ? 1 : 0;
    }
    free(file->fileName);
    free(file->rowName);
    file->fileName = nullptr;
    file->rowName = nullptr;
    file->fp = nullptr;
    return result;
}

} // namespace

extern "C" int amatPutOpen(const char* fileName, FileFormat format, AmatBinStruct bstruct, const char* className,
                           const char* version, const char* description, AmatPutFile* file) {
    if (file == nullptr) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    memset(file, 0, sizeof *file);
    file->format = format;
    file->rowType = voidMatrix;
    if (fileName != nullptr && fileName[0] != '\0') {
        file->fp = fopen(fileName, format == amatBinaryFormat ? "wb" : "w");
        if (file->fp == nullptr) {
            amatSetMessage("Error opening file \"%.400s\": %.400s, please make sure it is a valid file name and the "
                           "running process have write access to the current working directory\n",
                           fileName, strerror(errno));
            return 1;
        }
        file->isFile = 1;
        file->fileName = amatCopyText(fileName);
        if (file->fileName == nullptr) {
            amatSetMessage("Not possible to allocate enough storage in order to open\nfile \"%.400s\" for writing of "
                           "matrices:\n%.400s\n",
                           fileName, strerror(ENOMEM));
            fclose(file->fp);
            file->fp = nullptr;
            return 1;
        }
    } else {
        file->fp = stdout;
    }
    bool hasClass = className != nullptr && className[0] != '\0';
    errno = 0;
    int failed = format == amatTextFormat && fputs("#1\n", file->fp) < 0;
    if (!failed && hasClass) {
        const char* rows[4] = {className, version != nullptr ? version : " ",
                               description != nullptr ? description : " ",
                               bstruct == binTrans ? "binTrans" : "binNormal"};
        AmatMatrix aclass;
        amatSetMatrix(const_cast<char*>("Aclass"), format != amatTextFormat ? 4 : 3, 0, charMatrix, rows, &aclass);
        failed = amatPutMatrix(file, &aclass);
    }
    if (failed) {
        int error = errno;
        amatSetMessage("Error writing class description of class \"%.400s\" to\nfile \"%.400s\":\n%.400s\n",
                       hasClass ? className : "", amatPutFileName(file), error != 0 ? strerror(error) : "write failed");
        closeStream(file, false);
        return 1;
    }
    file->bstruct = bstruct;
    return 0;
}

extern "C" int amatPutClose(AmatPutFile* file) {
    if (file == nullptr) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    if (file->fp == nullptr) return 0;
    return closeStream(file, true);
}

extern "C" int amatPutMatrix(AmatPutFile* file, const AmatMatrix* matrix) {
    return amatPutMatrixOpt(file, matrix, nullptr, nullptr, 0, ' ');
}

extern "C" int amatPutMatrixComment(AmatPutFile* file, const AmatMatrix* matrix, const char* comment,
                                    const char* const* rowNames, int indent) {
    return amatPutMatrixOpt(file, matrix, comment, rowNames, indent, ' ');
}

extern "C" int amatPutMatrixFill(AmatPutFile* file, const AmatMatrix* matrix, char fill) {
    return amatPutMatrixOpt(file, matrix, nullptr, nullptr, 0, fill);
}

extern "C" int amatPutMatrixOpt(AmatPutFile* file, const AmatMatrix* matrix, const char* comment,
                                const char* const* rowNames, int indent, char fill) {
    if (file == nullptr || matrix == nullptr || matrix->name == nullptr) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    const char* name = matrix->name;
    if (file->fp == nullptr) {
        amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\nThe file is not open.\n", name,
                       matrix->nrow, matrix->ncol, amatPutFileName(file));
        return 1;
    }
    if (file->rowName != nullptr) {
        // Rows of the open row-wise matrix are appended at the end of the file.
        amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\nMatrix \"%.400s\" is being "
                       "written row-wise; call amatPutRclose first.\n",
                       name, matrix->nrow, matrix->ncol, amatPutFileName(file), file->rowName);
        return 1;
    }
    if (matrix->type == voidMatrix) {
        amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\nThe datatype of the matrix is "
                       "not specified (matrix.type = voidMatrix).\n",
                       name, matrix->nrow, matrix->ncol, amatPutFileName(file));
        return 1;
    }
    if (matrix->type > doubleRowMatrix) {
        amatSetMessage("Error should never occur when writing matrix \"%.400s(%d,%d)\" to\nfile \"%.400s\" "
                       "(matrix.type = %d)\n",
                       name, matrix->nrow, matrix->ncol, amatPutFileName(file), static_cast<int>(matrix->type));
        return 1;
    }
    bool empty = static_cast<int64_t>(matrix->nrow) * matrix->ncol == 0 && matrix->type != charMatrix;
    if (matrix->nrow < 0 || matrix->ncol < 0 || (matrix->data == nullptr && matrix->nrow > 0 && !empty)) {
        amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\nThe dimensions must be >= 0 "
                       "and the data must be given.\n",
                       name, matrix->nrow, matrix->ncol, amatPutFileName(file));
        return 1;
    }
    if (file->format == amatBinaryFormat) return writeBinary(file, matrix, fill);
    if (file->format == amatTextFormat) return writeText(file, matrix, comment, rowNames, indent);
    amatSetMessage("Error should never occur when writing matrix \"%.400s\" to\nfile \"%.400s\" (file.format = %d)\n",
                   name, amatPutFileName(file), static_cast<int>(file->format));
    return 1;
}

extern "C" int amatWriteFile(const char* fileName, FileFormat format, const AmatMatrix* matrix) {
    if (matrix == nullptr) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    AmatPutFile file;
    if (amatPutOpen(fileName, format, binNormal, "", nullptr, nullptr, &file) != 0) return 1;
    int result = amatPutMatrix(&file, matrix) != 0 ? 1 : 0;
    if (result != 0) {
        closeStream(&file, false);
        return 1;
    }
    return amatPutClose(&file) != 0 ? 1 : 0;
}

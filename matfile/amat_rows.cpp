// Writing one matrix row by row. After every row the header (binary) or the
// declaration (text) is rewritten in place and the stream flushed, so the file
// on disk is always complete and readable while it grows.
#include "amat_internal.h"

#include "locale_c.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char* systemError() { return errno != 0 ? strerror(errno) : "write failed"; }

int rowWiseError(const AmatPutFile* file, const char* name) {
    amatSetMessage("Error when writing matrix \"%.400s\" row-wise to file \"%.400s\":\n%.400s\n", name,
                   amatPutFileName(file), systemError());
    return 1;
}

int formatError(const AmatPutFile* file, const char* name) {
    amatSetMessage("Error should never occur when writing matrix \"%.400s\" to\nfile \"%.400s\" (file.format = %d)\n",
                   name, amatPutFileName(file), static_cast<int>(file->format));
    return 1;
}

// Checks what every row-wise call after the start needs.
int checkOpenRows(AmatPutFile* file, const char* function) {
    if (file == nullptr) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    if (file->fp == nullptr || file->rowName == nullptr) {
        amatSetMessage("Function %.40s is called for file \"%.400s\", but no matrix is being written row-wise\n"
                       "(amatPutRinit must be called first).\n",
                       function, amatPutFileName(file));
        return 1;
    }
    return 0;
}

// Rewrites the binary header of the row-wise matrix (and a pending patch
// value) in place, then returns to the end of the written data.
int rewriteHeader(AmatPutFile* file) {
    FILE* fp = file->fp;
    errno = 0;
    long end = ftell(fp);
    if (end < 0) return rowWiseError(file, file->rowName);
    if (file->patchState == 3) {
        file->patchState = 0;
        bool ok = fseek(fp, file->patchPos, SEEK_SET) == 0;
        if (ok && file->patchType == 6) ok = amatWriteBytes(fp, &file->patchValue, sizeof(double), 1);
        else if (ok) {
            float value = static_cast<float>(file->patchValue);
            ok = amatWriteBytes(fp, &value, sizeof value, 1);
        }
        if (!ok) return rowWiseError(file, file->rowName);
    }
    if (fseek(fp, file->headerPos, SEEK_SET) != 0 || !amatWriteBytes(fp, &file->header, sizeof file->header, 1) ||
        fseek(fp, end, SEEK_SET) != 0)
        return rowWiseError(file, file->rowName);
    return 0;
}

// Rewrites the sizes of the text declaration over the room reserved for them.
int rewriteDeclaration(AmatPutFile* file) {
    FILE* fp = file->fp;
    errno = 0;
    long end = ftell(fp);
    if (end < 0 || fseek(fp, file->headerPos, SEEK_SET) != 0 ||
        fprintf_C(fp, "(%d,%d) ", file->rowCount, file->rowNcol) < 0 || fseek(fp, end, SEEK_SET) != 0)
        return rowWiseError(file, file->rowName);
    return 0;
}

int flush(AmatPutFile* file) {
    errno = 0;
    if (fflush(file->fp) != 0 || ferror(file->fp)) return rowWiseError(file, file->rowName);
    return 0;
}

bool writeBinaryRow(AmatPutFile* file, const float* row) {
    size_t n = static_cast<size_t>(file->rowNcol);
    if (file->rowType == realMatrix) return amatWriteBytes(file->fp, row, sizeof(float), n);
    // A double matrix keeps its 8-byte elements, as its header says.
    double buffer[256];
    for (size_t done = 0; done < n;) {
        size_t chunk = n - done < 256 ? n - done : 256;
        for (size_t k = 0; k < chunk; ++k) buffer[k] = row[done + k];
        if (!amatWriteBytes(file->fp, buffer, sizeof(double), chunk)) return false;
        done += chunk;
    }
    return true;
}

bool writeTextRow(AmatPutFile* file, const float* row) {
    FILE* fp = file->fp;
    for (int32_t j = 0; j < file->rowNcol; ++j) {
        if (j > 0 && j % 5 == 0 && fputs("\n    ", fp) < 0) return false;
        if (fprintf_C(fp, " %14.7E", static_cast<double>(row[j])) < 0) return false;
    }
    return putc('\n', fp) != EOF;
}

} // namespace

extern "C" int amatPutRinit(AmatPutFile* file, const char* name, int32_t ncol, AmatType type) {
    if (file == nullptr || name == nullptr) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    if (file->fp == nullptr) {
        amatSetMessage("Not possible to write matrix \"%.400s\" row-wise: the file is not open.\n", name);
        return 1;
    }
    if (file->rowName != nullptr) {
        amatSetMessage("Not possible to start writing matrix \"%.400s\" row-wise to file \"%.400s\",\nbecause matrix "
                       "\"%.400s\" is still being written row-wise (call amatPutRclose first).\n",
                       name, amatPutFileName(file), file->rowName);
        return 1;
    }
    if (!file->isFile) {
        amatSetMessage("Not possible to use functions amatPutRxxx, in order to write\nmatrix \"%.400s\" row-wise, "
                       "because output stream is no file, but stdout.\n",
                       name);
        return 1;
    }
    if (type == realRowMatrix) type = realMatrix;
    if (type == doubleRowMatrix) type = doubleMatrix;
    if (type != realMatrix && type != doubleMatrix) {
        amatSetMessage("Wrong argument \"type\" (= %d) in function amatPutRinit,\nwhen initializing writing of matrix "
                       "\"%.400s\" to file \"%.400s\".\n(type = realMatrix or doubleMatrix required).\n",
                       static_cast<int>(type), name, amatPutFileName(file));
        return 1;
    }
    if (ncol < 0) {
        amatSetMessage("Wrong argument \"ncol\" (= %d) in function amatPutRinit,\nwhen initializing writing of matrix "
                       "\"%.400s\" to file \"%.400s\".\n(ncol >= 0 required).\n",
                       ncol, name, amatPutFileName(file));
        return 1;
    }
    if (file->bstruct != binTrans) {
        amatSetMessage("In order to write matrix \"%.400s\" row-wise to file \"%.400s\",\nthe file has to be opened with "
                       "\"bstruct = binTrans\" and not\nwith \"bstruct = binNormal\" (function amatPutOpen).\n",
                       name, amatPutFileName(file));
        return 1;
    }
    if (file->format != amatBinaryFormat && file->format != amatTextFormat) return formatError(file, name);
    file->rowName = amatCopyText(name);
    if (file->rowName == nullptr) {
        amatSetMessage("Not possible to allocate enough storage in order to open\nfile \"%.400s\" for writing of "
                       "matrix \"%.400s\":\n%.400s\n",
                       amatPutFileName(file), name, strerror(ENOMEM));
        return 1;
    }
    file->rowType = type;
    file->rowNcol = ncol;
    file->rowCount = 0;
    errno = 0;
    long pos = ftell(file->fp);
    bool ok = pos >= 0;
    if (ok && file->format == amatBinaryFormat) {
        file->headerPos = pos;
        file->header.type = type == doubleMatrix ? 0 : 10;
        file->header.mrows = ncol;
        file->header.ncols = 0;
        file->header.imagf = 0;
        file->header.namlen = static_cast<int32_t>(strlen(name) + 1);
        ok = amatWriteHeader(file, name);
    } else if (ok) {
        // The sizes follow the name directly, so the declaration is readable at
        // once; the blanks after them leave room for any row count.
        const char* word = type == doubleMatrix ? "double " : "float ";
        file->headerPos = pos + static_cast<long>(strlen(word) + strlen(name));
        ok = fprintf_C(file->fp, "%s%s(0,%d)%30s\n", word, name, ncol, "") >= 0;
    }
    if (ok) ok = fflush(file->fp) == 0;
    if (!ok) {
        rowWiseError(file, name);
        free(file->rowName);
        file->rowName = nullptr;
        return 1;
    }
    return 0;
}

extern "C" int amatPutRrow(AmatPutFile* file, const float* row) {
    int check = checkOpenRows(file, "amatPutRrow");
    if (check != 0) return check;
    if (row == nullptr && file->rowNcol > 0) {
        amatSetMessage("Unexpected null-pointer");
        return 4;
    }
    int32_t rows = file->format == amatBinaryFormat ? file->header.ncols : file->rowCount;
    if (rows == INT32_MAX) {
        amatSetMessage("Error when writing row %d of matrix \"%.400s\" row-wise\nto file \"%.400s\": %.400s\n", rows,
                       file->rowName, amatPutFileName(file), "too many rows");
        return 1;
    }
    errno = 0;
    bool ok;
    if (file->format == amatBinaryFormat) ok = writeBinaryRow(file, row);
    else if (file->format == amatTextFormat) ok = writeTextRow(file, row);
    else return formatError(file, file->rowName);
    if (!ok) {
        amatSetMessage("Error when writing row %d of matrix \"%.400s\" row-wise\nto file \"%.400s\": %.400s\n",
                       rows + 1, file->rowName, amatPutFileName(file), systemError());
        return 1;
    }
    int result;
    if (file->format == amatBinaryFormat) {
        file->header.ncols += 1;
        result = rewriteHeader(file);
    } else {
        file->rowCount += 1;
        result = rewriteDeclaration(file);
    }
    return result != 0 ? result : flush(file);
}

extern "C" int amatPutRclose(AmatPutFile* file) {
    int check = checkOpenRows(file, "amatPutRclose");
    if (check != 0) return check;
    int result;
    if (file->format == amatBinaryFormat) {
        result = rewriteHeader(file);
    } else if (file->format == amatTextFormat) {
        errno = 0;
        result = putc('\n', file->fp) == EOF ? rowWiseError(file, file->rowName) : rewriteDeclaration(file);
    } else {
        result = formatError(file, file->rowName);
    }
    if (result == 0) result = flush(file);
    free(file->rowName);
    file->rowName = nullptr;
    return result;
}

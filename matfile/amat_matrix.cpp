// The matrix record, its release, and the library's message buffer.
#include "amat_internal.h"

#include "locale_c.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

char amatMessage[AMAT_MESSAGE_SIZE] = "No message.";

void amatSetMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf_C(amatMessage, sizeof amatMessage, format, args);
    va_end(args);
}

const char* amatTypeName(uint32_t type) {
    static const char* const names[] = {"voidMatrix", "integerMatrix", "realMatrix", "doubleMatrix",
                                        "charMatrix", "realRowMatrix", "doubleRowMatrix"};
    return type <= doubleRowMatrix ? names[type] : "unknown";
}

const char* amatStreamError(FILE* fp) {
    if (fp != nullptr && ferror(fp) && errno != 0) return strerror(errno);
    return "End-Of-File reached.";
}

char* amatCopyText(const char* text) {
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy != nullptr) memcpy(copy, text, n);
    return copy;
}

extern "C" void amatInitMatrix(AmatMatrix* matrix) {
    if (matrix == nullptr) return;
    matrix->name = nullptr;
    matrix->nrow = 0;
    matrix->ncol = 0;
    matrix->type = voidMatrix;
    matrix->data = nullptr;
    matrix->rowCapacity = 0;
    matrix->rowNext = 0;
}

extern "C" void amatSetMatrix(char* name, int32_t nrow, int32_t ncol, AmatType type, void* data,
                              AmatMatrix* matrix) {
    if (matrix == nullptr) return;
    matrix->name = name;
    matrix->nrow = nrow;
    matrix->ncol = ncol;
    matrix->type = type;
    matrix->data = data;
    matrix->rowCapacity = 0;
    matrix->rowNext = 0;
}

extern "C" void amatFreeStrings(char** rows, int32_t n) {
    if (rows == nullptr) return;
    for (int32_t i = 0; i < n; ++i) {
        free(rows[i]);
        rows[i] = nullptr;
    }
    free(rows);
}

extern "C" void amatFreeMatrix(AmatMatrix* matrix) {
    if (matrix == nullptr) return;
    free(matrix->name);
    if (matrix->type == charMatrix) {
        amatFreeStrings(static_cast<char**>(matrix->data), matrix->nrow);
    } else if (matrix->type == realRowMatrix || matrix->type == doubleRowMatrix) {
        if (matrix->data != nullptr) {
            void** rows = static_cast<void**>(matrix->data);
            for (int32_t i = 0; i < matrix->nrow; ++i) free(rows[i]);
            free(rows);
        }
    } else {
        free(matrix->data);
    }
    amatInitMatrix(matrix);
}

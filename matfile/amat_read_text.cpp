// Reading the text form: declarations, numbers and escaped text rows.
#include "amat_internal.h"

#include "locale_c.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Skips white space and every line whose first non-blank character is '#'.
// Returns false at the end of the file.
bool skipSpaceAndComments(FILE* fp) {
    for (;;) {
        int c = getc(fp);
        if (c == EOF) return false;
        if (isspace_C(c)) continue;
        if (c != '#') {
            ungetc(c, fp);
            return true;
        }
        while ((c = getc(fp)) != '\n')
            if (c == EOF) return false;
    }
}

// Drops the rest of a line that did not fit into its buffer.
void dropRestOfLine(FILE* fp) {
    int c;
    while ((c = getc(fp)) != '\n' && c != EOF) {
    }
}

const char* systemText(FILE* fp, const char* eof) { return ferror(fp) && errno != 0 ? strerror(errno) : eof; }

int declarationError(const AmatGetFile* file, const char* line) {
    amatSetMessage("Error scanning the following declaration on file \"%.400s\":\n%.400sExpected is: <type> <name> "
                   "(<row_dimension>, <column_dimension>)\n<type> is one of \"int\", \"float\", \"double\" or "
                   "\"char\".\n<name> is the name of the matrix.\n",
                   file->fileName, line);
    return 4;
}

} // namespace

int amatReadTextDeclaration(AmatGetFile* file, const char* requestName, AmatMatrix* current) {
    FILE* fp = file->fp;
    errno = 0;
    if (!skipSpaceAndComments(fp)) {
        amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", file->fileName,
                       systemText(fp, "End-of-File reached"));
        return ferror(fp) ? 4 : 3;
    }
    char line[200];
    if (fgets(line, sizeof line, fp) == nullptr) {
        amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", file->fileName,
                       systemText(fp, "End-Of-File reached."));
        return ferror(fp) ? 4 : 3;
    }
    if (strchr(line, '\n') == nullptr) dropRestOfLine(fp);
    char word[11];
    char name[101];
    long long nrow = 0, ncol = 0;
    // The sizes are scanned wide and range-checked, so no count overflows.
    int items = sscanf_C(line, "%10s %100[^( \t](%lld,%lld)", word, name, &nrow, &ncol);
    if (items != 4 || nrow < INT32_MIN || nrow > INT32_MAX || ncol < INT32_MIN || ncol > INT32_MAX)
        return declarationError(file, line);
    AmatType type;
    if (strcmp(word, "int") == 0) type = integerMatrix;
    else if (strcmp(word, "float") == 0) type = realMatrix;
    else if (strcmp(word, "double") == 0) type = doubleMatrix;
    else if (strcmp(word, "char") == 0) type = charMatrix;
    else return declarationError(file, line);
    if (requestName != nullptr) {
        if (strcmp(name, requestName) != 0) {
            amatSetMessage("Error scanning the following declaration on file \"%.400s\":\n%.400sName of matrix is "
                           "wrong, should be \"%.400s\".\n",
                           file->fileName, line, requestName);
            return 2;
        }
        current->name = const_cast<char*>(requestName);
    } else {
        current->name = amatCopyText(name);
        if (current->name == nullptr) {
            amatSetMessage("Error when reading matrix from file \"%.400s\",\nbecause it is not possible to allocate "
                           "storage for\nthe matrix name (length = %d)\n:%.400s\n",
                           file->fileName, static_cast<int>(strlen(name) + 1), strerror(ENOMEM));
            return 4;
        }
    }
    current->nrow = static_cast<int32_t>(nrow);
    current->ncol = static_cast<int32_t>(ncol);
    current->type = type;
    return 0;
}

namespace {

// Reads the text rows of a "char" matrix, each one line, undoing the escapes.
int readTextRows(AmatGetFile* file, AmatMatrix* m) {
    FILE* fp = file->fp;
    // A line cannot be longer than what is left of the file.
    int64_t size = 2 * static_cast<int64_t>(m->ncol) + 2;
    int64_t left = amatRemainingBytes(fp);
    if (left < INT32_MAX && size > left + 2) size = left + 2;
    if (size > INT32_MAX) size = INT32_MAX;
    char* line = static_cast<char*>(malloc(static_cast<size_t>(size)));
    char** rows = static_cast<char**>(m->data);
    if (line == nullptr) {
        amatSetMessage("Error when reading text matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nsince it is not possible "
                       "to allocate storage for\n%d characters.\n",
                       m->name, m->nrow, m->ncol, file->fileName, static_cast<int>(size));
        return 4;
    }
    int32_t longest = 0;
    int result = 0;
    for (int32_t r = 0; r < m->nrow && result == 0; ++r) {
        errno = 0;
        if (fgets(line, static_cast<int>(size), fp) == nullptr) {
            amatSetMessage("Error reading data of text matrix \"%.40s(%d,%d)\" from file \"%.400s\":\n%.400s\n", m->name,
                           m->nrow, m->ncol, file->fileName, systemText(fp, "End-Of-File reached."));
            result = 4;
            break;
        }
        size_t n = strlen(line);
        if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
        else if (!feof(fp)) dropRestOfLine(fp);
        size_t out = 0;
        for (size_t k = 0; k < n; ++k) {
            if (line[k] == '\\' && k + 1 < n && (line[k + 1] == 'n' || line[k + 1] == '\\')) {
                line[out++] = line[k + 1] == 'n' ? '\n' : '\\';
                ++k;
            } else {
                line[out++] = line[k];
            }
        }
        line[out] = '\0';
        rows[r] = amatCopyText(line);
        if (rows[r] == nullptr) {
            amatSetMessage("Error when reading text matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nsince it is not "
                           "possible to allocate storage for\n%d characters.\n",
                           m->name, m->nrow, m->ncol, file->fileName, static_cast<int>(out + 1));
            result = 4;
        } else if (static_cast<int32_t>(out) > longest) {
            longest = static_cast<int32_t>(out);
        }
    }
    free(line);
    if (result == 0) m->ncol = longest;
    return result;
}

} // namespace

int amatReadTextData(AmatGetFile* file, AmatMatrix* m, AmatType stored) {
    if (m->type == charMatrix) return readTextRows(file, m);
    FILE* fp = file->fp;
    for (int32_t i = 0; i < m->nrow; ++i) {
        for (int32_t j = 0; j < m->ncol; ++j) {
            // An end of file inside the numbers is a damaged file, not an end.
            if (!skipSpaceAndComments(fp)) return amatNumericDataError(file, m);
            double v;
            if (stored == realMatrix) {
                float f;
                if (fscanf_C_Float(fp, &f) != 1) return amatNumericDataError(file, m);
                v = f;
            } else {
                if (fscanf_C_Double(fp, &v) != 1) return amatNumericDataError(file, m);
                if (stored == integerMatrix) {
                    // An "int" value is truncated toward zero to 32 bits first.
                    if (!(v > -2147483649.0 && v < 2147483648.0)) return amatNumericDataError(file, m);
                    v = static_cast<double>(static_cast<int32_t>(v));
                }
            }
            if (!amatStoreValue(m, i, j, v)) return amatNumericDataError(file, m);
        }
    }
    return 0;
}

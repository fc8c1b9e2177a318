// String functions of the Modelica utilities: substrings, comparison, the
// scanners for identifiers, numbers and quoted strings, and the string hash.
// Indices are 1-based; a start index lies between 1 and the length plus one.
#include <ctype.h>
#include <errno.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "external_utilities.h"
#include "utility_functions.h"
#include <uthash.h>

namespace {

// Scanned numbers are at most this many characters minus one.
enum { kNumberLimit = 100 };

const char* orEmpty(const char* text) { return text ? text : ""; }

// The character at a 1-based index.
char at(const char* s, int index) { return s[index - 1]; }

bool validStart(const char* s, int startIndex) {
    return startIndex >= 1 && static_cast<size_t>(startIndex) <= strlen(s) + 1;
}

// Character classes of the current locale, always given an unsigned char value.
bool isSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }
bool isLetter(char c) { return isalpha(static_cast<unsigned char>(c)) != 0; }
bool isLetterOrDigit(char c) { return isalnum(static_cast<unsigned char>(c)) != 0; }

int skipSpace(const char* s, int i) {
    while (at(s, i) != '\0' && isSpace(at(s, i))) ++i;
    return i;
}

const char* newString(const char* text, size_t length) {
    char* r = ModelicaAllocateString(length);
    if (!r) return "";
    memcpy(r, text, length);
    r[length] = '\0';
    return r;
}

const char* emptyString() { return newString("", 0); }

// Converts exactly `length` characters from `text` under a numeric "C"
// locale made for this call; false when the text does not convert whole.
template <typename T, typename Convert>
bool convertWhole(const char* text, int length, T* value, Convert convert) {
    const std::string copy(text, static_cast<size_t>(length));
    locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    if (c == static_cast<locale_t>(0)) return false;
    char* end = nullptr;
    errno = 0;
    const bool ok = convert(copy.c_str(), &end, c, value) && end == copy.c_str() + copy.size();
    freelocale(c);
    return ok;
}

} // namespace

extern "C" {

int digitRunLength(const char* string, int index) {
    string = orEmpty(string);
    if (!validStart(string, index)) return 0;
    int n = 0;
    while (at(string, index + n) >= '0' && at(string, index + n) <= '9') ++n;
    return n;
}

const char* ModelicaStrings_substring(const char* string, int startIndex, int endIndex) {
    string = orEmpty(string);
    const int length = static_cast<int>(strlen(string));
    if (startIndex < 1) {
        ModelicaFormatError(
            "Wrong call of Utilities.Strings.substring:\n  startIndex = %d (has to be > 0).\n  string     = \"%s\"\n",
            startIndex, string);
        return "";
    }
    if (endIndex == -999) {
        endIndex = startIndex;
        if (startIndex > length + 1) {
            ModelicaFormatError("Wrong call of Utilities.Strings.substring:\n  endIndex = %d (<= %d required "
                                "(=length(string)).\n  string   = \"%s\"\n",
                                endIndex, length, string);
            return "";
        }
        if (startIndex == length + 1) return emptyString();
    } else if (endIndex < startIndex) {
        ModelicaFormatError("Wrong call of  Utilities.Strings.substring:\n  startIndex = %d\n  endIndex   = %d (>= "
                            "startIndex required)\n  string     = \"%s\"\n",
                            startIndex, endIndex, string);
        return "";
    } else if (endIndex > length) {
        ModelicaFormatError("Wrong call of Utilities.Strings.substring:\n  endIndex = %d (<= %d required "
                            "(=length(string)).\n  string   = \"%s\"\n",
                            endIndex, length, string);
        return "";
    }
    return newString(string + startIndex - 1, static_cast<size_t>(endIndex - startIndex + 1));
}

int ModelicaStrings_length(const char* string) { return static_cast<int>(strlen(orEmpty(string))); }

int ModelicaStrings_compare(const char* string1, const char* string2, int caseSensitive) {
    if (!string1 || !string2) return kStringEqual;
    int difference = 0;
    if (caseSensitive) {
        difference = strcmp(string1, string2);
    } else {
        const unsigned char* a = reinterpret_cast<const unsigned char*>(string1);
        const unsigned char* b = reinterpret_cast<const unsigned char*>(string2);
        while (*a && tolower(*a) == tolower(*b)) {
            ++a;
            ++b;
        }
        difference = tolower(*a) - tolower(*b);
    }
    return difference < 0 ? kStringLess : difference == 0 ? kStringEqual : kStringGreater;
}

int ModelicaStrings_skipWhiteSpace(const char* string, int startIndex) {
    string = orEmpty(string);
    if (!validStart(string, startIndex)) {
        ModelicaFormatError("Wrong call of Utilities.Strings.skipWhiteSpace:\n  startIndex = %d (has to be in "
                            "1..%d).\n  string     = \"%s\"\n",
                            startIndex, static_cast<int>(strlen(string)) + 1, string);
        return startIndex;
    }
    return skipSpace(string, startIndex);
}

void ModelicaStrings_scanIdentifier(const char* string, int startIndex, int* nextIndex, const char** identifier) {
    string = orEmpty(string);
    if (validStart(string, startIndex)) {
        const int i = skipSpace(string, startIndex);
        if (isLetter(at(string, i))) {
            int n = 1;
            while (isLetterOrDigit(at(string, i + n)) || at(string, i + n) == '_') ++n;
            *identifier = newString(string + i - 1, static_cast<size_t>(n));
            *nextIndex = i + n;
            return;
        }
    }
    *nextIndex = startIndex;
    *identifier = emptyString();
}

void ModelicaStrings_scanInteger(const char* string, int startIndex, int unsignedNumber, int* nextIndex,
                                 int* number) {
    string = orEmpty(string);
    *nextIndex = startIndex;
    *number = 0;
    if (!validStart(string, startIndex)) return;
    const int i = skipSpace(string, startIndex);
    const int s = at(string, i) == '+' || at(string, i) == '-' ? 1 : 0;
    if (unsignedNumber != 0 && s != 0) return;
    const int d = digitRunLength(string, i + s);
    if (d == 0 || d + s >= kNumberLimit) return;
    const char after = at(string, i + s + d);
    if (after == '.' || after == 'e' || after == 'E') return;
    long value = 0;
    const bool ok = convertWhole(string + i - 1, s + d, &value, [](const char* t, char** end, locale_t c, long* v) {
        *v = strtol_l(t, end, 10, c);
        return errno != ERANGE;
    });
    // Values outside int32 do not match: they are never wrapped.
    if (!ok || value < INT32_MIN || value > INT32_MAX) return;
    *number = static_cast<int>(value);
    *nextIndex = i + s + d;
}

void ModelicaStrings_scanReal(const char* string, int startIndex, int unsignedNumber, int* nextIndex,
                              double* number) {
    string = orEmpty(string);
    *nextIndex = startIndex;
    *number = 0;
    if (!validStart(string, startIndex)) return;
    const int i = skipSpace(string, startIndex);
    const int s = at(string, i) == '+' || at(string, i) == '-' ? 1 : 0;
    if (unsignedNumber != 0 && s != 0) return;
    int len = s + digitRunLength(string, i + s);
    if (at(string, i + len) == '.') {
        len += 1;
        len += digitRunLength(string, i + len);
    }
    if (at(string, i + len) == 'e' || at(string, i + len) == 'E') {
        const int mark = at(string, i + len + 1) == '+' || at(string, i + len + 1) == '-' ? 2 : 1;
        const int digits = digitRunLength(string, i + len + mark);
        if (digits == 0) return;
        len += mark + digits;
    }
    if (len <= 0 || len >= kNumberLimit) return;
    double value = 0;
    // Past the double range the conversion gives an infinity or an underflowed value, as strtod does.
    const bool ok = convertWhole(string + i - 1, len, &value, [](const char* t, char** end, locale_t c, double* v) {
        *v = strtod_l(t, end, c);
        return true;
    });
    if (!ok) return;
    *number = value;
    *nextIndex = i + len;
}

void ModelicaStrings_scanString(const char* string, int startIndex, int* nextIndex, const char** result) {
    string = orEmpty(string);
    if (validStart(string, startIndex)) {
        const int i = skipSpace(string, startIndex);
        if (at(string, i) == '"') {
            const char* open = string + i - 1;
            const char* close = nullptr;
            for (const char* p = open + 1; *p; ++p)
                if (*p == '"' && p[-1] != '\\') {
                    close = p;
                    break;
                }
            if (close && close > open + 1) {
                *result = newString(open + 1, static_cast<size_t>(close - open - 1));
                *nextIndex = static_cast<int>(close - string) + 2;
                return;
            }
        }
    }
    *nextIndex = startIndex;
    *result = emptyString();
}

ScanIntegerResult ModelicaStrings_scanIntegerResult(const char* string, int startIndex, int unsignedNumber) {
    ScanIntegerResult r{startIndex, 0};
    ModelicaStrings_scanInteger(string, startIndex, unsignedNumber, &r.nextIndex, &r.number);
    return r;
}

ScanRealResult ModelicaStrings_scanRealResult(const char* string, int startIndex, int unsignedNumber) {
    ScanRealResult r{startIndex, 0.0};
    ModelicaStrings_scanReal(string, startIndex, unsignedNumber, &r.nextIndex, &r.number);
    return r;
}

ScanStringResult ModelicaStrings_scanStringResult(const char* string, int startIndex) {
    ScanStringResult r{startIndex, ""};
    ModelicaStrings_scanString(string, startIndex, &r.nextIndex, &r.string);
    return r;
}

ScanIdentifierResult ModelicaStrings_scanIdentifierResult(const char* string, int startIndex) {
    ScanIdentifierResult r{startIndex, ""};
    ModelicaStrings_scanIdentifier(string, startIndex, &r.nextIndex, &r.identifier);
    return r;
}

int ModelicaStrings_hashString(const char* string) {
    string = orEmpty(string);
    const size_t length = strlen(string);
    unsigned hash = 0;
    HASH_JEN(string, length, hash);
    return static_cast<int>(static_cast<int32_t>(hash));
}

} // extern "C"

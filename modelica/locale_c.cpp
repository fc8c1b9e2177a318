// Wrappers around the standard conversions and formatted I/O that use one
// process-wide "C" locale object, so numbers always use a decimal point.
//
// glibc has no locale-taking printf/scanf family; the formatted wrappers
// switch the calling thread's locale to the "C" object for the duration of
// the call (uselocale is per thread, so other threads are unaffected).
#include "locale_c.h"

#include <ctype.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <atomic>

// The locale is created once, by whichever thread first needs it: the flag is
// read without the lock, so it is atomic, and clearing it (release) publishes
// the handle to every thread that then sees it cleared (acquire).
static locale_t cLocale = (locale_t)0;
static std::atomic<int> createFlag{1};
static pthread_mutex_t createLock = PTHREAD_MUTEX_INITIALIZER;

locale_t* getCLocale(void) {
    if (createFlag.load(std::memory_order_acquire)) {
        pthread_mutex_lock(&createLock);
        if (createFlag.load(std::memory_order_relaxed)) {
            cLocale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
            createFlag.store(0, std::memory_order_release);
        }
        pthread_mutex_unlock(&createLock);
    }
    return &cLocale;
}

void freeCLocale(void) {
    pthread_mutex_lock(&createLock);
    if (cLocale != (locale_t)0) freelocale(cLocale);
    cLocale = (locale_t)0;
    createFlag.store(1, std::memory_order_release);
    pthread_mutex_unlock(&createLock);
}

namespace {
// Makes the "C" locale current on this thread for one wrapper call.
struct CLocaleScope {
    locale_t previous = (locale_t)0;
    CLocaleScope() {
        locale_t c = *getCLocale();
        if (c != (locale_t)0) previous = uselocale(c);
    }
    ~CLocaleScope() {
        if (previous != (locale_t)0) uselocale(previous);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;
};

// Character classes: only -1 (end of file) to 255 belong to any class.
bool inTable(int c) { return c >= -1 && c <= 255; }
} // namespace

// When the "C" locale object could not be created the wrappers behave as in
// the process's current locale: they call the plain functions, because the
// locale-taking variants accept no handle that stands for it.
double atof_C(const char* text) {
    locale_t c = *getCLocale();
    return c != (locale_t)0 ? strtod_l(text, nullptr, c) : strtod(text, nullptr);
}
int atoi_C(const char* text) {
    locale_t c = *getCLocale();
    return static_cast<int>(c != (locale_t)0 ? strtol_l(text, nullptr, 10, c) : strtol(text, nullptr, 10));
}
int atol_C(const char* text) { return atoi_C(text); }
int stricmp_C(const char* a, const char* b) {
    locale_t c = *getCLocale();
    return c != (locale_t)0 ? strcasecmp_l(a, b, c) : strcasecmp(a, b);
}

// The class test or case mapping of c in the "C" locale: `inLocale` with the
// locale object, or `plain` when there is none; `outside` for end of file and
// values that belong to no table.
static int characterClass(int c, int (*inLocale)(int, locale_t), int (*plain)(int), int outside) {
    if (!inTable(c) || c == -1) return outside;
    locale_t locale = *getCLocale();
    return locale != (locale_t)0 ? inLocale(c, locale) : plain(c);
}

int isalnum_C(int c) { return characterClass(c, isalnum_l, isalnum, 0); }
int isalpha_C(int c) { return characterClass(c, isalpha_l, isalpha, 0); }
int isdigit_C(int c) { return characterClass(c, isdigit_l, isdigit, 0); }
int islower_C(int c) { return characterClass(c, islower_l, islower, 0); }
int isupper_C(int c) { return characterClass(c, isupper_l, isupper, 0); }
int isspace_C(int c) { return characterClass(c, isspace_l, isspace, 0); }
int toupper_C(int c) { return characterClass(c, toupper_l, toupper, c); }
int tolower_C(int c) { return characterClass(c, tolower_l, tolower, c); }

#define SCAN_STREAM(format, ...)                                                                                      \
    CLocaleScope scope;                                                                                               \
    return fscanf(stream, format, __VA_ARGS__)
#define SCAN_STRING(format, ...)                                                                                      \
    CLocaleScope scope;                                                                                               \
    return sscanf(s, format, __VA_ARGS__)

int fscanf_C_Word(FILE* stream, char* word) { SCAN_STREAM("%255s", word); }
int fscanf_C_UntilBracket(FILE* stream, char* text, char* bracket) {
    CLocaleScope scope;
    // Only the second scan's count is returned; the first reads up to the bracket.
    int first = fscanf(stream, "%255[^[]", text);
    (void)first;
    return fscanf(stream, "%1s", bracket);
}
int fscanf_C_Double(FILE* stream, double* value) { SCAN_STREAM(" %lg", value); }
int fscanf_C_ThreeDoubles(FILE* stream, double* a, double* b, double* c) { SCAN_STREAM(" %lg %lg %lg", a, b, c); }
int fscanf_C_Float(FILE* stream, float* value) { SCAN_STREAM(" %g", value); }
int fscanf_C_Int(FILE* stream, int* value) { SCAN_STREAM(" %d", value); }
int fscanf_C_ThreeUnsigned(FILE* stream, unsigned* a, unsigned* b, unsigned* c) { SCAN_STREAM(" %u %u %u", a, b, c); }
int fscanf_C_ThreeInts(FILE* stream, int* a, int* b, int* c) { SCAN_STREAM(" %d %d %d", a, b, c); }
int fscanf_C_Relation(FILE* stream, char* op, char* text, char* rest) {
    SCAN_STREAM(" %[<>=] \"%[^\"]\" %s)", op, text, rest);
}

int sscanf_C_Int(const char* s, int* value) { SCAN_STRING(" %d", value); }
int sscanf_C_AnyBaseInt(const char* s, int* value) { SCAN_STRING("%i", value); }
int sscanf_C_Date(const char* s, int* a, int* b, int* c) { SCAN_STRING("%d-%d-%d", a, b, c); }
int sscanf_C_FiveInts(const char* s, int* a, int* b, int* c, int* d, int* e) {
    SCAN_STRING(" %d %d %d %d %d", a, b, c, d, e);
}
int sscanf_C_SlashTriple(const char* s, int* a, int* b, int* c) { SCAN_STRING("%i/%i/%i", a, b, c); }
int sscanf_C_SlashPair(const char* s, int* a, int* b) { SCAN_STRING("%i/%i", a, b); }
int sscanf_C_DoubleSlashPair(const char* s, int* a, int* b) { SCAN_STRING("%i//%i", a, b); }
int sscanf_C_Float(const char* s, float* value) { SCAN_STRING(" %g", value); }
int sscanf_C_Unsigned(const char* s, unsigned* value) { SCAN_STRING("%u", value); }
int sscanf_C_Include(const char* s, char* name) { SCAN_STRING("#include \"%[^\"]\"", name); }
int sscanf_C_Version(const char* s, char* version) { SCAN_STRING("( version = \"%[^\"]\" )", version); }
int sscanf_C_FloatComma(const char* s, float* value) { SCAN_STRING(" %g,", value); }
int sscanf_C_Double(const char* s, double* value) { SCAN_STRING(" %lg", value); }
int sscanf_C_DoubleWord(const char* s, double* value, char* word) { SCAN_STRING("%lg %49s", value, word); }
int sscanf_C_RelationWord(const char* s, char* op, char* word) { SCAN_STRING(" %[<>=] %s)", op, word); }
int sscanf_C_UnsignedSpace(const char* s, unsigned* value) { SCAN_STRING(" %u", value); }
int sscanf_C_FourFloats(const char* s, float* a, float* b, float* c, float* d) {
    SCAN_STRING("%g,%g,%g,%g,", a, b, c, d);
}
int sscanf_C_FourInts(const char* s, int* a, int* b, int* c, int* d) { SCAN_STRING("%i,%i,%i,%i,", a, b, c, d); }
int sscanf_C_DoubleChar(const char* s, double* value, char* c) { SCAN_STRING("%lg %c", value, c); }
int sscanf_C_WordCount(const char* s, char* word, int* consumed) { SCAN_STRING("%255s%n", word, consumed); }
int sscanf_C_Word(const char* s, char* word) { SCAN_STRING("%255s", word); }

int sscanf_C(const char* s, const char* format, ...) {
    CLocaleScope scope;
    va_list args;
    va_start(args, format);
    int result = vsscanf(s, format, args);
    va_end(args);
    return result;
}

int sprintf_C(char* destination, const char* format, ...) {
    CLocaleScope scope;
    va_list args;
    va_start(args, format);
    int result = vsprintf(destination, format, args);
    va_end(args);
    if (result < 0) return -1;
    return result;
}

int fprintf_C(FILE* stream, const char* format, ...) {
    CLocaleScope scope;
    va_list args;
    va_start(args, format);
    int result = vfprintf(stream, format, args);
    va_end(args);
    return result;
}

int vfprintf_C(FILE* stream, const char* format, va_list args) {
    CLocaleScope scope;
    return vfprintf(stream, format, args);
}

int vsnprintf_C(char* buffer, size_t len, const char* format, va_list args) {
    if (!buffer || len == 0) return -1;
    CLocaleScope scope;
    int needed = vsnprintf(buffer, len, format, args);
    buffer[len - 1] = '\0';
    if (needed < 0 || static_cast<size_t>(needed) > len - 1) return -1;
    return needed;
}

int snprintf_C(char* buffer, size_t len, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsnprintf_C(buffer, len, format, args);
    va_end(args);
    return result;
}

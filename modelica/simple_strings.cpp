// Simple strings: short-lived texts bump-allocated in the calling thread's
// simple-string buffer and released with its mark; the conversions of the
// Modelica String operator (formatted in the process's current locale); and
// the copy of a text that must outlive the evaluation into the persistent
// string area.
#include <stdio.h>
#include <string.h>

#include "array_support.h"
#include "persistent_pool.h"

namespace {

const char kNoRoom[] = "Room to allocate string";

// A copy of the text (which has at most 111 characters) in the calling
// thread's simple-string buffer, released with the buffer's mark; null when
// the buffer is full.
char* copyToSimpleString(const char* text) {
    const size_t n = strlen(text);
    char* r = SimpleStringAlloc(static_cast<int>(n));
    if (r != nullptr) memcpy(r, text, n + 1);
    return r;
}

// Every conversion formats into a buffer of this size and keeps what fits.
constexpr int kConversionBuffer = 112;

// A negative width left-justifies in a field of its magnitude. Padding beyond
// the conversion buffer would be cut anyway, so the field is bounded there,
// which also keeps the formatter away from widths it cannot negate.
int boundedWidth(int minwidth) {
    return minwidth < -(kConversionBuffer - 1) ? -(kConversionBuffer - 1) : minwidth;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads up to three digits; false when more follow (a field of 1000 or more
// characters can never be a valid result).
bool skipNumber(const char*& p) {
    int digits = 0;
    while (isDigit(*p)) {
        if (++digits > 3) return false;
        ++p;
    }
    return true;
}

// True when the format is exactly one floating-point conversion without its
// '%': flags, an optional width, an optional precision and one of eEfFgGaA.
bool isRealConversion(const char* format) {
    const char* p = format;
    while (*p && strchr("-+ #0", *p)) ++p;
    if (!skipNumber(p)) return false;
    if (*p == '.') {
        ++p;
        if (!skipNumber(p)) return false;
    }
    if (!*p || !strchr("eEfFgGaA", *p)) return false;
    return p[1] == '\0';
}

// Compares addresses as numbers: the text may lie in any object.
bool liesWithin(const char* text, const char* begin, const char* end) {
    const uintptr_t t = reinterpret_cast<uintptr_t>(text);
    return t >= reinterpret_cast<uintptr_t>(begin) && t < reinterpret_cast<uintptr_t>(end);
}

} // namespace

extern "C" {

char* SimpleStringAlloc(int len) {
    ThreadContext* context = getThreadContext();
    if (context && !context->EndRealbuffer) createThreadBuffers();
    // Outside a trap a failed check returns: nothing is handed out then.
    if (!(context && context->simplestring)) {
        RuntimeAssert(0, "stringmark+len+1<Endsimplestring", kNoRoom);
        return nullptr;
    }
    if (len < 0) {
        RuntimeAssert(0, "len>=0", "String length must not be negative");
        return nullptr;
    }
    if (static_cast<int64_t>(len) + 1 >= context->Endsimplestring - context->stringmark) {
        RuntimeAssert(0, "stringmark+len+1<Endsimplestring", kNoRoom);
        return nullptr;
    }
    char* r = context->stringmark;
    context->stringmark += len + 1;
    return r;
}

char* SimpleStringConcat(const char* a, const char* b) {
    a = emptyIfNull(a);
    b = emptyIfNull(b);
    const size_t la = strlen(a);
    const size_t lb = strlen(b);
    if (!(la + lb < INT32_MAX)) {
        RuntimeAssert(0, "stringmark+len+1<Endsimplestring", kNoRoom);
        return nullptr;
    }
    char* r = SimpleStringAlloc(static_cast<int>(la + lb));
    if (r == nullptr) return r;
    memmove(r, a, la);
    memmove(r + la, b, lb + 1);
    return r;
}

char* RealToString(double x, int minwidth, int precision) {
    RuntimeAssert(precision < 40 && minwidth < 40, "precision<40 && minwidth<40", "");
    char buf[kConversionBuffer];
    snprintf(buf, sizeof buf, "%*.*g", boundedWidth(minwidth), precision, x);
    return copyToSimpleString(buf);
}

char* IntegerToString(int i, int minwidth, int precision) {
    RuntimeAssert(precision < 40 && minwidth < 40, "precision<40 && minwidth<40", "");
    char buf[kConversionBuffer];
    snprintf(buf, sizeof buf, "%*.*d", boundedWidth(minwidth), precision, i);
    return copyToSimpleString(buf);
}

char* RealToStringJustified(double x, int leftJustified, int minwidth, int precision) {
    RuntimeAssert(precision < 40 && minwidth < 40, "precision<40 && minwidth<40", "");
    char buf[kConversionBuffer];
    if (leftJustified)
        snprintf(buf, sizeof buf, "%-*.*g", boundedWidth(minwidth), precision, x);
    else
        snprintf(buf, sizeof buf, "%*.*g", boundedWidth(minwidth), precision, x);
    return copyToSimpleString(buf);
}

char* RealToStringDefault(double x, int leftJustified, int minwidth) {
    return RealToStringJustified(x, leftJustified, minwidth, 6);
}

char* IntegerToStringJustified(int i, int leftJustified, int minwidth) {
    RuntimeAssert(minwidth < 40, "minwidth<40", "");
    char buf[kConversionBuffer];
    if (leftJustified)
        snprintf(buf, sizeof buf, "%-*d", boundedWidth(minwidth), i);
    else
        snprintf(buf, sizeof buf, "%*d", boundedWidth(minwidth), i);
    return copyToSimpleString(buf);
}

char* BooleanToString(int b, int leftJustified, int minwidth) {
    RuntimeAssert(minwidth < 40, "minwidth<40", "");
    const char* text = b ? "true" : "false";
    char buf[kConversionBuffer];
    if (leftJustified)
        snprintf(buf, sizeof buf, "%-*s", boundedWidth(minwidth), text);
    else
        snprintf(buf, sizeof buf, "%*s", boundedWidth(minwidth), text);
    return copyToSimpleString(buf);
}

char* RealToStringFormat(double x, const char* format) {
    if (!format || !isRealConversion(format)) {
        // Any other format would read the argument list wrongly.
        RuntimeAssert(0, "isRealConversion(format)",
                      "The format of String must be a single Real conversion such as 10.3f");
        return nullptr;
    }
    const char* fullFormat = SimpleStringConcat("%", format);
    if (fullFormat == nullptr) return nullptr;
    char buf[kConversionBuffer];
    memset(buf, 0, sizeof buf);
    const int n = snprintf(buf, sizeof buf, fullFormat, x);
    RuntimeAssert(n >= 0 && n < 100, "buf[99]=='\\0'", "");
    return copyToSimpleString(buf);
}

const char* SimpleStringToNon(const char* s) {
    ThreadContext* context = getThreadContext();
    if (!s || !context || !context->simplestring) return s;
    if (!liesWithin(s, context->simplestring, context->Endsimplestring)) return s;
    const size_t len = strnlen(s, static_cast<size_t>(context->Endsimplestring - s));
    char* r = nullptr;
    {
        // Reserve the room under the pool's lock; the copy needs no lock.
        std::lock_guard<std::mutex> guard(persistentPoolLock());
        if (static_cast<int64_t>(len) + 1 < EndstringmarkNon - startstringmarkNon) {
            r = startstringmarkNon;
            startstringmarkNon += len + 1;
        }
    }
    if (!r) {
        RuntimeAssert(0, "startstringmarkNon+len+1<EndstringmarkNon", kNoRoom);
        return s;
    }
    memcpy(r, s, len);
    r[len] = '\0';
    return r;
}

StringArray StringArrayToNon(StringArray a) {
    const int32_t n = StringNrElements(a);
    for (int32_t i = 0; i < n; ++i) a.data[i] = SimpleStringToNon(a.data[i]);
    return a;
}

} // extern "C"

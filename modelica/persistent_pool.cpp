// The persistent pool and the persistent forms of array construction.
#include "persistent_pool.h"

#include "array_impl.h"

namespace {

double realPool[kRealBufferSizeNon];
int32_t integerPool[kIntegerBufferSizeNon];
int32_t sizePool[kSizeBufferSizeNon];
const char* stringPool[kStringBufferSizeNon];
char stringArea[kStringAreaSizeNon];

// Hands out n elements at *position. The new position must stay below the
// end (so the last element is never handed out). A request that does not fit
// fails and leaves the position at the end, so every later request from that
// buffer fails too; the position never passes the end or moves back.
// The positions are moved under the pool's lock (instances on several
// threads may allocate at once); a failure is reported after the lock is
// given back, since the report unwinds and may reach the host.
template <typename T>
T* bumpAllocate(T*& position, T* end, int n, const char* conditionText, const char* message) {
    RuntimeAssert(n >= 0, "n>=0", "Number of elements must not be negative");
    T* r = nullptr;
    bool fits = true;
    {
        std::lock_guard<std::mutex> guard(persistentPoolLock());
        r = position;
        if (n < 0) return r;
        fits = n < end - position;
        position = fits ? position + n : end;
    }
    if (!fits) RuntimeAssert(0, conditionText, message);
    return r;
}

} // namespace

std::mutex& persistentPoolLock() {
    static std::mutex lock;
    return lock;
}

extern "C" {

PersistentMark currentMarkNon = {{realPool, integerPool, sizePool, stringPool}};
double* const EndRealbufferNon = realPool + kRealBufferSizeNon;
int32_t* const EndIntegerbufferNon = integerPool + kIntegerBufferSizeNon;
int32_t* const EndSizebufferNon = sizePool + kSizeBufferSizeNon;
const char** const EndStringbufferNon = stringPool + kStringBufferSizeNon;
char* startstringmarkNon = stringArea;
char* const EndstringmarkNon = stringArea + kStringAreaSizeNon;

double* RealAllocNon(int n) {
    return bumpAllocate(currentMarkNon.place.Realbuffer, EndRealbufferNon, n,
                        "currentMarkNon.place.Realbuffer<EndRealbufferNon",
                        "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
                        "uninitialized variables.\nYou can change the memory size by setting the variable "
                        "Advanced.RealBufferSize.");
}

int32_t* IntegerAllocNon(int n) {
    return bumpAllocate(currentMarkNon.place.Integerbuffer, EndIntegerbufferNon, n,
                        "currentMarkNon.place.Integerbuffer<EndIntegerbufferNon",
                        "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
                        "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
                        "wexalo/source/matrixop");
}

int32_t* SizeAllocNon(int n) {
    return bumpAllocate(currentMarkNon.place.Sizebuffer, EndSizebufferNon, n,
                        "currentMarkNon.place.Sizebuffer<EndSizebufferNon",
                        "Out of memory for array dimensions\nIt could due to too many matrices, infinite recursion, "
                        "or uninitialized variables.\nYou can increase the size of 'Sizebuffer' in "
                        "wexalo/source/matrixop");
}

const char** StringPointerAllocNon(int n) {
    return bumpAllocate(currentMarkNon.place.Stringbuffer, EndStringbufferNon, n,
                        "currentMarkNon.place.Stringbuffer<EndStringbufferNon",
                        "Out of memory for strings\nIt could due to too large matrices, infinite recursion, or "
                        "uninitialized variables.\nYou can increase the size of 'Stringbuffer' in "
                        "wexalo/source/matrixop");
}

void RealDimsVaNon(RealArray* a, int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    arrays::Ops<arrays::RealFamily>::dimsVa(a, ndims, &ap, SizeAllocNon);
    va_end(ap);
}
void IntegerDimsVaNon(IntegerArray* a, int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    arrays::Ops<arrays::IntegerFamily>::dimsVa(a, ndims, &ap, SizeAllocNon);
    va_end(ap);
}
void StringDimsVaNon(StringArray* a, int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    arrays::Ops<arrays::StringFamily>::dimsVa(a, ndims, &ap, SizeAllocNon);
    va_end(ap);
}

RealArray RealConstructVaNon(int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    RealArray r = arrays::Ops<arrays::RealFamily>::constructVa(ndims, &ap, SizeAllocNon, RealAllocNon);
    va_end(ap);
    return r;
}
IntegerArray IntegerConstructVaNon(int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    IntegerArray r = arrays::Ops<arrays::IntegerFamily>::constructVa(ndims, &ap, SizeAllocNon, IntegerAllocNon);
    va_end(ap);
    return r;
}
StringArray StringConstructVaNon(int ndims, va_list sizes) {
    va_list ap;
    va_copy(ap, sizes);
    StringArray r = arrays::Ops<arrays::StringFamily>::constructVa(ndims, &ap, SizeAllocNon, StringPointerAllocNon);
    va_end(ap);
    return r;
}

RealArray RealConstructNon(int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    RealArray r = RealConstructVaNon(ndims, ap);
    va_end(ap);
    return r;
}
IntegerArray IntegerConstructNon(int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    IntegerArray r = IntegerConstructVaNon(ndims, ap);
    va_end(ap);
    return r;
}
StringArray StringConstructNon(int ndims, ...) {
    va_list ap;
    va_start(ap, ndims);
    StringArray r = StringConstructVaNon(ndims, ap);
    va_end(ap);
    return r;
}

} // extern "C"

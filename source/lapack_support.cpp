// The two service routines that the statically linked LAPACK calls back:
// machine parameters (a fixed table, so every LAPACK routine linked into the
// library works with the same constants as the solver) and the handler for an
// illegal argument, which reports and returns instead of stopping the process.
#include <stddef.h>
#include <stdio.h>

#include "linear_solver.h"
#include "locale_c.h"
#include "runtime.h"

extern "C" double dlamch_(const char* cmach, size_t length) {
    if (!cmach || length == 0) return 0.0;
    switch (cmach[0]) {
    case 'B': case 'b': return 2.0;
    case 'E': case 'e': return 2.220446049250313e-16;     // 2^-52
    case 'L': case 'l': return 308.0;
    case 'M': case 'm': return -307.0;
    case 'N': case 'n': return 53.0;
    case 'O': case 'o': return 1.7976931348623157e308;
    case 'P': case 'p': return 4.440892098500626e-16;     // 2^-51
    case 'R': case 'r': return 1.0;
    case 'S': case 's':
    case 'U': case 'u': return 2.2250738585072014e-308;   // 2^-1022
    default: return 0.0;
    }
}

// The archive's dlamch object also defines dlamc3; defining it here keeps
// that object (and its second dlamch) out of the link for good.
extern "C" double dlamc3_(const double* a, const double* b) {
    return *a + *b;
}

extern "C" void xerbla_(const char* routine, const int* info, size_t length) {
    // Called from inside LAPACK: nothing may unwind through it.
    try {
        char text[200];
        int nameLength = routine ? (int)(length < 60 ? length : 60) : 0;
        while (nameLength > 0 && routine[nameLength - 1] == ' ') --nameLength;
        snprintf_C(text, sizeof text, "On entry to %.*s parameter number %d had an illegal value", nameLength,
                   routine ? routine : "", info ? *info : 0);
        runtimeMessage(text);
    } catch (...) {
    }
}

// Version and platform queries.
#include "instance.h"

const char* fmiGetTypesPlatform(void) { return "default"; }

const char* fmiGetVersion(void) { return "2.0"; }

// The test model's library with three exports beyond the FMI functions, for
// tests that load it the way a host does: the module path the runtime took
// when it was loaded, the resources directory derived from it, and a string
// parameter read from a matrix file.
#include "external_libraries.h"
#include "matrix_files.h"

extern "C" {

__attribute__((visibility("default"))) const char* probeModulePath(void) { return getModulePath(); }

__attribute__((visibility("default"))) const char* probeResourcesDirectory(void) {
    return currentResourcesDirectory();
}

__attribute__((visibility("default"))) const char* probeStringParameter(const char* fileName, const char* name) {
    return readStringParameter(fileName, name);
}

} // extern "C"

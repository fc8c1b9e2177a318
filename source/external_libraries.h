// External libraries of a model and the resources directory.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct ModelData;

extern "C" {

// The model's null-terminated list of external library file names.
extern const char* const modelExternalLibraries[];

uint16_t* utf8ToUtf16(const char* text);
void loadExternalLibraries(const char* const* list, void*** handles, int load, const char* resourcesDirectory);
// Takes the library's own path; called once, by the load routine.
void takeModulePath(void);
// The path taken at load ("" when it could not be had).
const char* getModulePath(void);
const char* resourcesDirectory(ModelData* modelData);
void setResourcesDirectory(ModelData* modelData, const char* text);
void setResourcesDirectoryGlobal(const char* text);
const char* currentResourcesDirectory(void);
// Turns a resource-location URI into a path ("file:///p", "file:/p" and
// "file://localhost/p" give "/p", percent-escapes decoded); 0 when the
// location is not a file URI or does not fit.
int resourceLocationToPath(const char* location, char* path, size_t size);

} // extern "C"

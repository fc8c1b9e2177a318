// Loading the model's external libraries with the instance, the library's own
// path and the resources directory.
#include "external_libraries.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "model_data.h"
#include "platform.h"

// Both models list no external libraries.
const char* const modelExternalLibraries[] = {nullptr};

// The library's own path, taken by the load routine alone (takeModulePath):
// a library loaded by a relative name is found against the working directory
// of that moment, which the host may change later. Its directory is the real
// one however the host spelled it, so the resources directory derived from it
// below by dropping directory names is the library's own; a longer path is
// cut. Written before any other call can reach the library, only read
// afterwards.
static char modulePath[999];
// The global resources directory: derived once from the module path unless
// set before; every use of these takes the lock, since instances on any
// thread may ask for the directory.
static std::mutex globalDirectoryLock;
static char derivedDirectory[1000];
static char globalBuffer[1000];
static const char* globalDirectory = nullptr;
static int deriveOnce = 1;

uint16_t* utf8ToUtf16(const char* text) {
    if (!text) return nullptr;
    size_t length = strlen(text);
    uint16_t* result = static_cast<uint16_t*>(malloc(2 * length + 2));
    if (!result) return nullptr;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t out = 0;
    while (*p) {
        unsigned lead = *p;
        if (lead < 0x80) {
            result[out++] = static_cast<uint16_t>(lead);
            p += 1;
        } else if ((lead & 0xE0) == 0xC0) {
            if (!p[1]) break;
            result[out++] = static_cast<uint16_t>(((lead << 6) & 0x7FF) | (p[1] & 0x3F));
            p += 2;
        } else {
            if (!p[1] || !p[2]) break;
            result[out++] = static_cast<uint16_t>(((p[1] << 6) & 0xFFF) | (p[2] & 0x3F) | (lead << 12));
            p += 3;
        }
    }
    result[out] = 0;
    return result;
}

void loadExternalLibraries(const char* const* list, void*** handles, int load, const char* resources) {
    if (!handles) return;
    size_t count = 0;
    while (list && list[count]) ++count;
    if (load && count > 0) {
        if (!*handles) {
            *handles = static_cast<void**>(calloc(count, sizeof(void*)));
            if (!*handles) return;
        }
    } else if (!*handles) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const char* entry = list[i];
        if (load) {
            // A name beginning "./" lies in the resources directory.
            bool relative = entry[0] == '.' && (entry[1] == '\\' || entry[1] == '/');
            char directory[2048];
            const char* source = relative && resources && *resources ? resources : entry;
            snprintf(directory, sizeof directory, "%s", source);
            if (!(relative && resources && *resources)) platformRemoveFileSpec(directory);
            if (!(*handles)[i]) {
                const char* name = relative ? entry + 2 : entry;
                (*handles)[i] = platformLoadLibrary(directory, name);
            }
        } else if ((*handles)[i]) {
            platformFreeLibrary((*handles)[i]);
            (*handles)[i] = nullptr;
        }
    }
    if (!load) {
        free(*handles);
        *handles = nullptr;
    }
}

void takeModulePath(void) {
    platformModulePath(reinterpret_cast<const void*>(&getModulePath), modulePath, sizeof modulePath);
}

const char* getModulePath(void) { return modulePath; }

// Appends "/" unless the text already ends with a separator.
static void copyDirectory(char* destination, size_t size, const char* text) {
    size_t limit = size - 2; // room for the separator and the terminator
    size_t n = strlen(text);
    if (n > limit) n = limit;
    memcpy(destination, text, n);
    if (n == 0 || (destination[n - 1] != '/' && destination[n - 1] != '\\')) destination[n++] = '/';
    destination[n] = '\0';
}

const char* resourcesDirectory(ModelData* modelData) {
    if (modelData && modelData->resourcesDirectory[0]) return modelData->resourcesDirectory;
    std::lock_guard<std::mutex> guard(globalDirectoryLock);
    if (deriveOnce && !globalDirectory) {
        // <dir>/binaries/<platform>/<library> -> <dir>/resources/
        char path[1000];
        snprintf(path, sizeof path, "%.998s", getModulePath());
        char* cut = nullptr;
        for (int level = 0; level < 3; ++level) {
            char* separator = strrchr(path, '/');
            if (!separator) separator = strrchr(path, '\\');
            if (!separator) break;
            cut = separator;
            *separator = '\0';
        }
        size_t keep = cut ? static_cast<size_t>(cut - path) + 1 : strlen(path);
        if (cut) *cut = '/';
        path[keep] = '\0';
        if (keep + sizeof("resources/") <= sizeof derivedDirectory) {
            snprintf(derivedDirectory, sizeof derivedDirectory, "%sresources/", path);
            globalDirectory = derivedDirectory;
        }
    }
    deriveOnce = 0;
    return globalDirectory ? globalDirectory : "PrandelResources/";
}

void setResourcesDirectory(ModelData* modelData, const char* text) {
    if (modelData) {
        modelData->resourcesDirectory[0] = '\0';
        if (text && *text) copyDirectory(modelData->resourcesDirectory, 1024, text);
        return;
    }
    std::lock_guard<std::mutex> guard(globalDirectoryLock);
    if (text && *text) {
        copyDirectory(globalBuffer, sizeof globalBuffer, text);
        globalDirectory = globalBuffer;
    } else {
        globalDirectory = nullptr;
    }
}

void setResourcesDirectoryGlobal(const char* text) { setResourcesDirectory(nullptr, text); }

const char* currentResourcesDirectory(void) { return resourcesDirectory(nullptr); }

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int resourceLocationToPath(const char* location, char* path, size_t size) {
    if (!location || !path || size == 0 || strncmp(location, "file:/", 6) != 0) return 0;
    const char* p = location + 5; // at the first '/'
    if (strncmp(p, "///", 3) == 0) {
        p += 2; // "file:///p": keep the path's own leading slash
    } else if (strncmp(p, "//localhost/", 12) == 0) {
        p += 11;
    } else if (strncmp(p, "//", 2) == 0) {
        p += 1; // "file://p" (an authority-less form some hosts write)
    }
    size_t n = 0;
    while (*p) {
        char c = *p++;
        if (c == '%' && hexValue(p[0]) >= 0 && hexValue(p[1]) >= 0) {
            c = static_cast<char>(hexValue(p[0]) * 16 + hexValue(p[1]));
            p += 2;
        }
        if (n + 1 >= size) return 0;
        path[n++] = c;
    }
    path[n] = '\0';
    return 1;
}

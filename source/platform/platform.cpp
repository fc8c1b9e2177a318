// Linux implementation of the platform layer.
#include "platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int platformSlotCreate(void (*destructor)(void*)) {
    pthread_key_t key;
    if (pthread_key_create(&key, destructor) != 0) return -1;
    return static_cast<int>(key);
}

void platformSlotDelete(int slot) {
    if (slot >= 0) pthread_key_delete(static_cast<pthread_key_t>(slot));
}

void* platformSlotGet(int slot) {
    if (slot < 0) return nullptr;
    return pthread_getspecific(static_cast<pthread_key_t>(slot));
}

int platformSlotSet(int slot, void* value) {
    if (slot < 0) return -1;
    return pthread_setspecific(static_cast<pthread_key_t>(slot), value) == 0 ? 0 : -1;
}

int platformModulePath(const void* address, char* buffer, size_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    Dl_info info;
    if (dladdr(address, &info) == 0 || !info.dli_fname) return -1;
    const char* name = info.dli_fname;
    if (name[0] == '/' || name[0] == '\0') {
        snprintf(buffer, size, "%s", name);
        return 0;
    }
    // A library loaded by a relative name reports that name; its directory is
    // resolved against the working directory now, so that what is derived
    // from the path later does not depend on where the process then stands.
    const char* slash = strrchr(name, '/');
    char directory[PATH_MAX];
    char resolved[PATH_MAX];
    snprintf(directory, sizeof directory, "%.*s", slash ? static_cast<int>(slash - name) : 1, slash ? name : ".");
    if (!realpath(directory, resolved)) {
        snprintf(buffer, size, "%s", name);
        return 0;
    }
    const size_t length = strlen(resolved);
    snprintf(buffer, size, "%s%s%s", resolved, length > 0 && resolved[length - 1] == '/' ? "" : "/",
             slash ? slash + 1 : name);
    return 0;
}

int platformRemoveFileSpec(char* path) {
    if (!path) return 0;
    char* slash = strrchr(path, '/');
    if (!slash) {
        if (path[0] == '\0') return 0;
        path[0] = '\0';
        return 1;
    }
    if (slash == path) { // keep the root
        if (path[1] == '\0') return 0;
        path[1] = '\0';
        return 1;
    }
    *slash = '\0';
    return 1;
}

void* platformLoadLibrary(const char* directory, const char* name) {
    if (!name || !*name) return nullptr;
    if (directory && *directory && !strchr(name, '/')) {
        char full[4096];
        int n = snprintf(full, sizeof full, "%s/%s", directory, name);
        if (n > 0 && static_cast<size_t>(n) < sizeof full) {
            void* handle = dlopen(full, RTLD_NOW | RTLD_LOCAL);
            if (handle) return handle;
        }
    }
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void platformFreeLibrary(void* handle) {
    if (handle) dlclose(handle);
}

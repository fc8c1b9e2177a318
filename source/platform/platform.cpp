// Linux implementation of the platform layer.
#include "platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

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

// Appends the components of `path` to `out`, each after a '/', dropping empty
// and "." components. Nothing is resolved: ".." and symbolic links stay as
// they are, since a step back over a link is not a step back in its name.
static void appendComponents(std::string& out, const char* path) {
    while (*path) {
        const char* end = strchr(path, '/');
        if (!end) end = path + strlen(path);
        const size_t length = static_cast<size_t>(end - path);
        if (length > 0 && !(length == 1 && path[0] == '.')) {
            out += '/';
            out.append(path, length);
        }
        path = *end ? end + 1 : end;
    }
}

int platformModulePath(const void* address, char* buffer, size_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    Dl_info info;
    if (dladdr(address, &info) == 0 || !info.dli_fname) return -1;
    const char* name = info.dli_fname;
    if (name[0] == '\0') return 0;
    // The loader reports the name the library was loaded by. A relative one
    // is made absolute by putting the working directory of this moment in
    // front of it, as written: the library then has one path however the
    // host spelled it, also when its directory is reached through a link.
    std::string path;
    if (name[0] != '/') {
        char directory[PATH_MAX];
        if (!getcwd(directory, sizeof directory)) {
            snprintf(buffer, size, "%s", name);
            return 0;
        }
        appendComponents(path, directory);
    }
    appendComponents(path, name);
    if (path.empty()) path = "/";
    if (path.size() >= size) {
        buffer[0] = '\0';
        return -1;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
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

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
#include <vector>

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

// Folds `path` into `kept` one component at a time: empty and "." components
// dropped, ".." taking back the component before it (none at the root of an
// absolute path; kept when a relative path has nothing left to take back).
// Lexical only: a step back over a symbolic link lands elsewhere on disk, so
// this serves when the directory cannot be resolved.
static void foldComponents(std::vector<std::string>& kept, const char* path, bool absolute) {
    while (*path) {
        const char* end = strchr(path, '/');
        if (!end) end = path + strlen(path);
        const std::string component(path, static_cast<size_t>(end - path));
        if (component == "..") {
            if (!kept.empty() && kept.back() != "..") {
                kept.pop_back();
            } else if (!absolute) {
                kept.push_back(component);
            }
        } else if (!component.empty() && component != ".") {
            kept.push_back(component);
        }
        path = *end ? end + 1 : end;
    }
}

int platformAbsolutePath(const char* name, char* buffer, size_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    if (!name) return -1;
    if (name[0] == '\0') return 0;
    // The directory resolved on disk, the file name kept as given: a host that
    // names <dir>/binaries/<platform>/X.so through a linked directory, "." or
    // ".." means the directory it reaches, while a link in place of the file
    // itself does not move the library out of the directory it was named in.
    const char* slash = strrchr(name, '/');
    const char* file = slash ? slash + 1 : name;
    std::string directory = ".";
    if (slash) directory.assign(name, slash == name ? 1 : static_cast<size_t>(slash - name));
    char resolved[PATH_MAX];
    std::string path;
    if (realpath(directory.c_str(), resolved)) {
        path = resolved;
        if (path.back() != '/') path += '/';
        path += file;
    } else {
        // Unresolvable: the spelling folded lexically, with the working
        // directory in front of a relative name (the relative name folded
        // when the working directory cannot be read either).
        std::vector<std::string> components;
        bool absolute = name[0] == '/';
        if (!absolute) {
            char cwd[PATH_MAX];
            if (getcwd(cwd, sizeof cwd) && cwd[0] == '/') {
                foldComponents(components, cwd, true);
                absolute = true;
            }
        }
        foldComponents(components, name, absolute);
        for (const std::string& component : components) {
            if (absolute || !path.empty()) path += '/';
            path += component;
        }
        if (path.empty()) path = absolute ? "/" : ".";
    }
    // Cut to what fits rather than dropped: a cut inside the file name still
    // leaves the directories the resources directory is derived from.
    size_t length = path.size();
    const int cut = length >= size;
    if (cut) length = size - 1;
    memcpy(buffer, path.data(), length);
    buffer[length] = '\0';
    return cut;
}

int platformModulePath(const void* address, char* buffer, size_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    Dl_info info;
    if (dladdr(address, &info) == 0 || !info.dli_fname) return -1;
    // The loader reports the name the library was loaded by; a relative one
    // is found against the working directory of this moment.
    return platformAbsolutePath(info.dli_fname, buffer, size);
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

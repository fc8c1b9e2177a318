// The few operating-system services the runtime needs, behind one small layer:
// a thread-local slot with a per-thread destructor, the library's own file
// path, and loading of shared libraries.
#pragma once

#include <stddef.h>

extern "C" {

// Thread slot. platformSlotCreate returns -1 when no slot is available.
int platformSlotCreate(void (*destructor)(void*));
void platformSlotDelete(int slot);
void* platformSlotGet(int slot);
int platformSlotSet(int slot, void* value);

// Full path of the shared object that contains `address`: the name it was
// loaded by, a relative one with the working directory put in front; "."
// components and doubled separators dropped, symbolic links not resolved
// (the relative name as given when the working directory cannot be read).
// 0 on success; -1, with an empty buffer, when it is unknown or does not fit.
int platformModulePath(const void* address, char* buffer, size_t size);

// Cuts the last path component ("/a/b/c.so" -> "/a/b"); returns 1 when something was removed.
int platformRemoveFileSpec(char* path);

// Loads a shared library; `directory` (may be NULL or empty) is searched first
// for a name without a '/'. NULL when it cannot be loaded.
void* platformLoadLibrary(const char* directory, const char* name);
void platformFreeLibrary(void* handle);

} // extern "C"

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

// Absolute path of the file `name` names, relative to the working directory
// of this moment or absolute: its directory resolved on disk (symbolic links,
// "." and ".." followed) with the file name put after it as given. When the
// directory cannot be resolved, the name is folded lexically instead: the
// working directory in front of a relative one, empty and "." components
// dropped and ".." taking back the component before it. A path longer than
// the buffer is cut to what fits. 0 on success, 1 when the path was cut; -1,
// with an empty buffer, when there is no name.
int platformAbsolutePath(const char* name, char* buffer, size_t size);

// Path of the shared object that contains `address`, from the name it was
// loaded by as platformAbsolutePath gives it; -1, with an empty buffer, when
// the object is unknown.
int platformModulePath(const void* address, char* buffer, size_t size);

// Cuts the last path component ("/a/b/c.so" -> "/a/b"); returns 1 when something was removed.
int platformRemoveFileSpec(char* path);

// Loads a shared library; `directory` (may be NULL or empty) is searched first
// for a name without a '/'. NULL when it cannot be loaded.
void* platformLoadLibrary(const char* directory, const char* name);
void platformFreeLibrary(void* handle);

} // extern "C"

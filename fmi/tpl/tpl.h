// Typed pack library: describes typed variables of the program by a format
// string, packs their values into a self-describing byte image and reads such
// an image back into the variables.
//
// Format characters: i (int32), u (uint32), c (byte), s (char* text, given as
// the address of the char*), f (double), I (int64), U (uint64), j (int16),
// v (uint16), B (byte buffer, given as the address of a TplBuffer record),
// A(...) a variable-length array of the parenthesized items, S(...) a record
// whose members follow the natural layout from one address, $(...) a nested
// record inside S(...), '#' a fixed count of the item or S(...) before it.
//
// No function of the library ever ends the process: a fatal error (out of
// memory, an invalid count, an internal inconsistency) is reported through
// the fatal hook and the operation returns its error result. No exception
// leaves the library.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" {

typedef struct TplNode TplNode;

// The record behind a 'B' item.
typedef struct TplBuffer {
    void* addr;
    uint32_t size;
} TplBuffer;

typedef int (*TplPrintFunction)(const char* format, ...);
typedef void* (*TplMallocFunction)(size_t size);
typedef void* (*TplReallocFunction)(void* block, size_t size);
typedef void (*TplFreeFunction)(void* block);
typedef void (*TplFatalFunction)(const char* format, ...);

// Hooks of the library: message printer, memory functions, fatal-error
// reporter and the largest image accepted by the stream readers (0: any).
// After the fatal hook returns, the library abandons the operation.
typedef struct TplHookTable {
    TplPrintFunction oops;
    TplMallocFunction malloc;
    TplReallocFunction realloc;
    TplFreeFunction free;
    TplFatalFunction fatal;
    size_t gather_max;
} TplHookTable;

extern TplHookTable TplHooks;

// Default printer: writes the message to the standard error stream.
int tpl_report(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Default fatal hook: formats the message into at most 100 characters and
// passes it to the printer; it returns, and the library then unwinds to the
// error result of the public call in progress.
void tpl_abort(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Mode flags of tpl_dump and tpl_load (sizes are size_t, descriptors int).
enum {
    TPL_MODE_FILE = 1,           // const char* file name
    TPL_MODE_MEMORY = 2,         // dump: void** address out, size_t* size out; load: void* image, size_t size
    TPL_MODE_PREALLOCATED = 4,   // dump with TPL_MODE_MEMORY: void* buffer, size_t buffer size
    TPL_MODE_EXCESS_ALLOWED = 8, // load: the image may be longer than its data
    TPL_MODE_DESCRIPTOR = 16,    // int file descriptor
    TPL_MODE_FREE_IMAGE = 32,    // load from memory: tpl_release frees the image through the free hook
    TPL_MODE_SIZE_ONLY = 256     // dump: size_t* receives the image size, nothing is written
};

// Builds the map of a format string; one argument per item (its address),
// per '#' (an int count), per S (the record's address) and per B (the address
// of a TplBuffer). NULL when the format cannot be parsed.
TplNode* tpl_map(const char* format, ...);

// Packs the current values: index 0 the whole map, i > 0 appends one element
// to the i-th A(...) of the format. 0 or -1.
int tpl_pack(TplNode* map, int index);

// Writes the image of a packed map (see the mode flags). 0 or -1.
int tpl_dump(TplNode* map, int mode, ...);

// Loads and validates an image. 0 or -1. On failure a memory image stays the
// caller's, whatever the mode.
int tpl_load(TplNode* map, int mode, ...);

// Unpacks into the mapped variables: index 0 gives 1; an array index gives
// the number of elements left before the call (0 when none is left); -1 on
// error. Texts and buffers are allocated through the malloc hook and belong
// to the caller; the previous pointers in the variables are not freed.
int tpl_unpack(TplNode* map, int index);

// Releases the map with everything it holds.
void tpl_release(TplNode* map);

// Called by the gather modes 2 and 3 for each complete image (valid during
// the call only); a negative result stops the gathering.
typedef int (*TplGatherCallback)(void* image, size_t size, void* data);

enum {
    TPL_GATHER_BLOCKING = 1,    // int fd, void** image out, size_t* size out
    TPL_GATHER_NONBLOCKING = 2, // int fd, void** partial state, TplGatherCallback, void* data
    TPL_GATHER_MEMORY = 3       // const void* bytes, size_t size, void** partial state, TplGatherCallback, void* data
};

// Reads whole images from a stream. Mode 1: 1 an image was read (allocated
// through the malloc hook, the caller frees it), 0 end of input, negative on
// error. Mode 2: 1 when the descriptor has no more data for now (an
// incomplete image stays in the partial state), 0 at the end of input,
// negative on error. Mode 3: 0 when the bytes were taken, negative on error.
// The partial state is released by the library at the end of input and on
// every error.
int tpl_gather(int mode, ...);

} // extern "C"

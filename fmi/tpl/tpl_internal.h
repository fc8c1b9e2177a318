// Inner records and operations of the typed pack library, shared by its
// source files and its tests.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tpl.h"

extern "C" {

// Type codes of map nodes.
enum TplTypeCode {
    kTplRoot = 0,
    kTplInt32 = 1,  // i
    kTplUInt32 = 2, // u
    kTplByte = 3,   // c
    kTplString = 4, // s
    kTplArray = 5,  // A(...)
    kTplBuffer = 6, // B
    kTplDouble = 7, // f
    kTplInt64 = 8,  // I
    kTplUInt64 = 9, // U
    kTplInt16 = 10, // j
    kTplUInt16 = 11,// v
    kTplPound = 12  // S(...)# : repeats its member children
};

// State flags of a map, kept in its root.
enum {
    kTplStateFileImage = 0x0001,
    kTplStateMemoryImage = 0x0002,
    kTplStateFreeImage = 0x0020,
    kTplStatePacked = 0x0200,
    kTplStateLoaded = 0x0400,
    kTplStateOtherOrder = 0x0800,
    kTplStateOldStrings = 0x1000
};

// One node of a map. Root-level items keep their packed image in `packed`;
// items inside arrays are packed straight into the array's element bytes.
struct TplNode {
    int type;
    void* addr;    // the mapped variable (for members of S(...): computed from the record's address)
    void* data;    // TplRootData, TplArrayData or TplPoundData; NULL for items
    int num;       // element count (product of the '#' counts); repetitions for a '#' node
    size_t ser_osz; // root: image size without variable parts; array: size of the packed elements
    char* packed;  // packed image of a root-level item or '#' node, NULL before packing
    size_t packedLength;
    TplNode* children;
    TplNode* last_child;
    TplNode* next;
    TplNode* parent;
};

struct TplRootData {
    uint32_t flags;
    TplNode** arrays; // the A(...) nodes in format order
    int arrayCount;
    char* image;      // loaded image
    size_t imageLength;
    int fd;           // descriptor of a mapped file image, -1 otherwise
    char* format;
    uint32_t* counts; // the '#' counts in format order
    int countCount;
};

struct TplArrayData {
    char* elements; // packed elements, each in image form
    size_t capacity;
    uint32_t count;
    // unpacking
    int positioned;
    uint32_t left;
    const char* next;
};

struct TplPoundData {
    size_t stride;
};

// Bytes per element of each type code (0 for the structural ones).
size_t tplTypeSize(int type);

// Image size of a packed map (the fatal hook for a non-root node).
size_t tpl_ser_osz(TplNode* root);
// Length of the data of the root or of one element of an array, read from
// `data` with `remaining` bytes left; -1 when it runs past the end.
int64_t tpl_serlen(TplNode* node, const void* data, size_t remaining);
// Validates the loaded image of a map: 0, or the negative code of the fault.
int tpl_check_image(TplNode* root, int excessAllowed);
// After a load: the element counts and data positions of the top-level arrays.
void unpackA0(TplNode* root);
// New node appended to `parent` (NULL for a root).
TplNode* tpl_make_node(TplNode* parent, int type, void* addr, int num);
// The format string of an image, or NULL when it does not end inside the image.
const char* tpl_read_format(const void* image, size_t length);

// File mapping layer; NULL or -1 with errno set on failure.
void* tpl_map_file(size_t length, int protection, int sharing, int fd);
int tpl_sync_file(void* view, size_t length);
int tpl_unmap_file(void* view, size_t length);

} // extern "C"

// Helpers shared by the library's sources (C++ linkage, not exported).
struct TplUnwind {};
void tplOops(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void tplFatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
void* tplAlloc(size_t size);
void* tplGrow(void* block, size_t oldSize, size_t newSize);
void tplFree(void* block);
int tplGatherBlocking(int fd, void** image, size_t* size);

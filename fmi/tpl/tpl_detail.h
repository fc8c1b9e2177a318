// Internal pieces shared by the typed pack library's sources: owned blocks,
// growable and bounded byte buffers, the image reader, and tree helpers.
#pragma once

#include "tpl_internal.h"

#include <stdint.h>
#include <string.h>

namespace tpl_detail {

constexpr bool kBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
constexpr uint32_t kImageStates = kTplStateFileImage | kTplStateMemoryImage | kTplStateFreeImage |
                                  kTplStateLoaded | kTplStateOtherOrder | kTplStateOldStrings;

// A block owned by the library until it is handed over.
struct Owned {
    void* block = nullptr;
    explicit Owned(void* b) : block(b) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { tplFree(block); }
    char* bytes() const { return static_cast<char*>(block); }
    void* release() {
        void* b = block;
        block = nullptr;
        return b;
    }
};

// Growable byte string built through the hooks.
struct Bytes {
    char* data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { tplFree(data); }
    void reserve(size_t extra) {
        if (extra > SIZE_MAX - length) tplFatal("out of memory\n");
        size_t need = length + extra;
        if (need <= capacity) return;
        size_t grown = capacity ? capacity : 64;
        while (grown < need) grown = grown > SIZE_MAX / 2 ? need : grown * 2;
        data = static_cast<char*>(tplGrow(data, length, grown));
        capacity = grown;
    }
    void put(const void* bytes, size_t n) {
        if (n == 0) return;
        reserve(n);
        memcpy(data + length, bytes, n);
        length += n;
    }
    void put32(uint32_t value) { put(&value, 4); }
    char* release() {
        char* d = data;
        data = nullptr;
        length = capacity = 0;
        return d;
    }
};

// Bounded writer of an image; running past the end is an internal error.
struct Writer {
    char* p;
    char* end;
    void put(const void* bytes, size_t n) {
        if (n > static_cast<size_t>(end - p)) tplFatal("internal error in tpl_dump\n");
        if (n) memcpy(p, bytes, n);
        p += n;
    }
    void zeros(size_t n) {
        if (n > static_cast<size_t>(end - p)) tplFatal("internal error in tpl_dump\n");
        memset(p, 0, n);
        p += n;
    }
    void put32(uint32_t value) { put(&value, 4); }
};

// Bounded reader of an image in its own byte order and string encoding.
struct Reader {
    const char* p;
    const char* end;
    bool swap;
    bool oldStrings;
    size_t remaining() const { return static_cast<size_t>(end - p); }
    bool take(uint64_t n, const char** at) {
        if (n > remaining()) return false;
        *at = p;
        p += n;
        return true;
    }
    bool get32(uint32_t* value) {
        if (remaining() < 4) return false;
        memcpy(value, p, 4);
        p += 4;
        if (swap) *value = __builtin_bswap32(*value);
        return true;
    }
};

inline uint32_t read32(const char* at, bool swap) {
    uint32_t value;
    memcpy(&value, at, 4);
    return swap ? __builtin_bswap32(value) : value;
}

inline TplRootData* rootData(TplNode* root) { return static_cast<TplRootData*>(root->data); }
inline TplArrayData* arrayData(TplNode* array) { return static_cast<TplArrayData*>(array->data); }
inline size_t poundStride(TplNode* pound) { return static_cast<TplPoundData*>(pound->data)->stride; }

inline TplNode* rootOf(TplNode* node) {
    while (node->parent) node = node->parent;
    return node;
}

inline bool isFixed(int type) {
    switch (type) {
    case kTplInt32: case kTplUInt32: case kTplByte: case kTplDouble:
    case kTplInt64: case kTplUInt64: case kTplInt16: case kTplUInt16:
        return true;
    default:
        return false;
    }
}

inline size_t alignmentOf(int type) {
    if (type == kTplDouble || type == kTplInt64 || type == kTplUInt64) return 8;
    return tplTypeSize(type);
}

inline size_t roundUp(size_t offset, size_t alignment) {
    return alignment > 1 ? (offset + alignment - 1) / alignment * alignment : offset;
}

inline void reverseElements(char* bytes, size_t size, size_t count) {
    for (size_t k = 0; k < count; ++k, bytes += size)
        for (size_t a = 0, b = size - 1; a < b; ++a, --b) {
            char t = bytes[a];
            bytes[a] = bytes[b];
            bytes[b] = t;
        }
}


// Tree housekeeping (tpl.cpp).
void freeTree(TplNode* node);
void forgetPositions(TplNode* root);
void dropLoaded(TplNode* root);
void dropPacked(TplNode* root);
TplNode* nodeForIndex(TplNode* map, int index);

} // namespace tpl_detail

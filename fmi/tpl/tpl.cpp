// Typed pack library: maps, packing, images in memory, files and descriptors,
// loading with validation, unpacking and release.
//
// Every public function catches whatever the fatal hook path throws (and
// anything a user hook throws) and turns it into its error result. Readers of
// an image never trust a length: each one is checked against the bytes that
// remain before it is used.
#include "tpl_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

TplHookTable TplHooks = {tpl_report, malloc, realloc, free, tpl_abort, 0};

static_assert(sizeof(TplBuffer) == 16 && offsetof(TplBuffer, size) == 8,
              "a B item is the record {pointer to the bytes, 32-bit size}");

namespace {

constexpr bool kBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
constexpr uint32_t kImageStates = kTplStateFileImage | kTplStateMemoryImage | kTplStateFreeImage |
                                  kTplStateLoaded | kTplStateOtherOrder | kTplStateOldStrings;

} // namespace

// ---------------------------------------------------------------------------
// Hooks and memory

int tpl_report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = vfprintf(stderr, format, args);
    va_end(args);
    return written;
}

void tpl_abort(const char* format, ...) {
    char text[101];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (TplHooks.oops) TplHooks.oops("%s", text);
}

void tplOops(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (TplHooks.oops) TplHooks.oops("%s", text);
}

void tplFatal(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (TplHooks.fatal) TplHooks.fatal("%s", text);
    throw TplUnwind{};
}

void* tplAlloc(size_t size) {
    void* block = TplHooks.malloc ? TplHooks.malloc(size ? size : 1) : nullptr;
    if (!block) tplFatal("out of memory\n");
    return block;
}

void tplFree(void* block) {
    if (block && TplHooks.free) TplHooks.free(block);
}

// Growth uses the realloc hook, except when the standard realloc would be
// paired with replaced malloc/free hooks: then the block moves by hand.
void* tplGrow(void* block, size_t oldSize, size_t newSize) {
    bool mixed = TplHooks.realloc == realloc && (TplHooks.malloc != malloc || TplHooks.free != free);
    if (TplHooks.realloc && !mixed) {
        void* grown = TplHooks.realloc(block, newSize ? newSize : 1);
        if (!grown) tplFatal("out of memory\n");
        return grown;
    }
    void* grown = tplAlloc(newSize);
    if (block) {
        memcpy(grown, block, oldSize < newSize ? oldSize : newSize);
        tplFree(block);
    }
    return grown;
}

namespace {

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

uint32_t read32(const char* at, bool swap) {
    uint32_t value;
    memcpy(&value, at, 4);
    return swap ? __builtin_bswap32(value) : value;
}

TplRootData* rootData(TplNode* root) { return static_cast<TplRootData*>(root->data); }
TplArrayData* arrayData(TplNode* array) { return static_cast<TplArrayData*>(array->data); }
size_t poundStride(TplNode* pound) { return static_cast<TplPoundData*>(pound->data)->stride; }

TplNode* rootOf(TplNode* node) {
    while (node->parent) node = node->parent;
    return node;
}

bool isFixed(int type) {
    switch (type) {
    case kTplInt32: case kTplUInt32: case kTplByte: case kTplDouble:
    case kTplInt64: case kTplUInt64: case kTplInt16: case kTplUInt16:
        return true;
    default:
        return false;
    }
}

size_t alignmentOf(int type) {
    if (type == kTplDouble || type == kTplInt64 || type == kTplUInt64) return 8;
    return tplTypeSize(type);
}

size_t roundUp(size_t offset, size_t alignment) {
    return alignment > 1 ? (offset + alignment - 1) / alignment * alignment : offset;
}

void reverseElements(char* bytes, size_t size, size_t count) {
    for (size_t k = 0; k < count; ++k, bytes += size)
        for (size_t a = 0, b = size - 1; a < b; ++a, --b) {
            char t = bytes[a];
            bytes[a] = bytes[b];
            bytes[b] = t;
        }
}

} // namespace

size_t tplTypeSize(int type) {
    switch (type) {
    case kTplInt32: case kTplUInt32: return 4;
    case kTplByte: return 1;
    case kTplString: case kTplDouble: case kTplInt64: case kTplUInt64: return 8;
    case kTplInt16: case kTplUInt16: return 2;
    default: return 0;
    }
}

// ---------------------------------------------------------------------------
// Nodes

TplNode* tpl_make_node(TplNode* parent, int type, void* addr, int num) {
    TplNode* node = static_cast<TplNode*>(tplAlloc(sizeof(TplNode)));
    memset(node, 0, sizeof *node);
    node->type = type;
    node->addr = addr;
    node->num = num;
    if (parent) {
        node->parent = parent;
        if (parent->last_child)
            parent->last_child->next = node;
        else
            parent->children = node;
        parent->last_child = node;
    }
    // From here on the node is reachable from its tree (or freed below).
    size_t dataSize = type == kTplRoot ? sizeof(TplRootData)
                      : type == kTplArray ? sizeof(TplArrayData)
                      : type == kTplPound ? sizeof(TplPoundData) : 0;
    if (dataSize) {
        try {
            node->data = tplAlloc(dataSize);
        } catch (...) {
            if (!parent) tplFree(node);
            throw;
        }
        memset(node->data, 0, dataSize);
        if (type == kTplRoot) rootData(node)->fd = -1;
    }
    return node;
}

namespace {

void freeTree(TplNode* node) {
    if (!node) return;
    for (TplNode* child = node->children; child;) {
        TplNode* next = child->next;
        freeTree(child);
        child = next;
    }
    if (node->type == kTplRoot && node->data) {
        TplRootData* rd = rootData(node);
        tplFree(rd->arrays);
        tplFree(rd->format);
        tplFree(rd->counts);
    } else if (node->type == kTplArray && node->data) {
        tplFree(arrayData(node)->elements);
    }
    tplFree(node->data);
    tplFree(node->packed);
    tplFree(node);
}

void forgetPositions(TplNode* root) {
    TplRootData* rd = rootData(root);
    for (int k = 0; k < rd->arrayCount; ++k) {
        TplArrayData* ad = arrayData(rd->arrays[k]);
        ad->positioned = 0;
        ad->left = 0;
        ad->next = nullptr;
    }
}

// Releases the loaded image (a mapped file, or a memory image the map owns).
void dropLoaded(TplNode* root) {
    TplRootData* rd = rootData(root);
    if (rd->flags & kTplStateFileImage) {
        if (rd->image && tpl_unmap_file(rd->image, rd->imageLength) != 0)
            tplOops("Failed to munmap: %s\n", strerror(errno));
        if (rd->fd >= 0) close(rd->fd);
    } else if (rd->flags & kTplStateFreeImage) {
        tplFree(rd->image);
    }
    rd->image = nullptr;
    rd->imageLength = 0;
    rd->fd = -1;
    rd->flags &= ~kImageStates;
    forgetPositions(root);
}

// Releases the packed values of every item and array.
void dropPacked(TplNode* root) {
    TplRootData* rd = rootData(root);
    for (TplNode* child = root->children; child; child = child->next) {
        tplFree(child->packed);
        child->packed = nullptr;
        child->packedLength = 0;
    }
    for (int k = 0; k < rd->arrayCount; ++k) {
        TplNode* array = rd->arrays[k];
        TplArrayData* ad = arrayData(array);
        tplFree(ad->elements);
        ad->elements = nullptr;
        ad->capacity = 0;
        ad->count = 0;
        array->ser_osz = 0;
    }
    rd->flags &= ~kTplStatePacked;
}

// ---------------------------------------------------------------------------
// Format parsing

void appendCount(TplNode* root, int count) {
    TplRootData* rd = rootData(root);
    size_t n = static_cast<size_t>(rd->countCount);
    rd->counts = static_cast<uint32_t*>(tplGrow(rd->counts, n * sizeof(uint32_t), (n + 1) * sizeof(uint32_t)));
    rd->counts[n] = static_cast<uint32_t>(count);
    rd->countCount++;
    root->ser_osz += 4;
}

void appendArray(TplNode* root, TplNode* array) {
    TplRootData* rd = rootData(root);
    size_t n = static_cast<size_t>(rd->arrayCount);
    rd->arrays = static_cast<TplNode**>(tplGrow(rd->arrays, n * sizeof(TplNode*), (n + 1) * sizeof(TplNode*)));
    rd->arrays[n] = array;
    rd->arrayCount++;
}

int itemType(char c) {
    switch (c) {
    case 'i': return kTplInt32;
    case 'u': return kTplUInt32;
    case 'c': return kTplByte;
    case 's': return kTplString;
    case 'f': return kTplDouble;
    case 'I': return kTplInt64;
    case 'U': return kTplUInt64;
    case 'j': return kTplInt16;
    case 'v': return kTplUInt16;
    default: return -1;
    }
}

int multiplyCount(int64_t num, int count) {
    int64_t product = num * count;
    if (product > INT_MAX) tplFatal("iteration count product %lld too large\n", static_cast<long long>(product));
    return static_cast<int>(product);
}

// The open record of an S(...) while its members are parsed.
struct OpenRecord {
    bool active = false;
    char* base = nullptr;
    TplNode* parent = nullptr;
    TplNode* first = nullptr;
    TplNode* last = nullptr;
    size_t lastOffset = 0;
    size_t maxAlign = 1;
};

// The S(...) just closed, the target of a following '#'.
struct ClosedRecord {
    TplNode* parent = nullptr;
    TplNode* first = nullptr;
    TplNode* last = nullptr;
    char* base = nullptr;
    size_t stride = 0;
    TplNode* pound = nullptr;
};

enum Previous { kNothing, kOpened, kItem, kBufferItem, kRecordClosed, kOtherClosed, kCount };

// Moves the members of a closed record under a new '#' node.
void repeatRecord(ClosedRecord& record, int count) {
    TplNode* parent = record.parent;
    TplNode* pound = tpl_make_node(parent, kTplPound, record.base, count);
    static_cast<TplPoundData*>(pound->data)->stride = record.stride;
    TplNode* before = nullptr;
    for (TplNode* c = parent->children; c != record.first; c = c->next) before = c;
    if (before)
        before->next = pound;
    else
        parent->children = pound;
    pound->children = record.first;
    pound->last_child = record.last;
    record.last->next = nullptr;
    for (TplNode* member = record.first; member; member = member->next) member->parent = pound;
    record.pound = pound;
}

bool parseFormat(TplNode* root, const char* format, va_list* args) {
    Owned kinds(tplAlloc(strlen(format) + 1)); // stack of open parentheses
    size_t depth = 0;
    TplNode* current = root;
    OpenRecord open;
    ClosedRecord closed;
    Previous previous = kNothing;
    bool countsItem = false; // target of a run of '#': item (true) or record
    TplNode* lastItem = nullptr;
    char awaiting = 0; // S, A or $ waiting for its '('
    int run = 0;

    for (const char* at = format; *at; ++at) {
        char c = *at;
        if (awaiting && c != '(') return false;
        if (c != '#') run = 0;
        int type = itemType(c);
        if (type >= 0) {
            TplNode* node;
            if (open.active) {
                size_t offset = 0;
                if (open.last)
                    offset = open.lastOffset + tplTypeSize(open.last->type) * static_cast<size_t>(open.last->num);
                size_t alignment = alignmentOf(type);
                offset = roundUp(offset, alignment);
                if (alignment > open.maxAlign) open.maxAlign = alignment;
                node = tpl_make_node(current, type, open.base + offset, 1);
                open.lastOffset = offset;
                if (!open.first) open.first = node;
                open.last = node;
            } else {
                node = tpl_make_node(current, type, va_arg(*args, void*), 1);
            }
            lastItem = node;
            previous = kItem;
            continue;
        }
        switch (c) {
        case '#': {
            if (previous == kItem)
                countsItem = true;
            else if (previous == kRecordClosed)
                countsItem = false;
            else if (previous != kCount)
                return false;
            if (++run > 10) tplFatal("contiguous # exceeds hardcoded limit\n");
            int count = va_arg(*args, int);
            if (count < 1) tplFatal("non-positive iteration count %d\n", count);
            if (countsItem)
                lastItem->num = multiplyCount(lastItem->num, count);
            else if (closed.pound)
                closed.pound->num = multiplyCount(closed.pound->num, count);
            else
                repeatRecord(closed, count);
            if (!countsItem) // each member's elements over all repetitions must stay countable
                for (TplNode* member = closed.first; member; member = member->next)
                    multiplyCount(member->num, closed.pound->num);
            appendCount(root, count);
            previous = kCount;
            break;
        }
        case 'B':
            if (open.active) return false;
            tpl_make_node(current, kTplBuffer, va_arg(*args, void*), 1);
            previous = kBufferItem;
            break;
        case 'S':
        case 'A':
            if (open.active) return false;
            awaiting = c;
            break;
        case '$':
            if (!open.active) return false;
            awaiting = c;
            break;
        case '(': {
            char kind = awaiting ? awaiting : '(';
            awaiting = 0;
            if (kind == 'S') {
                open = OpenRecord{};
                open.active = true;
                open.base = va_arg(*args, char*);
                open.parent = current;
            } else if (kind == 'A') {
                TplNode* array = tpl_make_node(current, kTplArray, nullptr, 1);
                appendArray(root, array);
                current = array;
            }
            kinds.bytes()[depth++] = kind;
            previous = kOpened;
            break;
        }
        case ')': {
            if (depth == 0 || previous == kOpened) return false;
            char kind = kinds.bytes()[--depth];
            if (kind == 'S') {
                closed = ClosedRecord{};
                closed.parent = open.parent;
                closed.first = open.first;
                closed.last = open.last;
                closed.base = open.base;
                closed.stride = roundUp(open.lastOffset + tplTypeSize(open.last->type) * static_cast<size_t>(open.last->num),
                                        open.maxAlign);
                open = OpenRecord{};
                previous = kRecordClosed;
            } else {
                if (kind == 'A') current = current->parent;
                previous = kOtherClosed;
            }
            break;
        }
        default:
            tplOops("unsupported option %c\n", c);
            return false;
        }
    }
    return !awaiting && depth == 0;
}

} // namespace

TplNode* tpl_map(const char* format, ...) {
    va_list args;
    va_start(args, format);
    TplNode* root = nullptr;
    bool ok = false;
    try {
        if (format) {
            root = tpl_make_node(nullptr, kTplRoot, nullptr, 1);
            root->ser_osz = strlen(format) + 9;
            ok = parseFormat(root, format, &args);
            if (ok) {
                size_t length = strlen(format) + 1;
                char* copy = static_cast<char*>(tplAlloc(length));
                memcpy(copy, format, length);
                rootData(root)->format = copy;
            } else {
                tplOops("failed to parse %s\n", format);
            }
        }
    } catch (...) {
        ok = false;
    }
    va_end(args);
    if (!ok) {
        try {
            freeTree(root);
        } catch (...) {
        }
        return nullptr;
    }
    return root;
}

// ---------------------------------------------------------------------------
// Packing

namespace {

TplNode* nodeForIndex(TplNode* map, int index) {
    if (!map || map->type != kTplRoot || map->parent) return nullptr;
    if (index == 0) return map;
    TplRootData* rd = rootData(map);
    if (index < 0 || index > rd->arrayCount) return nullptr;
    return rd->arrays[index - 1];
}

// Appends the image form of one item (not an array) read from its variable;
// `delta` shifts the address for the repetitions of a '#' record.
void serializeItem(Bytes& out, TplNode* node, size_t delta) {
    char* at = static_cast<char*>(node->addr) + delta;
    if (isFixed(node->type)) {
        out.put(at, tplTypeSize(node->type) * static_cast<size_t>(node->num));
        return;
    }
    switch (node->type) {
    case kTplString: {
        char** strings = reinterpret_cast<char**>(at);
        for (int k = 0; k < node->num; ++k) {
            const char* text = strings[k];
            if (!text) {
                out.put32(0);
                continue;
            }
            size_t length = strlen(text);
            if (length >= UINT32_MAX) tplFatal("string of %zu characters too long to pack\n", length);
            out.put32(static_cast<uint32_t>(length + 1));
            out.put(text, length);
        }
        return;
    }
    case kTplBuffer: {
        const TplBuffer* buffer = reinterpret_cast<const TplBuffer*>(at);
        if (buffer->size && !buffer->addr) tplFatal("buffer of %u bytes without data\n", buffer->size);
        out.put32(buffer->size);
        out.put(buffer->addr, buffer->size);
        return;
    }
    case kTplPound: {
        size_t stride = poundStride(node);
        for (int r = 0; r < node->num; ++r)
            for (TplNode* member = node->children; member; member = member->next)
                serializeItem(out, member, delta + stride * static_cast<size_t>(r));
        return;
    }
    default:
        tplFatal("unsupported format character\n");
    }
}

void packRoot(TplNode* root) {
    for (TplNode* child = root->children; child; child = child->next) {
        if (child->type == kTplArray) continue;
        Bytes image;
        serializeItem(image, child, 0);
        tplFree(child->packed);
        child->packedLength = image.length;
        child->packed = image.release();
    }
}

void packArrayElement(TplNode* array) {
    TplArrayData* ad = arrayData(array);
    if (ad->count == UINT32_MAX) tplFatal("too many elements in array\n");
    Bytes element;
    for (TplNode* child = array->children; child; child = child->next) {
        if (child->type == kTplArray) {
            element.put32(arrayData(child)->count);
            element.put(arrayData(child)->elements, child->ser_osz);
        } else {
            serializeItem(element, child, 0);
        }
    }
    size_t used = array->ser_osz;
    if (element.length > SIZE_MAX / 2 - used) tplFatal("out of memory\n");
    if (used + element.length > ad->capacity) {
        size_t grown = ad->capacity ? ad->capacity * 2 : 256;
        if (grown < used + element.length) grown = used + element.length;
        ad->elements = static_cast<char*>(tplGrow(ad->elements, used, grown));
        ad->capacity = grown;
    }
    if (element.length) memcpy(ad->elements + used, element.data, element.length);
    array->ser_osz += element.length;
    ad->count++;
    // The nested arrays' elements now belong to this element.
    for (TplNode* child = array->children; child; child = child->next) {
        if (child->type != kTplArray) continue;
        TplArrayData* nested = arrayData(child);
        tplFree(nested->elements);
        nested->elements = nullptr;
        nested->capacity = 0;
        nested->count = 0;
        child->ser_osz = 0;
    }
}

} // namespace

int tpl_pack(TplNode* map, int index) {
    try {
        TplNode* node = nodeForIndex(map, index);
        if (!node) {
            tplOops("invalid index %d to tpl_pack\n", index);
            return -1;
        }
        TplRootData* rd = rootData(map);
        if (rd->flags & kTplStateLoaded) dropLoaded(map);
        rd->flags |= kTplStatePacked;
        if (node == map)
            packRoot(map);
        else
            packArrayElement(node);
        return 0;
    } catch (...) {
        return -1;
    }
}

// ---------------------------------------------------------------------------
// Image size and writing

namespace {

// Image length of an item that holds no packed value (all zero bytes: zero
// numbers, NULL strings, empty buffers).
size_t emptyLength(TplNode* node) {
    if (isFixed(node->type)) return tplTypeSize(node->type) * static_cast<size_t>(node->num);
    switch (node->type) {
    case kTplString: return 4 * static_cast<size_t>(node->num);
    case kTplBuffer: return 4;
    case kTplPound: {
        size_t one = 0;
        for (TplNode* member = node->children; member; member = member->next) one += emptyLength(member);
        return one * static_cast<size_t>(node->num);
    }
    default: tplFatal("unsupported format character\n");
    }
}

size_t childImageLength(TplNode* child) {
    if (child->type == kTplArray) return 4 + child->ser_osz;
    return child->packed ? child->packedLength : emptyLength(child);
}

void writeImage(TplNode* root, char* buffer, size_t length) {
    TplRootData* rd = rootData(root);
    Writer out{buffer, buffer + length};
    out.put("tpl", 3);
    unsigned char flags = static_cast<unsigned char>((kBigEndian ? 1 : 0) | (strchr(rd->format, 's') ? 2 : 0));
    out.put(&flags, 1);
    out.put32(static_cast<uint32_t>(length));
    out.put(rd->format, strlen(rd->format) + 1);
    for (int k = 0; k < rd->countCount; ++k) out.put32(rd->counts[k]);
    for (TplNode* child = root->children; child; child = child->next) {
        if (child->type == kTplArray) {
            out.put32(arrayData(child)->count);
            out.put(arrayData(child)->elements, child->ser_osz);
        } else if (child->packed) {
            out.put(child->packed, child->packedLength);
        } else {
            out.zeros(emptyLength(child));
        }
    }
    if (out.p != out.end) tplFatal("internal error in tpl_dump\n");
}

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

struct Mapping {
    void* view;
    size_t length;
    ~Mapping() {
        if (view) tpl_unmap_file(view, length);
    }
};

void waitFor(int fd, short events) {
    struct pollfd p = {fd, events, 0};
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

int dumpToFile(TplNode* map, const char* name, size_t n) {
    Descriptor file{open(name, O_RDWR | O_CREAT | O_TRUNC, 0666)};
    if (file.fd < 0) {
        tplOops("Couldn't open file %s: %s\n", name, strerror(errno));
        return -1;
    }
    Mapping mapping{tpl_map_file(n, PROT_READ | PROT_WRITE, MAP_SHARED, file.fd), n};
    if (!mapping.view) {
        tplOops("Failed to mmap %s: %s\n", name, strerror(errno));
        return -1;
    }
    if (ftruncate(file.fd, static_cast<off_t>(n)) != 0) {
        tplOops("ftruncate failed: %s\n", strerror(errno));
        return -1;
    }
    writeImage(map, static_cast<char*>(mapping.view), n);
    int result = 0;
    if (tpl_sync_file(mapping.view, n) != 0) {
        tplOops("msync failed on fd %d: %s\n", file.fd, strerror(errno));
        result = -1;
    }
    void* view = mapping.view;
    mapping.view = nullptr;
    if (tpl_unmap_file(view, n) != 0) {
        tplOops("munmap failed on fd %d: %s\n", file.fd, strerror(errno));
        result = -1;
    }
    return result;
}

int dumpToDescriptor(TplNode* map, int fd, size_t n) {
    Owned image(tplAlloc(n));
    writeImage(map, image.bytes(), n);
    struct stat status;
    bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    off_t start = regular ? lseek(fd, 0, SEEK_CUR) : -1;
    size_t done = 0;
    while (done < n) {
        ssize_t written = write(fd, image.bytes() + done, n - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitFor(fd, POLLOUT);
            continue;
        }
        tplOops("error writing to fd %d: %s\n", fd, strerror(written < 0 ? errno : EIO));
        if (regular && start >= 0 && (ftruncate(fd, start) != 0 || lseek(fd, start, SEEK_SET) < 0))
            tplOops("can't rewind: %s\n", strerror(errno));
        return -1;
    }
    return 0;
}

int dumpImage(TplNode* map, int mode, va_list* args) {
    if (map && map->type == kTplRoot && (rootData(map)->flags & kTplStateLoaded)) {
        tplOops("error: tpl_dump called for a loaded tpl\n");
        return -1;
    }
    size_t n = tpl_ser_osz(map);
    if (n > UINT32_MAX) {
        tplOops("tpl_dump: image of %zu bytes exceeds the 32-bit length field\n", n);
        return -1;
    }
    if (mode & TPL_MODE_FILE) return dumpToFile(map, va_arg(*args, const char*), n);
    if (mode & TPL_MODE_DESCRIPTOR) return dumpToDescriptor(map, va_arg(*args, int), n);
    if ((mode & TPL_MODE_MEMORY) && !(mode & TPL_MODE_PREALLOCATED)) {
        void** address = va_arg(*args, void**);
        size_t* size = va_arg(*args, size_t*);
        Owned image(tplAlloc(n));
        writeImage(map, image.bytes(), n);
        *address = image.release();
        *size = n;
        return 0;
    }
    if (mode & TPL_MODE_MEMORY) {
        void* buffer = va_arg(*args, void*);
        size_t size = va_arg(*args, size_t);
        if (size < n) {
            tplOops("tpl_dump: buffer too small, need %d bytes\n", n > INT_MAX ? INT_MAX : static_cast<int>(n));
            return -1;
        }
        writeImage(map, static_cast<char*>(buffer), n);
        return 0;
    }
    if (mode & TPL_MODE_SIZE_ONLY) {
        *va_arg(*args, size_t*) = n;
        return 0;
    }
    tplOops("unsupported tpl_dump mode %d\n", mode);
    return -1;
}

} // namespace

size_t tpl_ser_osz(TplNode* root) {
    if (!root || root->type != kTplRoot) tplFatal("internal error: tpl_ser_osz on non-root node\n");
    size_t n = root->ser_osz;
    for (TplNode* child = root->children; child; child = child->next) n += childImageLength(child);
    return n;
}

int tpl_dump(TplNode* map, int mode, ...) {
    va_list args;
    va_start(args, mode);
    int result;
    try {
        result = dumpImage(map, mode, &args);
    } catch (...) {
        result = -1;
    }
    va_end(args);
    return result;
}

// ---------------------------------------------------------------------------
// Image validation

namespace {

Reader readerFor(TplNode* root, const char* from) {
    TplRootData* rd = rootData(root);
    return Reader{from, rd->image + rd->imageLength, (rd->flags & kTplStateOtherOrder) != 0,
                  (rd->flags & kTplStateOldStrings) != 0};
}

bool skipChildren(TplNode* parent, Reader& in);

bool skipItem(TplNode* node, Reader& in) {
    const char* at;
    if (isFixed(node->type)) return in.take(tplTypeSize(node->type) * static_cast<uint64_t>(node->num), &at);
    switch (node->type) {
    case kTplString:
        for (int k = 0; k < node->num; ++k) {
            uint32_t n;
            if (!in.get32(&n)) return false;
            uint64_t characters = in.oldStrings ? n : (n ? n - 1u : 0u);
            if (!in.take(characters, &at)) return false;
        }
        return true;
    case kTplBuffer: {
        uint32_t size;
        return in.get32(&size) && in.take(size, &at);
    }
    case kTplArray: {
        uint32_t count;
        if (!in.get32(&count)) return false;
        if (count > in.remaining()) return false; // every element takes at least one byte
        for (uint32_t k = 0; k < count; ++k)
            if (!skipChildren(node, in)) return false;
        return true;
    }
    case kTplPound:
        for (int r = 0; r < node->num; ++r)
            for (TplNode* member = node->children; member; member = member->next)
                if (!skipItem(member, in)) return false;
        return true;
    default:
        tplFatal("unsupported format character\n");
    }
}

bool skipChildren(TplNode* parent, Reader& in) {
    for (TplNode* child = parent->children; child; child = child->next)
        if (!skipItem(child, in)) return false;
    return true;
}

} // namespace

int64_t tpl_serlen(TplNode* node, const void* data, size_t remaining) {
    if (!node || (node->type != kTplRoot && node->type != kTplArray)) tplFatal("internal error in tpl_serlen\n");
    TplNode* root = rootOf(node);
    const char* from = static_cast<const char*>(data);
    Reader in = readerFor(root, from);
    in.end = from + remaining;
    if (!skipChildren(node, in)) return -1;
    return static_cast<int64_t>(in.p - from);
}

const char* tpl_read_format(const void* image, size_t length) {
    if (!image || length < 9) return nullptr;
    const char* format = static_cast<const char*>(image) + 8;
    return memchr(format, 0, length - 8) ? format : nullptr;
}

int tpl_check_image(TplNode* root, int excessAllowed) {
    TplRootData* rd = rootData(root);
    const char* image = rd->image;
    size_t m = rd->imageLength;
    rd->flags &= ~(kTplStateOtherOrder | kTplStateOldStrings);
    if (!image || m < 9) return -1;
    if (memcmp(image, "tpl", 3) != 0) return -2;
    unsigned char flags = static_cast<unsigned char>(image[3]);
    if (((flags & 1) != 0) != kBigEndian) rd->flags |= kTplStateOtherOrder;
    if (!(flags & 2)) rd->flags |= kTplStateOldStrings;
    if (flags > 3) return -11;
    bool swap = (rd->flags & kTplStateOtherOrder) != 0;
    if (!excessAllowed && read32(image + 4, swap) != m) return -3;
    const char* format = tpl_read_format(image, m);
    if (!format) return -5;
    for (const char* c = format; *c; ++c)
        if (!strchr("AS($)BiucsfIUjv#", *c)) return -4;
    if (strcmp(format, rd->format) != 0) return -6;
    size_t header = 8 + strlen(format) + 1;
    if (static_cast<uint64_t>(rd->countCount) * 4 > m - header) return -10;
    for (int k = 0; k < rd->countCount; ++k)
        if (read32(image + header + 4 * static_cast<size_t>(k), swap) != rd->counts[k]) return -7;
    header += 4 * static_cast<size_t>(rd->countCount);
    int64_t data = tpl_serlen(root, image + header, m - header);
    if (data < 0) return -8;
    uint64_t total = header + static_cast<uint64_t>(data);
    if (excessAllowed ? total > m : total != m) return -9;
    return 0;
}

void unpackA0(TplNode* root) {
    TplRootData* rd = rootData(root);
    Reader in = readerFor(root, rd->image + root->ser_osz);
    for (TplNode* child = root->children; child; child = child->next) {
        if (child->type != kTplArray) {
            if (!skipItem(child, in)) tplFatal("internal error in unpackA0\n");
            continue;
        }
        TplArrayData* ad = arrayData(child);
        uint32_t count;
        if (!in.get32(&count)) tplFatal("internal error in unpackA0\n");
        ad->left = count;
        ad->next = in.p;
        ad->positioned = 1;
        for (uint32_t k = 0; k < count; ++k)
            if (!skipChildren(child, in)) tplFatal("internal error in unpackA0\n");
    }
}

// ---------------------------------------------------------------------------
// Loading

namespace {

void forgetImage(TplNode* root) {
    TplRootData* rd = rootData(root);
    rd->image = nullptr;
    rd->imageLength = 0;
    rd->fd = -1;
    rd->flags &= ~kImageStates;
}

// Validated image: the top-level array positions; on an internal failure the
// image is let go without being released (the caller still owns it).
void finishLoad(TplNode* root) {
    try {
        unpackA0(root);
    } catch (...) {
        rootData(root)->flags &= ~kTplStateFreeImage;
        dropLoaded(root);
        throw;
    }
}

int loadMemory(TplNode* root, void* image, size_t size, bool excessAllowed, bool freeImage) {
    TplRootData* rd = rootData(root);
    rd->image = static_cast<char*>(image);
    rd->imageLength = image ? size : 0;
    int check;
    try {
        check = tpl_check_image(root, excessAllowed);
    } catch (...) {
        forgetImage(root);
        throw;
    }
    if (check != 0) {
        forgetImage(root);
        tplOops(check == -6 ? "format signature mismatch\n" : "not a valid tpl file\n");
        return -1;
    }
    rd->flags |= kTplStateMemoryImage | kTplStateLoaded | (freeImage ? kTplStateFreeImage : 0);
    finishLoad(root);
    return 0;
}

int loadFile(TplNode* root, const char* name, bool excessAllowed) {
    Descriptor file{open(name, O_RDONLY)};
    if (file.fd < 0) {
        tplOops("Couldn't open file %s: %s\n", name, strerror(errno));
        tplOops("tpl_load failed for file %s\n", name);
        return -1;
    }
    struct stat status;
    if (fstat(file.fd, &status) != 0) {
        tplOops("Couldn't stat file %s: %s\n", name, strerror(errno));
        tplOops("tpl_load failed for file %s\n", name);
        return -1;
    }
    size_t size = static_cast<size_t>(status.st_size);
    Mapping mapping{tpl_map_file(size, PROT_READ, MAP_PRIVATE, file.fd), size};
    if (!mapping.view) {
        tplOops("Failed to mmap %s: %s\n", name, strerror(errno));
        tplOops("tpl_load failed for file %s\n", name);
        return -1;
    }
    TplRootData* rd = rootData(root);
    rd->image = static_cast<char*>(mapping.view);
    rd->imageLength = size;
    int check;
    try {
        check = tpl_check_image(root, excessAllowed);
    } catch (...) {
        forgetImage(root);
        throw;
    }
    if (check != 0) {
        forgetImage(root);
        if (check == -6)
            tplOops("%s: format signature mismatch\n", name);
        else if (check == -7)
            tplOops("%s: array lengths mismatch\n", name);
        else
            tplOops("%s: not a valid tpl file\n", name);
        return -1;
    }
    // The map now owns the view and the descriptor.
    rd->fd = file.fd;
    file.fd = -1;
    mapping.view = nullptr;
    rd->flags |= kTplStateFileImage | kTplStateLoaded;
    finishLoad(root);
    return 0;
}

int loadImage(TplNode* map, int mode, va_list* args) {
    const char* name = nullptr;
    void* image = nullptr;
    size_t size = 0;
    int fd = -1;
    if (mode & TPL_MODE_FILE) {
        name = va_arg(*args, const char*);
    } else if (mode & TPL_MODE_MEMORY) {
        image = va_arg(*args, void*);
        size = va_arg(*args, size_t);
    } else if (mode & TPL_MODE_DESCRIPTOR) {
        fd = va_arg(*args, int);
    } else {
        tplOops("unsupported tpl_load mode %d\n", mode);
        return -1;
    }
    if (!map || map->type != kTplRoot || map->parent) {
        tplOops("error: tpl_load to non-root node\n");
        return -1;
    }
    TplRootData* rd = rootData(map);
    if (rd->flags & kTplStateLoaded) dropLoaded(map);
    if (rd->flags & kTplStatePacked) dropPacked(map);
    bool excessAllowed = (mode & TPL_MODE_EXCESS_ALLOWED) != 0;
    if (name) return loadFile(map, name, excessAllowed);
    if (mode & TPL_MODE_MEMORY) return loadMemory(map, image, size, excessAllowed, (mode & TPL_MODE_FREE_IMAGE) != 0);
    void* gathered = nullptr;
    size_t length = 0;
    if (tplGatherBlocking(fd, &gathered, &length) != 1) return -1;
    Owned owned(gathered);
    if (loadMemory(map, gathered, length, excessAllowed, true) != 0) return -1;
    owned.release();
    return 0;
}

} // namespace

int tpl_load(TplNode* map, int mode, ...) {
    va_list args;
    va_start(args, mode);
    int result;
    try {
        result = loadImage(map, mode, &args);
    } catch (...) {
        result = -1;
    }
    va_end(args);
    return result;
}

// ---------------------------------------------------------------------------
// Unpacking

namespace {

void unpackItem(TplNode* node, Reader& in, size_t delta) {
    char* at = static_cast<char*>(node->addr) + delta;
    const char* from;
    if (isFixed(node->type)) {
        size_t size = tplTypeSize(node->type);
        size_t bytes = size * static_cast<size_t>(node->num);
        if (!in.take(bytes, &from)) tplFatal("internal error in unpack\n");
        memcpy(at, from, bytes);
        if (in.swap && size > 1) reverseElements(at, size, static_cast<size_t>(node->num));
        return;
    }
    switch (node->type) {
    case kTplString: {
        char** strings = reinterpret_cast<char**>(at);
        for (int k = 0; k < node->num; ++k) {
            uint32_t n;
            if (!in.get32(&n)) tplFatal("internal error in unpack\n");
            uint64_t total = in.oldStrings ? static_cast<uint64_t>(n) + 1 : n;
            if (total == 0) {
                strings[k] = nullptr;
                continue;
            }
            if (!in.take(total - 1, &from)) tplFatal("internal error in unpack\n");
            char* text = static_cast<char*>(tplAlloc(total));
            memcpy(text, from, total - 1);
            text[total - 1] = '\0';
            strings[k] = text;
        }
        return;
    }
    case kTplBuffer: {
        uint32_t size;
        if (!in.get32(&size) || !in.take(size, &from)) tplFatal("internal error in unpack\n");
        void* bytes = nullptr;
        if (size) {
            bytes = tplAlloc(size);
            memcpy(bytes, from, size);
        }
        TplBuffer* buffer = reinterpret_cast<TplBuffer*>(at);
        buffer->addr = bytes;
        buffer->size = size;
        return;
    }
    case kTplPound: {
        size_t stride = poundStride(node);
        for (int r = 0; r < node->num; ++r)
            for (TplNode* member = node->children; member; member = member->next)
                unpackItem(member, in, delta + stride * static_cast<size_t>(r));
        return;
    }
    default:
        tplFatal("unsupported format character\n");
    }
}

void unpackChildren(TplNode* parent, Reader& in) {
    for (TplNode* child = parent->children; child; child = child->next) {
        if (child->type != kTplArray) {
            unpackItem(child, in, 0);
            continue;
        }
        TplArrayData* ad = arrayData(child);
        uint32_t count;
        if (!in.get32(&count) || count > in.remaining()) tplFatal("internal error in unpack\n");
        ad->left = count;
        ad->next = in.p;
        ad->positioned = 1;
        for (uint32_t k = 0; k < count; ++k)
            if (!skipChildren(child, in)) tplFatal("internal error in unpack\n");
    }
}

int unpackImage(TplNode* map, int index) {
    if (map && map->type == kTplRoot && !map->parent) {
        TplRootData* rd = rootData(map);
        if ((rd->flags & kTplStatePacked) && !(rd->flags & kTplStateLoaded)) {
            void* image = nullptr;
            size_t size = 0;
            if (tpl_dump(map, TPL_MODE_MEMORY, &image, &size) != 0) return -1;
            if (tpl_load(map, TPL_MODE_MEMORY | TPL_MODE_FREE_IMAGE, image, size) != 0) {
                tplFree(image);
                return -1;
            }
        }
    }
    TplNode* node = nodeForIndex(map, index);
    if (!node) {
        tplOops("invalid index %d to tpl_unpack\n", index);
        return -1;
    }
    TplRootData* rd = rootData(map);
    if (!(rd->flags & kTplStateLoaded)) {
        tplOops("tpl_unpack: no image to unpack\n");
        return -1;
    }
    if (node == map) {
        Reader in = readerFor(map, rd->image + map->ser_osz);
        unpackChildren(map, in);
        return 1;
    }
    TplArrayData* ad = arrayData(node);
    if (!ad->positioned) tplFatal("must unpack parent of node before node itself\n");
    if (ad->left == 0) return 0;
    uint32_t before = ad->left;
    Reader in = readerFor(map, ad->next);
    unpackChildren(node, in);
    ad->next = in.p;
    ad->left--;
    return before > INT_MAX ? INT_MAX : static_cast<int>(before);
}

} // namespace

int tpl_unpack(TplNode* map, int index) {
    try {
        return unpackImage(map, index);
    } catch (...) {
        return -1;
    }
}

// ---------------------------------------------------------------------------
// Release

void tpl_release(TplNode* map) {
    if (!map || map->type != kTplRoot || map->parent) return;
    try {
        dropLoaded(map);
    } catch (...) {
    }
    try {
        freeTree(map);
    } catch (...) {
    }
}

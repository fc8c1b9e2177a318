// Typed pack library: hooks and memory, nodes, format parsing and packing; the
// image side (writing, validation, loading, unpacking) is in tpl_image.cpp.
//
// Every public function catches whatever the fatal hook path throws (and
// anything a user hook throws) and turns it into its error result. Readers of
// an image never trust a length: each one is checked against the bytes that
// remain before it is used.
#include "tpl_detail.h"

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

using namespace tpl_detail;

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

namespace tpl_detail {


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

} // namespace tpl_detail

// ---------------------------------------------------------------------------
// Format parsing

namespace {

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

// The node that an index of tpl_pack, tpl_unpack and the image calls names:
// 0 the map itself, k the k-th '#' array.
TplNode* tpl_detail::nodeForIndex(TplNode* map, int index) {
    if (!map || map->type != kTplRoot || map->parent) return nullptr;
    if (index == 0) return map;
    TplRootData* rd = rootData(map);
    if (index < 0 || index > rd->arrayCount) return nullptr;
    return rd->arrays[index - 1];
}

namespace {

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

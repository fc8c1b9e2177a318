// Typed pack library: image sizes and writing to memory, files and
// descriptors, validation, loading, unpacking and release.
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

using namespace tpl_detail;

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

// Typed pack library: reading whole images from descriptors and memory
// streams, and the file mapping layer behind the file modes.
#include "tpl_internal.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <stdarg.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr bool kBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
constexpr size_t kPrefixSize = 8;
constexpr size_t kSmallestImage = 9;
constexpr size_t kReadChunk = 65536;

int maxForMessage() {
    return TplHooks.gather_max > INT_MAX ? INT_MAX : static_cast<int>(TplHooks.gather_max);
}

// Image length from the 8-byte prefix, in the byte order the prefix names.
uint32_t prefixLength(const char* prefix) {
    uint32_t length;
    memcpy(&length, prefix + 4, 4);
    bool other = ((static_cast<unsigned char>(prefix[3]) & 1) != 0) != kBigEndian;
    return other ? __builtin_bswap32(length) : length;
}

void waitReadable(int fd) {
    struct pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

// Reads up to n bytes, waiting when the descriptor would block; the number
// read (less than n only at the end of input) or -1 on an error.
ssize_t readFully(int fd, char* buffer, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, buffer + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
        } else if (r == 0) {
            break;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitReadable(fd);
        } else {
            return -1;
        }
    }
    return static_cast<ssize_t>(got);
}

// Bytes of an incomplete image kept between calls of the gather modes 2 and 3.
struct GatherState {
    char* bytes;
    size_t length;
    size_t capacity;
};

void freeState(void** partial) {
    GatherState* state = static_cast<GatherState*>(*partial);
    if (state) {
        tplFree(state->bytes);
        tplFree(state);
    }
    *partial = nullptr;
}

GatherState* stateOf(void** partial) {
    if (!*partial) {
        GatherState* state = static_cast<GatherState*>(tplAlloc(sizeof(GatherState)));
        memset(state, 0, sizeof *state);
        *partial = state;
    }
    return static_cast<GatherState*>(*partial);
}

void reserve(GatherState* state, size_t extra) {
    if (extra > SIZE_MAX / 2 - state->length) tplFatal("out of memory\n");
    size_t need = state->length + extra;
    if (need <= state->capacity) return;
    size_t grown = state->capacity ? state->capacity : kReadChunk;
    while (grown < need) grown *= 2;
    state->bytes = static_cast<char*>(tplGrow(state->bytes, state->length, grown));
    state->capacity = grown;
}

// Hands every complete image in the state to the callback and keeps the rest.
int deliverImages(GatherState* state, TplGatherCallback callback, void* data, const char* abortMessage) {
    size_t at = 0;
    int result = 0;
    while (state->length - at >= kPrefixSize) {
        char* image = state->bytes + at;
        uint32_t length = memcmp(image, "tpl", 3) == 0 ? prefixLength(image) : 0;
        if (length < kSmallestImage) {
            tplOops("tpl prefix invalid\n");
            result = -1;
            break;
        }
        if (TplHooks.gather_max && length > TplHooks.gather_max) {
            tplOops("tpl exceeds max length %d\n", maxForMessage());
            result = -2;
            break;
        }
        if (state->length - at < length) break;
        if (callback(image, length, data) < 0) {
            tplOops("%s", abortMessage);
            result = -3;
            break;
        }
        at += length;
    }
    memmove(state->bytes, state->bytes + at, state->length - at);
    state->length -= at;
    return result;
}

int gatherNonBlocking(int fd, void** partial, TplGatherCallback callback, void* data) {
    if (!partial || !callback) {
        tplOops("tpl_gather failed: %s\n", strerror(EINVAL));
        return -1;
    }
    try {
        GatherState* state = stateOf(partial);
        for (;;) {
            reserve(state, kReadChunk);
            ssize_t r = read(fd, state->bytes + state->length, state->capacity - state->length);
            if (r > 0) {
                state->length += static_cast<size_t>(r);
                int delivered = deliverImages(state, callback, data, "tpl_fd_gather aborted by app callback\n");
                if (delivered < 0) {
                    freeState(partial);
                    return delivered;
                }
            } else if (r == 0) {
                bool pending = state->length > 0;
                freeState(partial);
                if (!pending) return 0;
                tplOops("tpl_gather: partial tpl image precedes EOF\n");
                return -1;
            } else if (errno == EINTR) {
                continue;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (state->length == 0) freeState(partial);
                return 1;
            } else {
                tplOops("tpl_gather failed: %s\n", strerror(errno));
                freeState(partial);
                return -1;
            }
        }
    } catch (...) {
        freeState(partial);
        return -1;
    }
}

int gatherMemory(const void* bytes, size_t size, void** partial, TplGatherCallback callback, void* data) {
    if (!partial || !callback || (!bytes && size)) {
        tplOops("tpl_mem_gather: invalid arguments\n");
        return -1;
    }
    try {
        if (size == 0) { // end of input
            GatherState* state = static_cast<GatherState*>(*partial);
            bool pending = state && state->length > 0;
            freeState(partial);
            if (!pending) return 0;
            tplOops("tpl_gather: partial tpl image precedes EOF\n");
            return -1;
        }
        GatherState* state = stateOf(partial);
        reserve(state, size);
        memcpy(state->bytes + state->length, bytes, size);
        state->length += size;
        int delivered = deliverImages(state, callback, data, "tpl_mem_gather aborted by app callback\n");
        if (delivered < 0 || state->length == 0) freeState(partial);
        return delivered;
    } catch (...) {
        freeState(partial);
        return -1;
    }
}

} // namespace

int tplGatherBlocking(int fd, void** image, size_t* size) {
    char prefix[kPrefixSize];
    ssize_t got = readFully(fd, prefix, kPrefixSize);
    if (got < 0) {
        tplOops("tpl_gather_fd_blocking failed: %s\n", strerror(errno));
        return -1;
    }
    if (static_cast<size_t>(got) < kPrefixSize) return 0;
    if (memcmp(prefix, "tpl", 3) != 0) {
        tplOops("tpl_gather_fd_blocking: non-tpl input\n");
        return -1;
    }
    uint32_t length = prefixLength(prefix);
    if (length < kSmallestImage) { // no image is that short: refuse before reading on
        tplOops("tpl_gather_fd_blocking: non-tpl input\n");
        return -1;
    }
    if (TplHooks.gather_max && length > TplHooks.gather_max) {
        tplOops("tpl exceeds max length %d\n", maxForMessage());
        return -2;
    }
    char* buffer = static_cast<char*>(tplAlloc(length));
    memcpy(buffer, prefix, kPrefixSize);
    got = readFully(fd, buffer + kPrefixSize, length - kPrefixSize);
    if (got < 0 || static_cast<size_t>(got) < length - kPrefixSize) {
        if (got < 0) tplOops("tpl_gather_fd_blocking failed: %s\n", strerror(errno));
        tplFree(buffer);
        return got < 0 ? -1 : 0;
    }
    *image = buffer;
    *size = length;
    return 1;
}

int tpl_gather(int mode, ...) {
    va_list args;
    va_start(args, mode);
    int result = -1;
    try {
        if (mode == TPL_GATHER_BLOCKING) {
            int fd = va_arg(args, int);
            void** image = va_arg(args, void**);
            size_t* size = va_arg(args, size_t*);
            result = tplGatherBlocking(fd, image, size);
        } else if (mode == TPL_GATHER_NONBLOCKING) {
            int fd = va_arg(args, int);
            void** partial = va_arg(args, void**);
            TplGatherCallback callback = va_arg(args, TplGatherCallback);
            void* data = va_arg(args, void*);
            result = gatherNonBlocking(fd, partial, callback, data);
        } else if (mode == TPL_GATHER_MEMORY) {
            const void* bytes = va_arg(args, const void*);
            size_t size = va_arg(args, size_t);
            void** partial = va_arg(args, void**);
            TplGatherCallback callback = va_arg(args, TplGatherCallback);
            void* data = va_arg(args, void*);
            result = gatherMemory(bytes, size, partial, callback, data);
        } else {
            tplFatal("unsupported tpl_gather mode %d\n", mode);
        }
    } catch (...) {
        result = -1;
    }
    va_end(args);
    return result;
}

// ---------------------------------------------------------------------------
// File mapping layer

void* tpl_map_file(size_t length, int protection, int sharing, int fd) {
    void* view = mmap(nullptr, length, protection, sharing, fd, 0);
    if (view != MAP_FAILED) return view;
    int error = errno;
    errno = (error == EACCES || error == EPERM) ? EACCES : error == EBADF ? EBADF : error == ENOMEM ? ENOMEM : EINVAL;
    return nullptr;
}

int tpl_sync_file(void* view, size_t length) {
    if (msync(view, length, MS_SYNC) == 0) return 0;
    errno = errno == EIO ? EIO : EINVAL;
    return -1;
}

int tpl_unmap_file(void* view, size_t length) {
    if (munmap(view, length) == 0) return 0;
    errno = EINVAL;
    return -1;
}

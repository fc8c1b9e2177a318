// The open-file cache behind ModelicaInternal_readLine and its kin.
//
// All threads share one table guarded by one static mutex. The lock is held
// only for table operations; a stream taken from the table belongs to its
// caller alone until it is handed back or closed, and streams that leave the
// table are closed after the lock is released.
#include "file_cache.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "external_utilities.h"

void* (*fileCacheAllocate)(size_t size) = malloc;

// Running out of memory inside the table never ends the process: the entry
// is then simply not stored (see cacheFileForReading).
#define HASH_NONFATAL_OOM 1
#define uthash_malloc(size) fileCacheAllocate(size)
#define uthash_free(pointer, size) free(pointer)
// `outOfMemory` is a local of the one function that adds entries.
#define uthash_nonfatal_oom(object) (outOfMemory = true)
#include <uthash.h>

namespace {

struct FileCache {
    char* fileName; // owned copy, the key
    FILE* fp;       // null while a caller holds the stream or after it was closed
    int lineNumber; // lines already read from fp
    UT_hash_handle hh;
};

pthread_mutex_t fileCacheLock = PTHREAD_MUTEX_INITIALIZER;
FileCache* fileCache = nullptr;

struct Locked {
    Locked() { pthread_mutex_lock(&fileCacheLock); }
    ~Locked() { pthread_mutex_unlock(&fileCacheLock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

FileCache* find(const char* fileName) {
    FileCache* entry = nullptr;
    HASH_FIND(hh, fileCache, fileName, strlen(fileName), entry);
    return entry;
}

void closeStream(FILE* fp) {
    if (fp) fclose(fp);
}

void freeEntry(FileCache* entry) {
    free(entry->fileName);
    free(entry);
}

// Skips n lines: characters up to and including a line feed, n times,
// stopping early at the end of the file.
void skipLines(FILE* fp, int n) {
    for (int i = 0; i < n; ++i) {
        int c;
        while ((c = getc(fp)) != EOF && c != '\n') {
        }
        if (c == EOF) return;
    }
}

void deleteFileCacheLock() {
    releaseFileCache();
    pthread_mutex_destroy(&fileCacheLock);
}

// The two load-time steps.
const int fileCacheLockReady = (initFileCacheLock(), registerFileCacheLockCleanup(), 1);

} // namespace

extern "C" {

void initFileCacheLock(void) {
    // The mutex is initialised statically; the table starts empty.
    (void)fileCacheLockReady;
}

void registerFileCacheLockCleanup(void) {
    // Exit-time handlers of a shared library run when it is unloaded.
    atexit(deleteFileCacheLock);
}

FILE* openFileForReading(const char* fileName, int n) {
    if (!fileName) fileName = "";
    FILE* fp = nullptr;
    int cachedLines = 0;
    {
        Locked lock;
        FileCache* entry = find(fileName);
        if (entry && entry->fp) {
            fp = entry->fp;
            cachedLines = entry->lineNumber;
            entry->fp = nullptr;
        }
    }
    if (fp) {
        if (n != 0 && n >= cachedLines) {
            n -= cachedLines;
        } else if (fseek(fp, 0, SEEK_SET) != 0) {
            fclose(fp);
            fp = nullptr;
        }
    }
    if (!fp) {
        fp = fopen(fileName, "r");
        // A directory opens for reading here, but has no lines to read.
        struct stat status;
        if (fp && fstat(fileno(fp), &status) == 0 && S_ISDIR(status.st_mode)) {
            fclose(fp);
            fp = nullptr;
            errno = EISDIR;
        }
        if (!fp) {
            ModelicaFormatError("Not possible to open file \"%s\" for reading:\n%s\n", fileName, strerror(errno));
            return nullptr;
        }
    }
    skipLines(fp, n);
    return fp;
}

void cacheFileForReading(FILE* stream, const char* fileName, int lineNumber) {
    if (!fileName) {
        closeStream(stream);
        return;
    }
    FILE* replaced = nullptr;
    FileCache* rejected = nullptr;
    {
        Locked lock;
        FileCache* entry = find(fileName);
        if (entry) {
            if (entry->fp != stream) replaced = entry->fp;
            entry->fp = stream;
            entry->lineNumber = lineNumber;
        } else {
            entry = static_cast<FileCache*>(fileCacheAllocate(sizeof(FileCache)));
            char* name = nullptr;
            const size_t length = strlen(fileName);
            if (entry) name = static_cast<char*>(fileCacheAllocate(length + 1));
            if (!entry || !name) {
                free(entry);
                replaced = stream; // not stored: closed instead of lost
            } else {
                memset(static_cast<void*>(entry), 0, sizeof *entry);
                memcpy(name, fileName, length + 1);
                entry->fileName = name;
                entry->fp = stream;
                entry->lineNumber = lineNumber;
                bool outOfMemory = false;
                HASH_ADD_KEYPTR(hh, fileCache, entry->fileName, length, entry);
                if (outOfMemory) rejected = entry;
            }
        }
    }
    // Two readers of one file: the stream handed back last stays, the other is closed.
    closeStream(replaced);
    if (rejected) {
        closeStream(rejected->fp);
        freeEntry(rejected);
    }
}

void closeCachedFile(const char* fileName) {
    if (!fileName) return;
    FileCache* entry = nullptr;
    {
        Locked lock;
        entry = find(fileName);
        if (entry) HASH_DEL(fileCache, entry);
    }
    if (!entry) return;
    closeStream(entry->fp);
    freeEntry(entry);
}

FILE* openFileForAppending(const char* fileName) {
    if (!fileName || !*fileName) {
        ModelicaError("fileName is an empty string.\nOpening of file is aborted\n");
        return nullptr;
    }
    closeCachedFile(fileName);
    FILE* fp = fopen(fileName, "a");
    if (!fp) ModelicaFormatError("Not possible to open file \"%s\" for writing:\n%s\n", fileName, strerror(errno));
    return fp;
}

void releaseFileCache(void) {
    FileCache* all = nullptr;
    {
        Locked lock;
        all = fileCache;
        fileCache = nullptr;
    }
    // The table is detached: walk it without the lock, then free it.
    FileCache* entry;
    FileCache* next;
    HASH_ITER(hh, all, entry, next) {
        HASH_DEL(all, entry);
        closeStream(entry->fp);
        freeEntry(entry);
    }
}

} // extern "C"

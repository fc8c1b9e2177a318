// The open-file cache: read streams of files that a model reads line by line
// stay open between calls, with the number of lines already read, in one
// process-wide table keyed by the file name exactly as given.
#pragma once

#include <stddef.h>
#include <stdio.h>

extern "C" {

// A read stream standing at the start of line n+1 (the cached stream when
// there is one); a file that cannot be opened is a runtime error.
FILE* openFileForReading(const char* fileName, int n);
// Hands a stream (back) to the table with the number of lines read from it.
// A stream that cannot be stored is closed.
void cacheFileForReading(FILE* stream, const char* fileName, int lineNumber);
// Closes the cached stream, if any, and removes the file's entry.
void closeCachedFile(const char* fileName);
// An append stream, after the file's cached reader was closed and removed.
FILE* openFileForAppending(const char* fileName);

// Load-time set-up of the cache lock and registration of its exit-time cleanup.
void initFileCacheLock(void);
void registerFileCacheLockCleanup(void);

// Closes every cached stream and empties the table (also done at unload).
void releaseFileCache(void);

} // extern "C"

// Allocation used for the table and its entries; swapped by tests to make it fail.
extern void* (*fileCacheAllocate)(size_t size);

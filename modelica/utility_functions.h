// The Modelica utility functions for files, directories, streams, the
// environment, strings, time and the process. Strings are returned as simple
// strings; every failure is a runtime error that unwinds the evaluation.
#pragma once

#include <dirent.h>
#include <stdint.h>

#include "matrixop.h"

extern "C" {

// ---- Results ----
enum FileTypeCode { kNoFile = 1, kRegularFile = 2, kDirectory = 3, kSpecialFile = 4 };
enum StringCompareResult { kStringLess = 1, kStringEqual = 2, kStringGreater = 3 };

struct ReadLineResult {
    const char* line;
    int32_t endOfFile;
};
struct GetenvResult {
    const char* content;
    int32_t exists;
};
struct ScanIntegerResult {
    int32_t nextIndex;
    int32_t number;
};
struct ScanRealResult {
    int32_t nextIndex;
    double number;
};
struct ScanStringResult {
    int32_t nextIndex;
    const char* string;
};
struct ScanIdentifierResult {
    int32_t nextIndex;
    const char* identifier;
};

// ---- Files and directories ----
void ModelicaInternal_makeDirectory(const char* directory);
void ModelicaInternal_removeDirectory(const char* directory);
void ModelicaInternal_renameFile(const char* oldName, const char* newName);
void ModelicaInternal_removeFile(const char* file);
void ModelicaInternal_changeDirectory(const char* directory);
int ModelicaInternal_fileType(const char* name);
void ModelicaInternal_copyFile(const char* oldName, const char* newName);
void ModelicaInternal_listDirectory(const char* directory, int nNames, const char** names);
StringArray ModelicaInternal_listDirectoryResult(const char* directory, int nNames);
int ModelicaInternal_countFiles(const char* directory);
const char* ModelicaInternal_fullPath(const char* name);
const char* ModelicaInternal_tempFileName(void);
const char* ModelicaInternal_currentDirectory(void);

// ---- Streams ----
void ModelicaInternal_writeString(const char* string, const char* fileName);
int ModelicaInternal_countLines(const char* fileName);
void ModelicaInternal_readAllLines(const char* fileName, const char** lines, int nLines);
const char* ModelicaInternal_readLine(const char* fileName, int lineNumber, int* endOfFile);
ReadLineResult ModelicaInternal_readLineResult(const char* fileName, int lineNumber);
void ModelicaStreams_closeFile(const char* fileName);
StringArray ModelicaInternal_readFileResult(const char* fileName);

// ---- Environment, time, process ----
void ModelicaInternal_getenv(const char* name, int convertToSlash, const char** content, int* exists);
GetenvResult ModelicaInternal_getenvResult(const char* name, int convertToSlash);
void ModelicaInternal_setenv(const char* name, const char* value, int convertFromSlash);
void ModelicaInternal_localTime(int* ms, int* sec, int* min, int* hour, int* mday, int* mon, int* year);
int ModelicaInternal_processId(void);

// ---- Strings (1-based indices) ----
const char* ModelicaStrings_substring(const char* string, int startIndex, int endIndex);
int ModelicaStrings_length(const char* string);
int ModelicaStrings_compare(const char* string1, const char* string2, int caseSensitive);
int ModelicaStrings_skipWhiteSpace(const char* string, int startIndex);
void ModelicaStrings_scanIdentifier(const char* string, int startIndex, int* nextIndex, const char** identifier);
void ModelicaStrings_scanInteger(const char* string, int startIndex, int unsignedNumber, int* nextIndex,
                                 int* number);
void ModelicaStrings_scanReal(const char* string, int startIndex, int unsignedNumber, int* nextIndex,
                              double* number);
void ModelicaStrings_scanString(const char* string, int startIndex, int* nextIndex, const char** result);
ScanIntegerResult ModelicaStrings_scanIntegerResult(const char* string, int startIndex, int unsignedNumber);
ScanRealResult ModelicaStrings_scanRealResult(const char* string, int startIndex, int unsignedNumber);
ScanStringResult ModelicaStrings_scanStringResult(const char* string, int startIndex);
ScanIdentifierResult ModelicaStrings_scanIdentifierResult(const char* string, int startIndex);
int ModelicaStrings_hashString(const char* string);
// Number of consecutive decimal digits from the 1-based index on.
int digitRunLength(const char* string, int index);

// ---- Paths ----
// '/' is the only separator here and a backslash is an ordinary file-name
// character, so both conversions leave the text as it is.
void backslashToSlash(char* text);
void slashToBackslash(char* text);
int classifyPath(const char* name);

// ---- Directory enumeration ----
struct DirectoryEntry {
    const char* name; // points into the stream's own copy of the name
    size_t nameLength;
};
struct DirectoryStream {
    DIR* handle;
    int position; // -1 at the end, else the number of entries read since the start
    DirectoryEntry entry;
    char name[sizeof(((struct dirent*)nullptr)->d_name)];
};
// Null with errno set when the directory cannot be read.
DirectoryStream* openDirectory(const char* directory);
// The next entry, or null at the end (errno 0) or on failure (errno set).
DirectoryEntry* readDirectoryEntry(DirectoryStream* stream);
// 0, or -1 with errno set; frees the stream.
int closeDirectory(DirectoryStream* stream);
void rewindDirectory(DirectoryStream* stream);
int tellDirectory(DirectoryStream* stream);
void seekDirectory(DirectoryStream* stream, int position);

} // extern "C"

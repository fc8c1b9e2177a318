// Files, directories, the environment, local time and the process id for the
// Modelica utility functions, on the POSIX file and directory services.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "external_utilities.h"
#include "thread_context.h"
#include "utility_functions.h"

namespace {

// The environment is process-wide and the C library does not serialise
// reading it against changing it: a read while another thread sets a new
// variable can follow a freed pointer. Every read and write of the
// environment in this library happens under this lock, and a value is
// copied before the lock is left. A host that changes the environment itself
// at the same time is beyond its reach.
std::mutex environmentLock;

// A heap copy of the variable's value, or null when it is not set (or no
// copy could be made).
char* copyEnvironmentValue(const char* name) {
    std::lock_guard<std::mutex> guard(environmentLock);
    const char* value = getenv(name);
    return value ? strdup(value) : nullptr;
}

// Longest path handed back to the model, terminator included.
enum { kPathBuffer = 1024 };

const char* orEmpty(const char* text) { return text ? text : ""; }

// A new simple string holding the text; a buffer without room is a runtime error.
const char* keepString(const std::string& text) {
    char* r = ModelicaAllocateString(text.size());
    if (!r) return "";
    memcpy(r, text.c_str(), text.size() + 1);
    backslashToSlash(r);
    return r;
}

// Renames without ever replacing an existing target. File systems without
// the no-replace rename get a hard link and an unlink instead, which refuses
// an existing target just the same.
int renameNoReplace(const char* oldName, const char* newName) {
    if (renameat2(AT_FDCWD, oldName, AT_FDCWD, newName, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
    if (link(oldName, newName) != 0) return -1;
    if (unlink(oldName) != 0) {
        const int error = errno;
        unlink(newName);
        errno = error;
        return -1;
    }
    return 0;
}

bool isDotEntry(const DirectoryEntry* entry) {
    return strcmp(entry->name, ".") == 0 || strcmp(entry->name, "..") == 0;
}

// Copies the whole source to the target; false with errno set when a read,
// a write or the close of the target fails.
bool copyStream(FILE* source, FILE* target) {
    char block[8192];
    size_t n;
    while ((n = fread(block, 1, sizeof block, source)) > 0)
        if (fwrite(block, 1, n, target) != n) return false;
    if (ferror(source)) {
        if (errno == 0) errno = EIO;
        return false;
    }
    return true;
}

} // namespace

extern "C" {

// ---- Paths ----

void backslashToSlash(char* text) { (void)text; }
void slashToBackslash(char* text) { (void)text; }

int classifyPath(const char* name) {
    if (!name) return kNoFile;
    struct stat status;
    int result = stat(name, &status);
    const size_t length = strlen(name);
    if (result != 0 && length > 1 && name[length - 1] == '/') {
        // Retry once without the trailing '/' ("file/" names the file "file").
        std::string shorter(name, length - 1);
        result = stat(shorter.c_str(), &status);
    }
    if (result != 0) return kNoFile;
    if (S_ISREG(status.st_mode)) return kRegularFile;
    if (S_ISDIR(status.st_mode)) return kDirectory;
    return kSpecialFile;
}

// ---- Directory enumeration ----

DirectoryStream* openDirectory(const char* directory) {
    errno = 0;
    if (!directory) {
        errno = EFAULT;
        return nullptr;
    }
    struct stat status;
    if (!*directory) {
        errno = ENOTDIR;
        return nullptr;
    }
    if (stat(directory, &status) != 0) {
        errno = ENOENT;
        return nullptr;
    }
    if (!S_ISDIR(status.st_mode)) {
        errno = ENOTDIR;
        return nullptr;
    }
    DirectoryStream* stream = static_cast<DirectoryStream*>(calloc(1, sizeof(DirectoryStream)));
    if (!stream) {
        errno = ENOMEM;
        return nullptr;
    }
    stream->handle = opendir(directory);
    if (!stream->handle) {
        const int error = errno;
        free(stream);
        errno = error;
        return nullptr;
    }
    stream->entry.name = stream->name;
    stream->position = 0;
    return stream;
}

DirectoryEntry* readDirectoryEntry(DirectoryStream* stream) {
    errno = 0;
    if (!stream) {
        errno = EFAULT;
        return nullptr;
    }
    if (stream->entry.name != stream->name) {
        errno = EINVAL;
        return nullptr;
    }
    if (stream->position < 0 || !stream->handle) return nullptr;
    struct dirent* found = readdir(stream->handle);
    if (!found) {
        // The end (errno stays 0) or a failure (errno set by readdir).
        if (errno == 0) stream->position = -1;
        return nullptr;
    }
    const size_t length = strnlen(found->d_name, sizeof stream->name - 1);
    memcpy(stream->name, found->d_name, length);
    stream->name[length] = '\0';
    stream->entry.nameLength = length;
    stream->position++;
    return &stream->entry;
}

int closeDirectory(DirectoryStream* stream) {
    if (!stream) {
        errno = EFAULT;
        return -1;
    }
    int result = 0;
    if (stream->handle) result = closedir(stream->handle);
    const int error = errno;
    free(stream);
    errno = error;
    return result;
}

void rewindDirectory(DirectoryStream* stream) {
    if (!stream) {
        errno = EFAULT;
        return;
    }
    if (stream->handle) rewinddir(stream->handle);
    stream->position = 0;
}

int tellDirectory(DirectoryStream* stream) {
    if (!stream) {
        errno = EFAULT;
        return -1;
    }
    return stream->position;
}

void seekDirectory(DirectoryStream* stream, int position) {
    if (!stream) {
        errno = EFAULT;
        return;
    }
    if (position == -1) {
        stream->position = -1;
        return;
    }
    if (position < -1) {
        errno = EINVAL;
        return;
    }
    rewindDirectory(stream);
    while (stream->position >= 0 && stream->position < position && readDirectoryEntry(stream)) {
    }
}

// ---- Files and directories ----

void ModelicaInternal_makeDirectory(const char* directory) {
    directory = orEmpty(directory);
    if (mkdir(directory, 0777) != 0)
        ModelicaFormatError("Not possible to create new directory\n\"%s\":\n%s", directory, strerror(errno));
}

void ModelicaInternal_removeDirectory(const char* directory) {
    directory = orEmpty(directory);
    if (rmdir(directory) != 0)
        ModelicaFormatError("Not possible to remove directory\n\"%s\":\n%s", directory, strerror(errno));
}

void ModelicaInternal_renameFile(const char* oldName, const char* newName) {
    oldName = orEmpty(oldName);
    newName = orEmpty(newName);
    if (renameNoReplace(oldName, newName) != 0)
        ModelicaFormatError("renaming \"%s\" to \"%s\" failed:\n%s", oldName, newName, strerror(errno));
}

void ModelicaInternal_removeFile(const char* file) {
    file = orEmpty(file);
    // Files only: a directory is refused.
    if (unlink(file) != 0) ModelicaFormatError("Not possible to remove file \"%s\":\n%s", file, strerror(errno));
}

void ModelicaInternal_changeDirectory(const char* directory) {
    directory = orEmpty(directory);
    if (chdir(directory) != 0)
        ModelicaFormatError("Not possible to change current working directory to\n\"%s\":\n%s", directory,
                            strerror(errno));
}

int ModelicaInternal_fileType(const char* name) { return classifyPath(orEmpty(name)); }

void ModelicaInternal_copyFile(const char* oldName, const char* newName) {
    oldName = orEmpty(oldName);
    newName = orEmpty(newName);
    switch (classifyPath(oldName)) {
    case kNoFile:
        ModelicaFormatError("\"%s\" cannot be copied\nbecause it does not exist", oldName);
        return;
    case kDirectory:
        ModelicaFormatError("\"%s\" cannot be copied\nbecause it is a directory", oldName);
        return;
    case kSpecialFile:
        ModelicaFormatError("\"%s\" cannot be copied\nbecause it is not a regular file", oldName);
        return;
    default:
        break;
    }
    if (classifyPath(newName) != kNoFile) {
        ModelicaFormatError("\"%s\" cannot be copied\nbecause the target \"%s\" exists", oldName, newName);
        return;
    }
    FILE* source = fopen(oldName, "rb");
    if (!source) {
        ModelicaFormatError("\"%s\" cannot be copied:\n%s", oldName, strerror(errno));
        return;
    }
    // Created exclusively: a target that appeared meanwhile is never replaced.
    FILE* target = fopen(newName, "wbx");
    if (!target) {
        const int error = errno;
        fclose(source);
        ModelicaFormatError("\"%s\" cannot be copied to \"%s\":\n%s", oldName, newName, strerror(error));
        return;
    }
    errno = 0;
    bool ok = copyStream(source, target);
    int error = errno;
    fclose(source);
    if (fclose(target) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        // No half-written copy stays behind under the target's name.
        unlink(newName);
        ModelicaFormatError("\"%s\" cannot be copied to \"%s\":\n%s", oldName, newName, strerror(error));
    }
}

void ModelicaInternal_listDirectory(const char* directory, int nNames, const char** names) {
    directory = orEmpty(directory);
    DirectoryStream* stream = openDirectory(directory);
    if (!stream) {
        ModelicaFormatError("1: Not possible to get file names of \"%s\":\n%s", directory, strerror(errno));
        return;
    }
    int stored = 0;
    errno = 0;
    while (DirectoryEntry* entry = readDirectoryEntry(stream)) {
        if (isDotEntry(entry)) continue;
        if (stored >= nNames) {
            closeDirectory(stream);
            ModelicaFormatError(
                "Not possible to get file names of \"%s\":\nMore files in this directory as reported by nFiles (= %i)",
                directory, nNames);
            return;
        }
        char* copy = ModelicaAllocateStringWithErrorReturn(entry->nameLength);
        if (!copy) {
            const int error = errno;
            closeDirectory(stream);
            if (error)
                ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory, strerror(error));
            else
                ModelicaFormatError("Not possible to get file names of \"%s\":\nNot enough storage", directory);
            return;
        }
        memcpy(copy, entry->name, entry->nameLength + 1);
        names[stored++] = copy;
    }
    if (errno) {
        const int error = errno;
        closeDirectory(stream);
        ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory, strerror(error));
        return;
    }
    const int closed = closeDirectory(stream);
    const int closeError = errno;
    if (stored < nNames) {
        ModelicaFormatError(
            "Not possible to get file names of \"%s\":\nLess files (= %d) found as defined by argument nNames (= %d)",
            directory, stored, nNames);
        return;
    }
    if (closed != 0)
        ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory, strerror(closeError));
}

StringArray ModelicaInternal_listDirectoryResult(const char* directory, int nNames) {
    StringArray names = StringVectorAlloc(nNames);
    SavedMarks marks = PushMark();
    for (int i = 0; i < nNames; ++i) names.data[i] = "";
    ModelicaInternal_listDirectory(directory, nNames, names.data);
    PopMark(marks);
    return names;
}

int ModelicaInternal_countFiles(const char* directory) {
    directory = orEmpty(directory);
    DirectoryStream* stream = openDirectory(directory);
    if (!stream) {
        ModelicaFormatError("Not possible to get number of files in \"%s\":\n%s", directory, strerror(errno));
        return 0;
    }
    int count = 0;
    errno = 0;
    while (DirectoryEntry* entry = readDirectoryEntry(stream))
        if (!isDotEntry(entry)) ++count;
    const int error = errno;
    closeDirectory(stream);
    if (error) {
        ModelicaFormatError("Not possible to get number of files in \"%s\":\n%s", directory, strerror(error));
        return 0;
    }
    return count;
}

const char* ModelicaInternal_fullPath(const char* name) {
    name = orEmpty(name);
    // Built as text: "." and ".." are collapsed, symbolic links are not resolved.
    std::string joined;
    if (name[0] != '/') {
        char cwd[kPathBuffer];
        if (!getcwd(cwd, sizeof cwd)) {
            ModelicaFormatError("Not possible to construct full path name of \"%s\"\n%s", name, strerror(errno));
            return "";
        }
        joined = cwd;
        joined += '/';
    }
    joined += name;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos) end = joined.size();
        std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string path;
    for (const std::string& part : parts) path += "/" + part;
    if (path.empty()) path = "/";
    const size_t length = strlen(name);
    if (length > 0 && name[length - 1] == '/' && path != "/") path += '/';
    if (path.size() >= kPathBuffer) {
        ModelicaFormatError("Not possible to construct full path name of \"%s\"\n%s", name, strerror(ENAMETOOLONG));
        return "";
    }
    return keepString(path);
}

const char* ModelicaInternal_tempFileName(void) {
    char* directory = copyEnvironmentValue("TMPDIR");
    std::string pattern = directory && *directory ? directory : "/tmp";
    free(directory);
    while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
    if (pattern != "/") pattern += '/';
    pattern += "modelica_XXXXXX";
    if (pattern.size() >= kPathBuffer) {
        ModelicaFormatError("Not possible to get temporary filename\n%s", strerror(ENAMETOOLONG));
        return "";
    }
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        ModelicaFormatError("Not possible to get temporary filename\n%s", strerror(errno));
        return "";
    }
    // The name is handed back unused: a following copy or rename to it works.
    close(fd);
    unlink(name.data());
    return keepString(name.data());
}

const char* ModelicaInternal_currentDirectory(void) {
    char cwd[kPathBuffer];
    if (!getcwd(cwd, sizeof cwd)) {
        ModelicaFormatError("Not possible to get current working directory:\n%s", strerror(errno));
        return "";
    }
    return keepString(cwd);
}

// ---- Environment, time, process ----

void ModelicaInternal_getenv(const char* name, int convertToSlash, const char** content, int* exists) {
    char* copy = name ? copyEnvironmentValue(name) : nullptr;
    if (!copy) {
        char* empty = ModelicaAllocateString(0);
        if (content) *content = empty ? empty : "";
        if (exists) *exists = 0;
        return;
    }
    const size_t length = strlen(copy);
    char* result = ModelicaAllocateStringWithErrorReturn(length);
    if (!result) {
        free(copy);
        ModelicaFormatError("Not enough memory to allocate string for copying environment variable \"%s\".\n", name);
        return;
    }
    memcpy(result, copy, length + 1);
    free(copy);
    if (convertToSlash == 1) backslashToSlash(result);
    if (content) *content = result;
    if (exists) *exists = 1;
}

GetenvResult ModelicaInternal_getenvResult(const char* name, int convertToSlash) {
    FunctionFrame frame;
    pushFunctionFrame(&frame, "ModelicaInternal_getenv");
    GetenvResult r{"", 0};
    int exists = 0;
    ModelicaInternal_getenv(name, convertToSlash, &r.content, &exists);
    r.exists = exists;
    popFunctionFrame(&frame);
    return r;
}

void ModelicaInternal_setenv(const char* name, const char* value, int convertFromSlash) {
    // '/' stays '/' here, so convertFromSlash changes nothing.
    (void)convertFromSlash;
    name = orEmpty(name);
    value = orEmpty(value);
    int result = 0;
    int error = 0;
    {
        std::lock_guard<std::mutex> guard(environmentLock);
        // An empty value removes the variable.
        result = *value ? setenv(name, value, 1) : unsetenv(name);
        error = errno;
    }
    if (result != 0) ModelicaFormatError("Not possible to set environment variable:\n%s", strerror(error));
}

void ModelicaInternal_localTime(int* ms, int* sec, int* min, int* hour, int* mday, int* mon, int* year) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    memset(&local, 0, sizeof local);
    {
        // The conversion reads the time zone from the environment.
        std::lock_guard<std::mutex> guard(environmentLock);
        localtime_r(&now.tv_sec, &local);
    }
    if (ms) *ms = static_cast<int>(now.tv_nsec / 1000000);
    if (sec) *sec = local.tm_sec;
    if (min) *min = local.tm_min;
    if (hour) *hour = local.tm_hour;
    if (mday) *mday = local.tm_mday;
    if (mon) *mon = local.tm_mon + 1;
    if (year) *year = local.tm_year + 1900;
}

int ModelicaInternal_processId(void) { return static_cast<int>(getpid()); }

} // extern "C"

// Reading and writing text files line by line for the Modelica utility
// functions; line readers go through the open-file cache.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "external_utilities.h"
#include "file_cache.h"
#include "utility_functions.h"

namespace {

// Lines up to this length are kept from the first read; longer ones are read again.
enum { kLineHead = 200 };

struct Line {
    long start = 0;         // stream position of the line's first character
    size_t length = 0;      // characters of the line, a final '\r' not counted
    bool any = false;       // something was read (a character or the line feed)
    char head[kLineHead + 1];
};

// Reads up to and including the next line feed, keeping the first characters.
void readLineHead(FILE* fp, Line& line) {
    line.start = ftell(fp);
    size_t count = 0;
    int last = 0;
    int c;
    while ((c = getc(fp)) != EOF) {
        line.any = true;
        if (c == '\n') break;
        if (count < kLineHead) line.head[count] = static_cast<char>(c);
        ++count;
        last = c;
    }
    line.length = count > 0 && last == '\r' ? count - 1 : count;
}

// Skips what is left of a line: a dropped '\r' and the line feed.
void finishLine(FILE* fp) {
    int c;
    while ((c = getc(fp)) != EOF && c != '\n') {
    }
}

enum class Copy { Done, SeekFailed, ShortRead };

// Fills the allocated text (room for length characters) from the head or,
// for a long line, by reading it again from its start.
Copy copyLine(FILE* fp, const Line& line, char* text) {
    if (line.length <= kLineHead) {
        memcpy(text, line.head, line.length);
    } else {
        if (fseek(fp, line.start, SEEK_SET) != 0) return Copy::SeekFailed;
        if (fread(text, 1, line.length, fp) != line.length) return Copy::ShortRead;
        finishLine(fp);
    }
    text[line.length] = '\0';
    return Copy::Done;
}

} // namespace

extern "C" {

void ModelicaInternal_writeString(const char* string, const char* fileName) {
    if (!string) string = "";
    if (!fileName || !*fileName) {
        ModelicaFormatMessage("%s\n", string);
        return;
    }
    FILE* fp = openFileForAppending(fileName);
    if (!fp) return;
    if (fputs(string, fp) == EOF || fputs("\n", fp) == EOF) {
        const int error = errno;
        fclose(fp);
        ModelicaFormatError("Error when writing string to file \"%s\":\n%s\n", fileName, strerror(error));
        return;
    }
    // Buffered text reaches the file at the close, so its failure is a write failure too.
    if (fclose(fp) != 0)
        ModelicaFormatError("Error when writing string to file \"%s\":\n%s\n", fileName, strerror(errno));
}

int ModelicaInternal_countLines(const char* fileName) {
    FILE* fp = openFileForReading(fileName, 0);
    if (!fp) return 0;
    int lines = 0;
    int previous = '\n';
    int c;
    while ((c = getc(fp)) != EOF) {
        if (previous == '\n') ++lines;
        previous = c;
    }
    fclose(fp);
    return lines;
}

void ModelicaInternal_readAllLines(const char* fileName, const char** lines, int nLines) {
    FILE* fp = openFileForReading(fileName, 0);
    if (!fp) return;
    const unsigned long total = nLines > 0 ? static_cast<unsigned long>(nLines) : 0;
    for (unsigned long i = 1; i <= total; ++i) {
        Line line;
        readLineHead(fp, line);
        char* text = ModelicaAllocateStringWithErrorReturn(line.length);
        if (!text) {
            fclose(fp);
            ModelicaFormatError(
                "Not enough memory to allocate string for reading line %lu from file\n\"%s\".\n(this file contains %lu "
                "lines)\n",
                i, fileName, total);
            return;
        }
        const Copy copied = copyLine(fp, line, text);
        if (copied != Copy::Done) {
            const int error = errno;
            fclose(fp);
            if (copied == Copy::SeekFailed)
                ModelicaFormatError("Error when reading line %lu from file\n\"%s\":\n%s\n", i, fileName,
                                    strerror(error));
            else
                ModelicaFormatError("Error when reading line %lu from file\n\"%s\"\n", i, fileName);
            return;
        }
        lines[i - 1] = text;
    }
    fclose(fp);
}

const char* ModelicaInternal_readLine(const char* fileName, int lineNumber, int* endOfFile) {
    if (endOfFile) *endOfFile = 1;
    if (!fileName) fileName = "";
    if (lineNumber < 1) {
        // Line 0 or below would leave a cached stream counted one line off.
        ModelicaFormatError("Error when reading line %i from file\n\"%s\":\n%s", lineNumber, fileName,
                            "The line number must be 1 or more.");
        return "";
    }
    FILE* fp = openFileForReading(fileName, lineNumber - 1);
    if (!fp) return "";
    Line line;
    readLineHead(fp, line);
    if (!line.any) {
        fclose(fp);
        closeCachedFile(fileName);
        char* empty = ModelicaAllocateString(0);
        return empty ? empty : "";
    }
    char* text = ModelicaAllocateStringWithErrorReturn(line.length);
    const Copy copied = text ? copyLine(fp, line, text) : Copy::Done;
    if (!text || copied != Copy::Done) {
        const char* reason = !text                         ? "Not enough memory to allocate string for reading line."
                             : copied == Copy::ShortRead && errno == 0 ? "Unexpected end of file."
                                                                      : strerror(errno);
        fclose(fp);
        closeCachedFile(fileName);
        ModelicaFormatError("Error when reading line %i from file\n\"%s\":\n%s", lineNumber, fileName, reason);
        return "";
    }
    cacheFileForReading(fp, fileName, lineNumber);
    if (endOfFile) *endOfFile = 0;
    return text;
}

ReadLineResult ModelicaInternal_readLineResult(const char* fileName, int lineNumber) {
    ReadLineResult r{"", 1};
    int endOfFile = 1;
    r.line = ModelicaInternal_readLine(fileName, lineNumber, &endOfFile);
    r.endOfFile = endOfFile;
    return r;
}

void ModelicaStreams_closeFile(const char* fileName) { closeCachedFile(fileName); }

StringArray ModelicaInternal_readFileResult(const char* fileName) {
    const int n = ModelicaInternal_countLines(fileName);
    StringArray lines = StringVectorAlloc(n);
    ModelicaInternal_readAllLines(fileName, lines.data, n);
    return lines;
}

} // extern "C"

// The Modelica utility functions for files, directories, streams, the
// environment, time and the process, and the open-file cache, on a scratch
// directory that each test creates and removes.
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "external_utilities.h"
#include "file_cache.h"
#include "test_arrays_support.h"
#include "utility_functions.h"

namespace {

namespace fs = std::filesystem;

class UtilityFiles : public ArrayTest {
protected:
    void SetUp() override {
        ArrayTest::SetUp();
        saved_ = fs::current_path();
        char pattern[] = "/tmp/utility_filesXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch_ = pattern;
        fs::current_path(scratch_);
    }
    void TearDown() override {
        releaseFileCache();
        fs::current_path(saved_);
        fs::remove_all(scratch_);
        ArrayTest::TearDown();
    }
    static void write(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }
    static std::string read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Open file descriptors of the process.
    static int openFiles() {
        int n = 0;
        for (auto& entry : fs::directory_iterator("/proc/self/fd")) (void)entry, ++n;
        return n;
    }
    std::string line(int number, int* endOfFile = nullptr, const char* name = "lines.txt") {
        int eof = -1;
        const char* text = ModelicaInternal_readLine(name, number, &eof);
        if (endOfFile) *endOfFile = eof;
        return text;
    }
    fs::path saved_;
    fs::path scratch_;
};

TEST_F(UtilityFiles, DirectoriesFilesAndTheirTypes) {
    ModelicaInternal_makeDirectory("d");
    write("f", "x");
    EXPECT_EQ(failure([] { ModelicaInternal_makeDirectory("d"); }),
              "Not possible to create new directory\n\"d\":\nFile exists");
    const std::pair<const char*, int> types[] = {{"d", 3}, {"d/", 3}, {"f", 2}, {"f/", 2},
                                                 {"none", 1}, {"", 1}, {"/dev/null", 4}};
    for (const auto& t : types) EXPECT_EQ(ModelicaInternal_fileType(t.first), t.second) << t.first;

    EXPECT_EQ(failure([] { ModelicaInternal_removeFile("d"); }), "Not possible to remove file \"d\":\nIs a directory");
    ModelicaInternal_removeDirectory("d");
    ModelicaInternal_removeFile("f");
    EXPECT_EQ(ModelicaInternal_fileType("d"), 1);
    EXPECT_EQ(ModelicaInternal_fileType("f"), 1);
    EXPECT_EQ(failure([] { ModelicaInternal_removeDirectory("d"); }),
              "Not possible to remove directory\n\"d\":\nNo such file or directory");
    EXPECT_EQ(failure([] { ModelicaInternal_changeDirectory("d"); }),
              "Not possible to change current working directory to\n\"d\":\nNo such file or directory");
}

TEST_F(UtilityFiles, ListingAndCounting) {
    fs::create_directory("sub");
    for (const char* name : {"a", "b", "sub/c"}) write(name, "");
    EXPECT_EQ(ModelicaInternal_countFiles("."), 3);
    StringArray names = ModelicaInternal_listDirectoryResult(".", 3);
    EXPECT_EQ(std::set<std::string>(names.data, names.data + 3), (std::set<std::string>{"a", "b", "sub"}));
    const char* few[2];
    EXPECT_EQ(failure([&] { ModelicaInternal_listDirectory(".", 2, few); }),
              "Not possible to get file names of \".\":\nMore files in this directory as reported by nFiles (= 2)");
    const char* many[4] = {"", "", "", ""};
    EXPECT_EQ(failure([&] { ModelicaInternal_listDirectory(".", 4, many); }),
              "Not possible to get file names of \".\":\nLess files (= 3) found as defined by argument nNames (= 4)");
    EXPECT_EQ(std::set<std::string>(many, many + 3), (std::set<std::string>{"a", "b", "sub"}));
    EXPECT_EQ(failure([] { ModelicaInternal_countFiles("a"); }),
              "Not possible to get number of files in \"a\":\nNot a directory");
    EXPECT_EQ(failure([&] { ModelicaInternal_listDirectory("none", 1, few); }),
              "1: Not possible to get file names of \"none\":\nNo such file or directory");
}

TEST_F(UtilityFiles, DirectoryStreamPositions) {
    for (const char* name : {"a", "b", "c"}) write(name, "");
    errno = 0;
    EXPECT_EQ(openDirectory(""), nullptr);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(openDirectory(nullptr), nullptr);
    EXPECT_EQ(errno, EFAULT);

    DirectoryStream* stream = openDirectory(".");
    ASSERT_NE(stream, nullptr);
    std::set<std::string> all;
    while (DirectoryEntry* e = readDirectoryEntry(stream)) all.insert(e->name);
    EXPECT_EQ(all, (std::set<std::string>{".", "..", "a", "b", "c"})) << "every entry is returned";
    EXPECT_EQ(tellDirectory(stream), -1);
    rewindDirectory(stream);
    EXPECT_EQ(tellDirectory(stream), 0);
    ASSERT_NE(readDirectoryEntry(stream), nullptr) << "rewinding reads from the start again";
    seekDirectory(stream, 4);
    EXPECT_EQ(tellDirectory(stream), 4);
    seekDirectory(stream, -2);
    EXPECT_EQ(errno, EINVAL);
    seekDirectory(stream, -1);
    EXPECT_EQ(readDirectoryEntry(stream), nullptr);
    EXPECT_EQ(closeDirectory(stream), 0);
}

TEST_F(UtilityFiles, CountsPastThe16BitRange) {
    fs::create_directory("many");
    for (int i = 0; i < 32769; ++i) std::ofstream("many/" + std::to_string(i));
    EXPECT_EQ(ModelicaInternal_countFiles("many"), 32769);
}

TEST_F(UtilityFiles, CopyAndRenameNeverReplaceATarget) {
    write("src", std::string(10000, 's'));
    write("dst", "keep");
    ModelicaInternal_copyFile("src", "copy");
    EXPECT_EQ(read("copy"), read("src"));
    EXPECT_EQ(failure([] { ModelicaInternal_copyFile("src", "dst"); }),
              "\"src\" cannot be copied\nbecause the target \"dst\" exists");
    EXPECT_EQ(failure([] { ModelicaInternal_copyFile("none", "x"); }), "\"none\" cannot be copied\nbecause it does not exist");
    EXPECT_EQ(failure([] { ModelicaInternal_copyFile(".", "x"); }), "\".\" cannot be copied\nbecause it is a directory");
    EXPECT_EQ(failure([] { ModelicaInternal_copyFile("/dev/null", "x"); }),
              "\"/dev/null\" cannot be copied\nbecause it is not a regular file");
    EXPECT_EQ(failure([] { ModelicaInternal_renameFile("src", "dst"); }), "renaming \"src\" to \"dst\" failed:\nFile exists");
    EXPECT_EQ(read("dst"), "keep");
    ModelicaInternal_renameFile("src", "moved");
    EXPECT_EQ(ModelicaInternal_fileType("src"), 1);
    EXPECT_EQ(read("moved"), std::string(10000, 's'));
}

TEST_F(UtilityFiles, AFailedCopyIsReportedAndLeavesNoTarget) {
    write("src", std::string(100000, 's'));
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1000;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string f = failure([] { ModelicaInternal_copyFile("src", "dst"); });
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(f, "\"src\" cannot be copied to \"dst\":\nFile too large");
    EXPECT_EQ(ModelicaInternal_fileType("dst"), 1);
}

TEST_F(UtilityFiles, FullPathCurrentDirectoryAndTemporaryNames) {
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(ModelicaInternal_currentDirectory(), cwd);
    const std::pair<const char*, std::string> paths[] = {
        {"a/./b/../c", cwd + "/a/c"}, {"x/", cwd + "/x/"}, {"", cwd}, {"/", "/"},
        {"/../..", "/"},              {"/u//v/.", "/u/v"},
    };
    for (const auto& p : paths) EXPECT_EQ(ModelicaInternal_fullPath(p.first), p.second) << p.first;
    const std::string longName(1100, 'n');
    const std::string tooLong = failure([&] { ModelicaInternal_fullPath(longName.c_str()); });
    EXPECT_EQ(tooLong.rfind("Not possible to construct full path name of \"nnn", 0), 0u) << tooLong;

    setenv("TMPDIR", cwd.c_str(), 1);
    const std::string temp = ModelicaInternal_tempFileName();
    unsetenv("TMPDIR");
    EXPECT_EQ(fs::path(temp).parent_path(), fs::path(cwd));
    EXPECT_EQ(ModelicaInternal_fileType(temp.c_str()), 1) << "the name is free";
    write("src", "t");
    ModelicaInternal_copyFile("src", temp.c_str());
    EXPECT_EQ(read(temp), "t");
}

TEST_F(UtilityFiles, EnvironmentTimeAndProcess) {
    ModelicaInternal_setenv("UTILITY_TEST_VAR", "a\\b/c", 1);
    const GetenvResult r = ModelicaInternal_getenvResult("UTILITY_TEST_VAR", 1);
    EXPECT_STREQ(r.content, "a\\b/c") << "no separator conversion on this system";
    EXPECT_EQ(r.exists, 1);
    ModelicaInternal_setenv("UTILITY_TEST_VAR", "", 0);
    EXPECT_EQ(getenv("UTILITY_TEST_VAR"), nullptr) << "an empty value removes the variable";
    const GetenvResult gone = ModelicaInternal_getenvResult("UTILITY_TEST_VAR", 0);
    EXPECT_STREQ(gone.content, "");
    EXPECT_EQ(gone.exists, 0);
    EXPECT_EQ(failure([] { ModelicaInternal_setenv("A=B", "1", 0); }),
              "Not possible to set environment variable:\nInvalid argument");

    const time_t before = time(nullptr);
    int ms, sec, min, hour, mday, mon, year;
    ModelicaInternal_localTime(&ms, &sec, &min, &hour, &mday, &mon, &year);
    tm local;
    localtime_r(&before, &local);
    EXPECT_TRUE(ms >= 0 && ms < 1000 && sec >= 0 && sec <= 60 && min >= 0 && min < 60 && hour >= 0 && hour < 24);
    EXPECT_EQ(year, local.tm_year + 1900);
    EXPECT_EQ(mon, local.tm_mon + 1);
    EXPECT_EQ(mday, local.tm_mday);
    EXPECT_EQ(ModelicaInternal_processId(), static_cast<int>(getpid()));
}

TEST_F(UtilityFiles, EnvironmentReadWhileAnotherThreadSetsNewVariables) {
    // Each new variable moves the process's table of variables, which a read
    // of a missing variable walks to its end.
    createThreadBuffers();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int k = 0; k < 3000; ++k) ModelicaInternal_setenv(("UTILITY_TEST_" + std::to_string(k)).c_str(), "x", 0);
        done = true;
    });
    int wrong = 0;
    while (!done) {
        char* mark = GetStringMark();
        const GetenvResult r = ModelicaInternal_getenvResult("UTILITY_TEST_MISSING", 0);
        if (r.exists != 0 || strcmp(r.content, "") != 0) ++wrong;
        SetStringMark(mark);
    }
    writer.join();
    EXPECT_EQ(wrong, 0);
    for (int k = 0; k < 3000; ++k) ModelicaInternal_setenv(("UTILITY_TEST_" + std::to_string(k)).c_str(), "", 0);
}

TEST_F(UtilityFiles, WritingCountingAndReadingLines) {
    ModelicaInternal_writeString("a", "w.txt");
    ModelicaInternal_writeString("b", "w.txt");
    EXPECT_EQ(read("w.txt"), "a\nb\n");
    write("two", "a\nb");
    write("empty", "");
    EXPECT_EQ(ModelicaInternal_countLines("two"), 2);
    EXPECT_EQ(ModelicaInternal_countLines("empty"), 0);
    EXPECT_EQ(ModelicaInternal_countLines("w.txt"), 2);

    // Long lines, "\r\n" ends, an empty line and a last line without a line feed.
    const std::string longLine(250, 'L');
    write("lines.txt", longLine + "\r\nshort\r\n\n" + longLine + "\nend");
    StringArray all = ModelicaInternal_readFileResult("lines.txt");
    ASSERT_EQ(dimsOf(all), std::vector<int>{5});
    EXPECT_EQ(std::vector<std::string>(all.data, all.data + 5),
              (std::vector<std::string>{longLine, "short", "", longLine, "end"}));
    int eof = -1;
    for (int i : {1, 2, 3, 4, 5}) EXPECT_EQ(line(i, &eof), all.data[i - 1]) << "line " << i;
    EXPECT_EQ(eof, 0);
    EXPECT_EQ(line(6, &eof), "");
    EXPECT_EQ(eof, 1);
    EXPECT_EQ(failure([&] { line(0); }),
              "Error when reading line 0 from file\n\"lines.txt\":\nThe line number must be 1 or more.");
    EXPECT_EQ(failure([] { ModelicaInternal_countLines("none"); }),
              "Not possible to open file \"none\" for reading:\nNo such file or directory\n");
    // A directory opens on this system, but is refused as a file to read.
    EXPECT_EQ(failure([] { ModelicaInternal_countLines("."); }),
              "Not possible to open file \".\" for reading:\nIs a directory\n");
    EXPECT_EQ(failure([&] { line(1, nullptr, "."); }), "Not possible to open file \".\" for reading:\nIs a directory\n");

    host().clearLog();
    ModelicaInternal_writeString("to the log", "");
    runtimeMessage("|");
    EXPECT_EQ(host().log.back().message, "to the log\n|");
    EXPECT_EQ(failure([] { ModelicaInternal_writeString("x", "/dev/full"); }),
              "Error when writing string to file \"/dev/full\":\nNo space left on device\n");
}

TEST_F(UtilityFiles, AFullStringBufferNamesTheLineAndTheCount) {
    write("lines.txt", std::string(300, 'x') + "\n");
    ThreadContext* c = getThreadContext();
    createThreadBuffers();
    SetStringMark(c->Endsimplestring - 100);
    const char* lines[1];
    EXPECT_EQ(failure([&] { ModelicaInternal_readAllLines("lines.txt", lines, 1); }),
              "Not enough memory to allocate string for reading line 1 from file\n\"lines.txt\".\n(this file "
              "contains 1 lines)\n");
}

TEST_F(UtilityFiles, TheCacheKeepsOneStreamPerName) {
    write("lines.txt", "old1\nold2\nold3\nold4\n");
    const int base = openFiles();
    EXPECT_EQ(line(2), "old2");
    EXPECT_EQ(openFiles(), base + 1);
    // Replace the file: the cached stream still reads the old one.
    write("new.txt", "new1\nnew2\nnew3\nnew4\n");
    fs::rename("new.txt", "lines.txt");
    EXPECT_EQ(line(3), "old3");
    EXPECT_EQ(line(1), "old1") << "line 1 rewinds the cached stream";
    EXPECT_EQ(line(4), "old4");
    EXPECT_EQ(line(2), "old2");
    EXPECT_EQ(openFiles(), base + 1);
    ModelicaStreams_closeFile("lines.txt");
    EXPECT_EQ(openFiles(), base);
    EXPECT_EQ(line(3), "new3") << "reopened after the close";

    // Appending closes the reader; the next read sees the appended line.
    ModelicaInternal_writeString("new5", "lines.txt");
    EXPECT_EQ(openFiles(), base);
    EXPECT_EQ(line(5), "new5");

    // Another name of the same file has its own entry and stream.
    const std::string absolute = (fs::current_path() / "lines.txt").string();
    EXPECT_EQ(line(1, nullptr, absolute.c_str()), "new1");
    EXPECT_EQ(openFiles(), base + 2);
    releaseFileCache();
    EXPECT_EQ(openFiles(), base) << "every cached stream is closed";

    FILE* stray = fopen("lines.txt", "r");
    cacheFileForReading(stray, nullptr, 1);
    EXPECT_EQ(openFiles(), base) << "a stream without a name is closed";
    // Two readers of one file hand their streams back: the one replaced is closed.
    FILE* first = fopen("lines.txt", "r");
    FILE* second = fopen("lines.txt", "r");
    cacheFileForReading(first, "lines.txt", 0);
    cacheFileForReading(second, "lines.txt", 0);
    EXPECT_EQ(openFiles(), base + 1);
}

TEST_F(UtilityFiles, TheNextLineContinuesTheStreamAndTheEndOfFileDropsIt) {
    // Rewritten in place after line 1: the cached stream goes on from where
    // it stands (its byte 4 begins "two" in both contents); rewinding and
    // skipping a line again would give "A".
    write("lines.txt", "one\ntwo\n");
    EXPECT_EQ(line(1), "one");
    write("lines.txt", "x\nA\ntwo\n");
    EXPECT_EQ(line(2), "two");

    // At the end of the file the stream is dropped: the next read opens the
    // file anew and sees what was renamed over it.
    write("lines.txt", "a\n");
    ModelicaStreams_closeFile("lines.txt");
    EXPECT_EQ(line(1), "a");
    int eof = 0;
    EXPECT_EQ(line(2, &eof), "");
    EXPECT_EQ(eof, 1);
    write("new.txt", "b\n");
    fs::rename("new.txt", "lines.txt");
    EXPECT_EQ(line(1), "b");
}

// Fails the n-th allocation of the cache (counted from 1).
int allocationsLeft = 0;
void* failingAllocate(size_t size) { return --allocationsLeft == 0 ? nullptr : malloc(size); }

TEST_F(UtilityFiles, ACacheWithoutMemoryClosesTheStreamAndGoesOn) {
    write("lines.txt", "1\n2\n");
    const int base = openFiles();
    // Entry, name, table, buckets: each failing in turn.
    for (int failAt = 1; failAt <= 4; ++failAt) {
        allocationsLeft = failAt;
        fileCacheAllocate = failingAllocate;
        EXPECT_EQ(line(1), "1") << failAt;
        fileCacheAllocate = malloc;
        EXPECT_EQ(openFiles(), base) << "not cached, not left open: allocation " << failAt;
    }
    EXPECT_EQ(line(2), "2");
    EXPECT_EQ(openFiles(), base + 1);
}

} // namespace

// The runtime in a library that a host loads by name: its module path is
// taken at load and spelled one way however the host spelled the name, and
// the texts of string tables outlive host objects destroyed at exit.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "amat.h"

namespace {

using PathQuery = const char* (*)();
using StringQuery = const char* (*)(const char*, const char*);

// A scratch directory, made the working directory, with the directory
// "real" and the link "link" to it; copies of the probe library go into
// "real" (each copy is a file of its own, which the loader never confuses
// with another).
class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
        char pattern[] = "/tmp/loaded_library_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        ASSERT_EQ(chdir(pattern), 0);
        char here[PATH_MAX];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        dir_ = here;
        ASSERT_EQ(mkdir("real", 0700), 0);
        ASSERT_EQ(symlink("real", "link"), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(saved_), 0);
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    void copyProbe(const char* name) {
        std::ifstream in(PROBEMODEL_SO, std::ios::binary);
        std::ofstream(dir_ + "/real/" + name, std::ios::binary) << in.rdbuf();
    }
    template <typename F>
    F entry(void* handle, const char* name) {
        return reinterpret_cast<F>(dlsym(handle, name));
    }

    char saved_[PATH_MAX];
    std::string dir_;
};

TEST_F(LoadedLibrary, ModulePathIsTakenAtLoadBeforeTheHostMovesOn) {
    copyProbe("probe.so");
    void* handle = dlopen("./real/probe.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_STREQ(entry<PathQuery>(handle, "probeModulePath")(), (dir_ + "/real/probe.so").c_str());
    dlclose(handle);
}

TEST_F(LoadedLibrary, ModulePathThroughALinkedDirectoryIsSpelledAsGiven) {
    copyProbe("relative.so");
    copyProbe("absolute.so");
    void* relative = dlopen("./link/relative.so", RTLD_NOW | RTLD_LOCAL);
    void* absolute = dlopen((dir_ + "/link/absolute.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(relative, nullptr) << dlerror();
    ASSERT_NE(absolute, nullptr) << dlerror();
    EXPECT_STREQ(entry<PathQuery>(relative, "probeModulePath")(), (dir_ + "/link/relative.so").c_str());
    EXPECT_STREQ(entry<PathQuery>(absolute, "probeModulePath")(), (dir_ + "/link/absolute.so").c_str());
    dlclose(relative);
    dlclose(absolute);
}

// Longer than any text kept inside a string object, so its characters lie in
// a heap block of their own.
const char kGreeting[] = "a table text read by the host's session";

// A host's session kept in a static object: the exit handlers destroy it,
// and its destructor still reads the table text it holds.
struct Session {
    const char* text = nullptr;
    ~Session() {
        if (text != nullptr && strcmp(text, kGreeting) != 0) _exit(3);
    }
};

// Made before the library is loaded and the text read, so destroyed after
// everything the library registers with the exit handlers.
void runSessionAndExit(const std::string& library, const std::string& file) {
    static Session session;
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) _exit(4);
    session.text = reinterpret_cast<StringQuery>(dlsym(handle, "probeStringParameter"))(file.c_str(), "greeting");
    exit(session.text != nullptr && strcmp(session.text, kGreeting) == 0 ? 0 : 5);
}

TEST_F(LoadedLibrary, TableTextsOutliveTheHostsObjectsAtExit) {
    copyProbe("session.so");
    const std::string file = dir_ + "/table.mat";
    char* rows[1] = {const_cast<char*>(kGreeting)};
    AmatMatrix table;
    amatSetMatrix(const_cast<char*>("greeting"), 1, static_cast<int32_t>(strlen(kGreeting)), charMatrix, rows, &table);
    ASSERT_EQ(amatWriteFile(file.c_str(), amatBinaryFormat, &table), 0) << amatMessage;
    EXPECT_EXIT(runSessionAndExit(dir_ + "/real/session.so", file), ::testing::ExitedWithCode(0), "");
}

} // namespace

// The runtime in a library that a host loads by name: its module path is
// taken at load with its directory resolved however the host spelled the
// name, so the resources directory is the FMU's own, and the texts of string
// tables outlive host objects destroyed at exit.
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

// A scratch directory, made the working directory, holding an unpacked FMU
// "fmu" with its platform directory fmu/binaries/linux64 and links into it
// at several depths: "plat" to the platform directory, "fmulink" (absolute)
// to the FMU, fmu/binaries/lx to its sibling linux64 and deep/a/b/up to
// fmu/binaries. Copies of the probe library go into the platform directory
// (each copy is a file of its own, loaded with globals of its own).
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
        fmu_ = dir_ + "/fmu";
        ASSERT_EQ(system("mkdir -p fmu/binaries/linux64 deep/a/b"), 0);
        ASSERT_EQ(symlink("fmu/binaries/linux64", "plat"), 0);
        ASSERT_EQ(symlink(fmu_.c_str(), "fmulink"), 0);
        ASSERT_EQ(symlink("linux64", "fmu/binaries/lx"), 0);
        ASSERT_EQ(symlink("../../../fmu/binaries", "deep/a/b/up"), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(saved_), 0);
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    // Copies the probe to `directory`/`name`; the path of the copy.
    std::string copyProbe(const std::string& name, const std::string& directory = "fmu/binaries/linux64") {
        const std::string path = (directory[0] == '/' ? directory : dir_ + "/" + directory) + "/" + name;
        std::ifstream in(PROBEMODEL_SO, std::ios::binary);
        std::ofstream(path, std::ios::binary) << in.rdbuf();
        return path;
    }
    template <typename F>
    F entry(void* handle, const char* name) {
        return reinterpret_cast<F>(dlsym(handle, name));
    }

    char saved_[PATH_MAX];
    std::string dir_;
    std::string fmu_;
};

// However the host names the library, from whichever working directory, the
// module path taken at load is the copy's real path and the resources
// directory is the FMU's own, also when the host moves to another directory
// before the directory is first asked for.
TEST_F(LoadedLibrary, ResourcesDirectoryIsTheFmusOwnHoweverTheLibraryIsNamed) {
    std::string chain = "$/fmu/binaries/linux64"; // longer than the module path buffer, resolving to a short path
    while (chain.size() < 1100) chain += "/../linux64";
    const struct {
        const char* cwd; // relative to the scratch directory
        std::string directory; // "$" stands for the scratch directory
    } cases[] = {
        {"", "fmu/binaries/linux64/"},
        {"", "./fmu/./binaries//linux64/"},
        {"", "fmu/binaries/linux64/../linux64/"},
        {"", "$/fmu/binaries/linux64/../linux64/"},
        {"", "$//fmu/./binaries/../binaries//linux64/"},
        {"", "plat/"},
        {"", "$/plat/"},
        {"", "plat/../linux64/"},
        {"", "fmulink/binaries/linux64/"},
        {"", "$/fmulink/binaries/linux64/"},
        {"", "$/fmu/binaries/lx/"},
        {"", "deep/a/b/up/linux64/"},
        {"fmu/binaries/linux64", "./"},
        {"deep/a", "../../fmu/binaries/linux64/"},
        {"deep/a/b", "up/lx/"},
        {"", chain + "/"},
    };
    int row = 0;
    for (const auto& c : cases) {
        const std::string name = "row" + std::to_string(row++) + ".so";
        const std::string real = copyProbe(name);
        std::string spelling = c.directory + name;
        if (spelling[0] == '$') spelling.replace(0, 1, dir_);
        SCOPED_TRACE(std::string(c.cwd) + " : " + spelling);
        ASSERT_EQ(chdir((dir_ + "/" + c.cwd).c_str()), 0);
        void* handle = dlopen(spelling.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        ASSERT_EQ(chdir("/"), 0);
        EXPECT_EQ(std::string(entry<PathQuery>(handle, "probeModulePath")()), real);
        EXPECT_EQ(std::string(entry<PathQuery>(handle, "probeResourcesDirectory")()), fmu_ + "/resources/");
        dlclose(handle);
    }
}

// A path longer than the module path buffer is cut inside the file name,
// which leaves the directories the resources directory is derived from.
TEST_F(LoadedLibrary, ResourcesDirectoryOfALibraryWithAPathLongerThanTheBuffer) {
    std::string deep = dir_;
    while (deep.size() < 800) {
        deep += "/" + std::string(100, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    const std::string fmu = deep + "/fmu";
    ASSERT_EQ(system(("mkdir -p '" + fmu + "/binaries/linux64'").c_str()), 0);
    const std::string path = copyProbe(std::string(200, 'p') + ".so", fmu + "/binaries/linux64");
    ASSERT_GT(path.size(), 999u);
    ASSERT_LT(fmu.size() + sizeof "/binaries/linux64/", 998u);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_EQ(std::string(entry<PathQuery>(handle, "probeModulePath")()), path.substr(0, 998));
    EXPECT_EQ(std::string(entry<PathQuery>(handle, "probeResourcesDirectory")()), fmu + "/resources/");
    dlclose(handle);
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
    const std::string library = copyProbe("session.so");
    const std::string file = dir_ + "/table.mat";
    char* rows[1] = {const_cast<char*>(kGreeting)};
    AmatMatrix table;
    amatSetMatrix(const_cast<char*>("greeting"), 1, static_cast<int32_t>(strlen(kGreeting)), charMatrix, rows, &table);
    ASSERT_EQ(amatWriteFile(file.c_str(), amatBinaryFormat, &table), 0) << amatMessage;
    EXPECT_EXIT(runSessionAndExit(library, file), ::testing::ExitedWithCode(0), "");
}

} // namespace

// The platform layer's path of a loaded library and of a named file.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform.h"

namespace {

TEST(Platform, ModulePathOfALibraryLoadedByARelativeNameIsAbsolute) {
    // The test model's library lies beside this program.
    char exe[PATH_MAX] = {0};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string directory(exe);
    directory.erase(directory.rfind('/'));
    char saved[PATH_MAX];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(directory.c_str()), 0);
    void* handle = dlopen("./FakeModel.so", RTLD_NOW | RTLD_LOCAL);
    char path[1000] = {0};
    const int result = handle ? platformModulePath(dlsym(handle, "fmi2GetVersion"), path, sizeof path) : -1;
    char expected[PATH_MAX];
    ASSERT_NE(realpath((directory + "/FakeModel.so").c_str(), expected), nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(path, expected);
    if (handle) dlclose(handle);
    ASSERT_EQ(chdir(saved), 0);
}

// A directory that does not exist cannot be resolved: the name is folded
// lexically, a relative one after the working directory.
TEST(Platform, AbsolutePathOfAnUnresolvableDirectoryIsFoldedLexically) {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"/no-such-dir/a/../b//./c.so", "/no-such-dir/b/c.so"},
        {"/no-such-dir/../../../x/y.so", "/x/y.so"},
        {"no-such-dir/./a/../../b/c.so", std::string(cwd) + "/b/c.so"},
    };
    for (const auto& c : cases) {
        char path[1000];
        EXPECT_EQ(platformAbsolutePath(c.name, path, sizeof path), 0) << c.name;
        EXPECT_EQ(path, c.path) << c.name;
    }
}

// A path longer than the buffer is cut to what fits, nothing written beyond.
TEST(Platform, AbsolutePathLongerThanTheBufferIsCut) {
    char path[16];
    memset(path, 'x', sizeof path);
    EXPECT_EQ(platformAbsolutePath("/no-such-dir/library.so", path, 8), 1);
    EXPECT_STREQ(path, "/no-suc");
    EXPECT_EQ(std::string(path + 8, 8), "xxxxxxxx");
}

} // namespace

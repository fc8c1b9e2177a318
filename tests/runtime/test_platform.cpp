// The platform layer's path of a loaded library.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

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

} // namespace

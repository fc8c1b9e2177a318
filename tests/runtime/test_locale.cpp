// Number conversion and formatting stay in the "C" locale whatever the
// process locale is.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <stdarg.h>
#include <stdio.h>

#include "locale_c.h"

// This binary's newlocale fails while asked to, so that the wrappers can be
// run without their locale object; otherwise it is the C library's.
static bool failLocaleCreation = false;
extern "C" locale_t newlocale(int mask, const char* name, locale_t base) noexcept {
    using Create = locale_t (*)(int, const char*, locale_t);
    static const Create create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "newlocale"));
    return failLocaleCreation ? (locale_t)0 : create(mask, name, base);
}

namespace {

// Switches the process to a locale with a decimal comma for one test.
class CommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE"};
        for (const char* name : names)
            if (setlocale(LC_ALL, name)) {
                active_ = true;
                break;
            }
        if (!active_) GTEST_SKIP() << "no decimal-comma locale installed (scripts/install-packages adds one)";
        char buffer[16];
        snprintf(buffer, sizeof buffer, "%g", 0.5);
        ASSERT_STREQ(buffer, "0,5") << "the process locale really uses a decimal comma";
    }
    void TearDown() override { setlocale(LC_ALL, "C"); }
    bool active_ = false;
};

TEST_F(CommaLocale, ConversionsUseTheDecimalPoint) {
    EXPECT_EQ(atof_C("1.5"), 1.5);
    double d = 0;
    EXPECT_EQ(sscanf_C_Double(" 2.25", &d), 1);
    EXPECT_EQ(d, 2.25);
    char word[256];
    EXPECT_EQ(sscanf_C_DoubleWord("3.5 unit", &d, word), 2);
    EXPECT_EQ(d, 3.5);
    EXPECT_STREQ(word, "unit");
    char buffer[64];
    EXPECT_EQ(sprintf_C(buffer, "%g", 0.5), 3);
    EXPECT_STREQ(buffer, "0.5");
    EXPECT_EQ(snprintf_C(buffer, sizeof buffer, "%.3f", 1.25), 5);
    EXPECT_STREQ(buffer, "1.250");
}

TEST_F(CommaLocale, FreshLocaleObjectAfterFree) {
    freeCLocale();
    EXPECT_EQ(atof_C("0.25"), 0.25);
    EXPECT_NE(*getCLocale(), (locale_t)0);
}

int formatBounded(char* buffer, size_t len, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsnprintf_C(buffer, len, format, args);
    va_end(args);
    return result;
}

TEST(LocaleWrappers, BoundedFormattingRule) {
    char buffer[8];
    EXPECT_EQ(formatBounded(buffer, 8, "%s", "abcdefghijklmnopqrst"), -1);
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_EQ(formatBounded(buffer, 8, "%s", "1234567"), 7);
    EXPECT_STREQ(buffer, "1234567");
}

TEST(LocaleWrappers, CharacterClassesAndScans) {
    EXPECT_EQ(isspace_C(-1), 0);
    EXPECT_EQ(isspace_C(300), 0);
    EXPECT_NE(isspace_C(' '), 0);
    EXPECT_NE(isalpha_C('a'), 0);
    EXPECT_EQ(isdigit_C('a'), 0);
    EXPECT_EQ(toupper_C('q'), 'Q');
    EXPECT_EQ(stricmp_C("ABC", "abc"), 0);
    EXPECT_EQ(atoi_C("42x"), 42);
    int a = 0, b = 0, c = 0;
    EXPECT_EQ(sscanf_C_SlashTriple("0x10/2/3", &a, &b, &c), 3);
    EXPECT_EQ(a, 16);
    char name[256];
    EXPECT_EQ(sscanf_C_Include("#include \"file.h\"", name), 1);
    EXPECT_STREQ(name, "file.h");
    int consumed = 0;
    EXPECT_EQ(sscanf_C_WordCount("  word rest", name, &consumed), 1);
    EXPECT_EQ(consumed, 6);

    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    fputs("text before [bracket", f);
    rewind(f);
    char text[256], bracket[256];
    EXPECT_EQ(fscanf_C_UntilBracket(f, text, bracket), 1);
    EXPECT_STREQ(text, "text before ");
    EXPECT_STREQ(bracket, "[");
    fclose(f);
}

// The "C" locale object could not be created: the wrappers work in the
// process's locale (here "C") instead.
class WithoutLocaleObject : public ::testing::Test {
protected:
    void SetUp() override {
        freeCLocale();
        failLocaleCreation = true;
        getCLocale();
        failLocaleCreation = false;
        ASSERT_EQ(*getCLocale(), (locale_t)0);
    }
    void TearDown() override { freeCLocale(); }
};

TEST_F(WithoutLocaleObject, WrappersUseThePlainFunctions) {
    EXPECT_EQ(atof_C("1.5"), 1.5);
    EXPECT_EQ(atoi_C("42x"), 42);
    EXPECT_EQ(stricmp_C("ABC", "abc"), 0);
    EXPECT_NE(isalpha_C('a'), 0);
    EXPECT_EQ(isdigit_C('a'), 0);
    EXPECT_EQ(toupper_C('q'), 'Q');
    char buffer[16];
    EXPECT_EQ(sprintf_C(buffer, "%g", 0.5), 3);
    EXPECT_STREQ(buffer, "0.5");
}

} // namespace

// Typed pack library: format strings, the node tree, the image layout and
// exact round trips of every type.
#include <float.h>
#include <limits.h>
#include <math.h>

#include "test_tpl_fixture.h"

namespace {

using Tpl = TplTest;

TEST_F(Tpl, IntegerAndStringGiveTheDocumentedImage) {
    int32_t number = 5;
    char text[] = "ab";
    char* pointer = text;
    TplNode* map = tpl_map("is", &number, &pointer);
    ASSERT_NE(map, nullptr);
    ASSERT_EQ(tpl_pack(map, 0), 0);
    std::vector<char> image = dump(map);
    const unsigned char expected[] = {'t', 'p', 'l', 2, 21, 0, 0, 0, 'i', 's', 0,
                                      5,   0,   0,   0, 3,  0, 0, 0, 'a', 'b'};
    ASSERT_EQ(image.size(), sizeof expected);
    EXPECT_EQ(memcmp(image.data(), expected, sizeof expected), 0);
    tpl_release(map);

    // Without strings the flags byte is 0.
    TplNode* plain = tpl_map("i", &number);
    ASSERT_EQ(tpl_pack(plain, 0), 0);
    EXPECT_EQ(dump(plain)[3], 0);
    tpl_release(plain);
}

TEST_F(Tpl, EveryItemTypeHasItsCodeAndRoundTripsExactly) {
    struct Values {
        int32_t i;
        uint32_t u;
        unsigned char c;
        char* s;
        double f;
        int64_t I;
        uint64_t U;
        int16_t j;
        uint16_t v;
        TplBuffer B;
        int32_t a;
        int32_t r;
    };
    char text[] = "text";
    unsigned char bytes[] = {0, 1, 0xfe, 0xff};
    Values in{INT_MIN, UINT32_MAX, 0xff, text, -DBL_MIN, INT64_MIN, UINT64_MAX, SHRT_MIN, USHRT_MAX,
              TplBuffer{bytes, 4}, 77, 88};
    Values out{};
    auto build = [](Values& x) {
        return tpl_map("iucsfIUjvBA(i)S(i)#", &x.i, &x.u, &x.c, &x.s, &x.f, &x.I, &x.U, &x.j, &x.v, &x.B, &x.a,
                       &x.r, 1);
    };
    TplNode* map = build(in);
    ASSERT_NE(map, nullptr);
    const int codes[] = {kTplInt32, kTplUInt32, kTplByte,   kTplString, kTplDouble, kTplInt64,
                         kTplUInt64, kTplInt16, kTplUInt16, kTplBuffer, kTplArray, kTplPound};
    TplNode* child = map->children;
    for (int code : codes) {
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->type, code);
        child = child->next;
    }
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(map->type, kTplRoot);

    ASSERT_EQ(tpl_pack(map, 0), 0);
    ASSERT_EQ(tpl_pack(map, 1), 0);
    std::vector<char> image = dump(map);

    TplNode* back = build(out);
    ASSERT_EQ(tpl_load(back, TPL_MODE_MEMORY, image.data(), image.size()), 0);
    ASSERT_EQ(tpl_unpack(back, 0), 1);
    EXPECT_EQ(tpl_unpack(back, 1), 1);
    EXPECT_EQ(out.i, in.i);
    EXPECT_EQ(out.u, in.u);
    EXPECT_EQ(out.c, in.c);
    EXPECT_STREQ(out.s, "text");
    EXPECT_EQ(memcmp(&out.f, &in.f, sizeof(double)), 0);
    EXPECT_EQ(out.I, in.I);
    EXPECT_EQ(out.U, in.U);
    EXPECT_EQ(out.j, in.j);
    EXPECT_EQ(out.v, in.v);
    ASSERT_EQ(out.B.size, 4u);
    EXPECT_EQ(memcmp(out.B.addr, bytes, 4), 0);
    EXPECT_EQ(out.a, 77);
    EXPECT_EQ(out.r, 88);

    // Packing what was unpacked gives the same image again.
    TplNode* again = build(out);
    ASSERT_EQ(tpl_pack(again, 0), 0);
    ASSERT_EQ(tpl_pack(again, 1), 0);
    EXPECT_EQ(dump(again), image);
    TplRecorder::release(out.s);
    TplRecorder::release(out.B.addr);
    tpl_release(map);
    tpl_release(back);
    tpl_release(again);
}

TEST_F(Tpl, CountsMultiplyAndAreWrittenInFormatOrder) {
    int32_t six[6] = {1, 2, 3, 4, 5, 6};
    TplNode* map = tpl_map("i##", six, 2, 3);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->children->num, 6);
    ASSERT_EQ(tpl_pack(map, 0), 0);
    std::vector<char> image = dump(map);
    ASSERT_EQ(image.size(), 8u + 4 + 8 + 24);
    EXPECT_EQ(word(image, 12), 2u);
    EXPECT_EQ(word(image, 16), 3u);
    EXPECT_EQ(memcmp(image.data() + 20, six, 24), 0);
    tpl_release(map);

    // Ten counts in a row are accepted; an eleventh is refused.
    int32_t one = 0;
    map = tpl_map("i##########", &one, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);
    ASSERT_NE(map, nullptr);
    tpl_release(map);
    EXPECT_EQ(tpl_map("i###########", &one, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), nullptr);
    ASSERT_EQ(TplRecorder::fatals.size(), 1u);
    EXPECT_EQ(TplRecorder::fatals[0], "contiguous # exceeds hardcoded limit\n");
}

TEST_F(Tpl, RecordsFollowTheNaturalLayout) {
    struct Pair {
        char c;
        int32_t i;
    } pairs[2] = {{'x', 0x01020304}, {'y', -1}};
    TplNode* map = tpl_map("S(ci)#", pairs, 2);
    ASSERT_NE(map, nullptr);
    TplNode* pound = map->children;
    ASSERT_EQ(pound->type, kTplPound);
    EXPECT_EQ(pound->num, 2);
    EXPECT_EQ(static_cast<TplPoundData*>(pound->data)->stride, sizeof(Pair));
    ASSERT_EQ(tpl_pack(map, 0), 0);
    std::vector<char> image = dump(map);
    size_t data = image.size() - 10;
    EXPECT_EQ(data, 8u + 7 + 4); // header, "S(ci)#" and its NUL, one count
    EXPECT_EQ(image[data], 'x');
    EXPECT_EQ(word(image, data + 1), 0x01020304u);
    EXPECT_EQ(image[data + 5], 'y');
    EXPECT_EQ(word(image, data + 6), 0xffffffffu);
    tpl_release(map);

    // Members of every alignment, counts inside the record and a nested record.
    struct Mixed {
        char c;
        double f;
        int16_t j[3];
        int64_t I;
        struct {
            unsigned char b;
            uint32_t u;
        } nested;
        char* s;
        uint16_t v;
    };
    char word1[] = "one";
    Mixed in[2] = {{'a', 1.5, {1, 2, 3}, -4, {5, 6}, word1, 7}, {'b', -2.5, {8, 9, 10}, 11, {12, 13}, nullptr, 14}};
    Mixed out[2];
    memset(out, 0, sizeof out);
    map = tpl_map("S(cfj#I$(cu)sv)#", in, 3, 2);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(static_cast<TplPoundData*>(map->children->data)->stride, sizeof(Mixed));
    ASSERT_EQ(tpl_pack(map, 0), 0);
    image = dump(map);
    TplNode* back = tpl_map("S(cfj#I$(cu)sv)#", out, 3, 2);
    ASSERT_EQ(tpl_load(back, TPL_MODE_MEMORY, image.data(), image.size()), 0);
    ASSERT_EQ(tpl_unpack(back, 0), 1);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(out[k].c, in[k].c);
        EXPECT_EQ(out[k].f, in[k].f);
        EXPECT_EQ(memcmp(out[k].j, in[k].j, sizeof in[k].j), 0);
        EXPECT_EQ(out[k].I, in[k].I);
        EXPECT_EQ(out[k].nested.b, in[k].nested.b);
        EXPECT_EQ(out[k].nested.u, in[k].nested.u);
        EXPECT_EQ(out[k].v, in[k].v);
    }
    EXPECT_STREQ(out[0].s, "one");
    EXPECT_EQ(out[1].s, nullptr);
    TplRecorder::release(out[0].s);
    tpl_release(map);
    tpl_release(back);
}

TEST_F(Tpl, ArraysNestAndCountDownWhileUnpacking) {
    int32_t key = 0;
    char* name = nullptr;
    double value = 0;
    TplNode* map = tpl_map("A(isA(f))", &key, &name, &value);
    ASSERT_NE(map, nullptr);
    char names[3][4] = {"a", "", "ccc"};
    for (int k = 0; k < 3; ++k) {
        key = k * 10;
        name = k == 1 ? nullptr : names[k];
        for (int e = 0; e < k; ++e) {
            value = k + e / 10.0;
            ASSERT_EQ(tpl_pack(map, 2), 0);
        }
        ASSERT_EQ(tpl_pack(map, 1), 0);
    }
    std::vector<char> image = dump(map);
    tpl_release(map);

    map = tpl_map("A(isA(f))", &key, &name, &value);
    ASSERT_EQ(tpl_load(map, TPL_MODE_MEMORY, image.data(), image.size()), 0);
    // The inner array has no position before an element of its parent is read.
    EXPECT_EQ(tpl_unpack(map, 2), -1);
    ASSERT_EQ(TplRecorder::fatals.size(), 1u);
    EXPECT_EQ(TplRecorder::fatals[0], "must unpack parent of node before node itself\n");
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(tpl_unpack(map, 1), 3 - k);
        EXPECT_EQ(key, k * 10);
        if (k == 1) {
            EXPECT_EQ(name, nullptr);
        } else {
            EXPECT_STREQ(name, names[k]);
            TplRecorder::release(name);
        }
        for (int e = 0; e < k; ++e) {
            ASSERT_EQ(tpl_unpack(map, 2), k - e);
            EXPECT_EQ(value, k + e / 10.0);
        }
        EXPECT_EQ(tpl_unpack(map, 2), 0);
    }
    EXPECT_EQ(tpl_unpack(map, 1), 0);
    EXPECT_EQ(tpl_unpack(map, 3), -1);
    EXPECT_TRUE(TplRecorder::said("invalid index 3 to tpl_unpack\n"));
    tpl_release(map);
}

TEST_F(Tpl, StringsAndBuffersKeepNullAndEmptyApart) {
    char* texts[3] = {nullptr, const_cast<char*>(""), const_cast<char*>("xyz")};
    TplBuffer empty{nullptr, 0};
    TplNode* map = tpl_map("s#B", texts, 3, &empty);
    ASSERT_EQ(tpl_pack(map, 0), 0);
    std::vector<char> image = dump(map);
    // n = 0, n = 1, n = 4 with "xyz", then an empty buffer.
    size_t data = 8 + 4 + 4;
    EXPECT_EQ(word(image, data), 0u);
    EXPECT_EQ(word(image, data + 4), 1u);
    EXPECT_EQ(word(image, data + 8), 4u);
    EXPECT_EQ(word(image, data + 15), 0u);
    EXPECT_EQ(image.size(), data + 19);

    char* out[3] = {};
    TplBuffer outBuffer{&out, 9};
    TplNode* back = tpl_map("s#B", out, 3, &outBuffer);
    ASSERT_EQ(tpl_load(back, TPL_MODE_MEMORY, image.data(), image.size()), 0);
    ASSERT_EQ(tpl_unpack(back, 0), 1);
    EXPECT_EQ(out[0], nullptr);
    ASSERT_NE(out[1], nullptr);
    EXPECT_STREQ(out[1], "");
    EXPECT_STREQ(out[2], "xyz");
    EXPECT_EQ(outBuffer.addr, nullptr);
    EXPECT_EQ(outBuffer.size, 0u);
    TplRecorder::release(out[1]);
    TplRecorder::release(out[2]);
    tpl_release(map);
    tpl_release(back);
}

TEST_F(Tpl, MalformedFormatsAreRefusedWithoutLeaks) {
    int32_t a = 0, b = 0;
    TplBuffer buffer{};
    struct {
        const char* format;
        bool unsupported;
    } bad[] = {{"#", false},      {"i(", false},     {"i)", false},      {"()", false},     {"A()", false},
               {"Si", false},     {"S(A(i))", false}, {"S(S(i))", false}, {"$(i)", false},   {"S(B)", false},
               {"AB", false},     {"B#", false},     {"A(i)#", false},   {"S(i$(i)#)", false}, {"(i)#", false},
               {"A(i", false},    {"S", false},      {"ix", true},       {"i i", true}};
    for (const auto& c : bad) {
        TplRecorder::messages.clear();
        EXPECT_EQ(tpl_map(c.format, &a, &b, &b, &b), nullptr) << c.format;
        ASSERT_FALSE(TplRecorder::messages.empty()) << c.format;
        EXPECT_EQ(TplRecorder::messages.back(), std::string("failed to parse ") + c.format + "\n");
        if (c.unsupported) {
            EXPECT_EQ(TplRecorder::messages.front(), std::string("unsupported option ") + c.format[1] + "\n");
        }
    }
    EXPECT_EQ(tpl_map(nullptr), nullptr);
    // Well-formed neighbours of the cases above.
    const char* good[] = {"(i)", "A(A(i))", "S($(ii))", "A(S(ii)#)"};
    for (const char* format : good) {
        TplNode* map = tpl_map(format, &a, 1);
        EXPECT_NE(map, nullptr) << format;
        tpl_release(map);
    }
    TplNode* map = tpl_map("Bi", &buffer, &a);
    EXPECT_NE(map, nullptr);
    tpl_release(map);
    EXPECT_TRUE(TplRecorder::fatals.empty());
}

TEST_F(Tpl, BadCountsGoThroughTheFatalHookAndReturnNull) {
    int32_t values[4] = {};
    struct {
        char c;
        int32_t i;
    } record[2];
    EXPECT_EQ(tpl_map("ii#", values, values, 0), nullptr);
    EXPECT_EQ(tpl_map("S(ci)#", record, -2), nullptr);
    EXPECT_EQ(tpl_map("i##", values, 65536, 65536), nullptr);
    EXPECT_EQ(tpl_map("S(ci#)#", record, 65536, 65536), nullptr);
    ASSERT_EQ(TplRecorder::fatals.size(), 4u);
    EXPECT_EQ(TplRecorder::fatals[0], "non-positive iteration count 0\n");
    EXPECT_EQ(TplRecorder::fatals[1], "non-positive iteration count -2\n");
    EXPECT_EQ(TplRecorder::fatals[2], "iteration count product 4294967296 too large\n");
    EXPECT_EQ(TplRecorder::fatals[3], "iteration count product 4294967296 too large\n");
}

TEST_F(Tpl, DefaultFatalHookReportsAndReturnsInsteadOfEndingTheProcess) {
    TplHooks.fatal = tpl_abort;
    int32_t value = 0;
    EXPECT_EQ(tpl_map("i#", &value, 0), nullptr);
    ASSERT_EQ(TplRecorder::messages.size(), 1u);
    EXPECT_EQ(TplRecorder::messages[0], "non-positive iteration count 0\n");
    // The default hook cuts its text at 100 characters.
    std::string longText(150, 'x');
    tpl_abort("%s", longText.c_str());
    EXPECT_EQ(TplRecorder::messages.back(), std::string(100, 'x'));
}

TEST_F(Tpl, DumpModesAgreeOnTheSize) {
    StateRecord state;
    char text[] = "state";
    char bytes[] = "0123456789";
    fillState(state, text, bytes, 10);
    TplNode* map = mapState(state);
    ASSERT_NE(map, nullptr);
    ASSERT_EQ(tpl_pack(map, 0), 0);

    size_t size = 0;
    ASSERT_EQ(tpl_dump(map, TPL_MODE_SIZE_ONLY, &size), 0);
    void* image = nullptr;
    size_t written = 0;
    ASSERT_EQ(tpl_dump(map, TPL_MODE_MEMORY, &image, &written), 0);
    EXPECT_EQ(written, size);
    uint32_t length;
    memcpy(&length, static_cast<char*>(image) + 4, 4);
    EXPECT_EQ(length, size);

    // A caller's buffer one byte short is refused and left alone.
    std::vector<char> small(size - 1, '#');
    EXPECT_EQ(tpl_dump(map, TPL_MODE_MEMORY | TPL_MODE_PREALLOCATED, small.data(), small.size()), -1);
    EXPECT_TRUE(TplRecorder::said("tpl_dump: buffer too small, need " + std::to_string(size) + " bytes\n"));
    EXPECT_EQ(std::count(small.begin(), small.end(), '#'), static_cast<long>(small.size()));
    EXPECT_EQ(tpl_dump(map, 64, &size), -1);
    EXPECT_TRUE(TplRecorder::said("unsupported tpl_dump mode 64\n"));
    EXPECT_EQ(tpl_pack(map, 1), -1);
    EXPECT_TRUE(TplRecorder::said("invalid index 1 to tpl_pack\n"));

    // A loaded map cannot be dumped.
    ASSERT_EQ(tpl_load(map, TPL_MODE_MEMORY | TPL_MODE_FREE_IMAGE, image, written), 0);
    EXPECT_EQ(tpl_dump(map, TPL_MODE_SIZE_ONLY, &size), -1);
    EXPECT_TRUE(TplRecorder::said("error: tpl_dump called for a loaded tpl\n"));
    tpl_release(map);
}

TEST_F(Tpl, UnpackingAPackedMapGoesThroughItsOwnImage) {
    int32_t value = 41;
    TplNode* map = tpl_map("i", &value);
    EXPECT_EQ(tpl_unpack(map, 0), -1);
    EXPECT_TRUE(TplRecorder::said("tpl_unpack: no image to unpack\n"));
    ASSERT_EQ(tpl_pack(map, 0), 0);
    value = 0;
    ASSERT_EQ(tpl_unpack(map, 0), 1);
    EXPECT_EQ(value, 41);
    tpl_release(map);
}

} // namespace

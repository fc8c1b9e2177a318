// Typed pack library: validation of images, truncated and corrupted images,
// the other byte order and the old string encoding, files, descriptors and
// stream readers, and failures inside every allocation.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "test_tpl_fixture.h"

namespace {

using TplLoad = TplTest;

// Bytes of an image built by hand, numbers in a chosen byte order.
struct ImageBuilder {
    std::vector<char> bytes;
    bool big;
    void raw(const void* data, size_t n) {
        bytes.insert(bytes.end(), static_cast<const char*>(data), static_cast<const char*>(data) + n);
    }
    template <class T> void number(T value) {
        char b[sizeof(T)];
        memcpy(b, &value, sizeof(T));
        if (big) std::reverse(b, b + sizeof(T));
        raw(b, sizeof(T));
    }
    void text(const char* t) { raw(t, strlen(t)); }
    void header(unsigned char flags, const char* format) {
        text("tpl");
        raw(&flags, 1);
        number<uint32_t>(0);
        raw(format, strlen(format) + 1);
    }
    std::vector<char> finish() {
        uint32_t length = static_cast<uint32_t>(bytes.size());
        char b[4];
        memcpy(b, &length, 4);
        if (big) std::reverse(b, b + 4);
        memcpy(bytes.data() + 4, b, 4);
        return bytes;
    }
};

int checkCode(TplNode* map, std::vector<char> image, int excessAllowed) {
    TplRootData* rd = static_cast<TplRootData*>(map->data);
    rd->image = image.data();
    rd->imageLength = image.size();
    int code = tpl_check_image(map, excessAllowed);
    rd->image = nullptr;
    rd->imageLength = 0;
    rd->flags = 0;
    return code;
}

TEST_F(TplLoad, ValidationNamesEachFault) {
    int32_t two[2] = {3, 4};
    char word[] = "hi";
    char* text = word;
    TplNode* map = tpl_map("i#s", two, 2, &text);
    ASSERT_EQ(tpl_pack(map, 0), 0);
    const std::vector<char> good = dump(map);
    ASSERT_EQ(good.size(), 8u + 4 + 4 + 8 + 6);
    EXPECT_EQ(checkCode(map, good, 0), 0);

    auto changed = [&](size_t at, char value) {
        std::vector<char> image = good;
        image[at] = value;
        return image;
    };
    auto cut = [&](size_t length) { return std::vector<char>(good.begin(), good.begin() + length); };
    EXPECT_EQ(checkCode(map, cut(8), 1), -1);
    EXPECT_EQ(checkCode(map, changed(2, 'x'), 0), -2);
    EXPECT_EQ(checkCode(map, changed(3, 4), 0), -11);
    EXPECT_EQ(checkCode(map, changed(4, 31), 0), -3);
    EXPECT_EQ(checkCode(map, changed(4, 31), 1), 0);
    EXPECT_EQ(checkCode(map, cut(11), 1), -5);
    EXPECT_EQ(checkCode(map, changed(8, 'x'), 0), -4);
    EXPECT_EQ(checkCode(map, changed(8, 'u'), 0), -6);
    EXPECT_EQ(checkCode(map, cut(14), 1), -10);
    EXPECT_EQ(checkCode(map, changed(12, 3), 0), -7);
    EXPECT_EQ(checkCode(map, changed(24, 100), 0), -8);
    std::vector<char> longer = good;
    longer.push_back(0);
    longer[4] = static_cast<char>(longer.size());
    EXPECT_EQ(checkCode(map, longer, 0), -9);
    EXPECT_EQ(checkCode(map, longer, 1), 0);

    // Through tpl_load: messages, and an image longer than its length field.
    std::vector<char> other = changed(8, 'u');
    EXPECT_EQ(tpl_load(map, TPL_MODE_MEMORY, other.data(), other.size()), -1);
    EXPECT_TRUE(TplRecorder::said("format signature mismatch\n"));
    std::vector<char> excess = good;
    excess.push_back(0);
    EXPECT_EQ(tpl_load(map, TPL_MODE_MEMORY, excess.data(), excess.size()), -1);
    EXPECT_TRUE(TplRecorder::said("not a valid tpl file\n"));
    EXPECT_EQ(tpl_load(map, TPL_MODE_MEMORY | TPL_MODE_EXCESS_ALLOWED, excess.data(), excess.size()), 0);
    EXPECT_EQ(tpl_load(map, 64, excess.data()), -1);
    EXPECT_TRUE(TplRecorder::said("unsupported tpl_load mode 64\n"));
    EXPECT_EQ(tpl_load(map->children, TPL_MODE_MEMORY, excess.data(), excess.size()), -1);
    EXPECT_TRUE(TplRecorder::said("error: tpl_load to non-root node\n"));
    tpl_release(map);
}

// Images with strings, buffers, records and nested arrays for the walks below.
struct Samples {
    StateRecord state{};
    char text[6] = "state";
    char bytes[11] = "0123456789";
    int32_t key = 0;
    char* name = nullptr;
    double value = 0;
    TplBuffer tail{};

    TplNode* mapArrays() { return tpl_map("A(isA(f))B", &key, &name, &value, &tail); }
    std::vector<char> stateImage() {
        fillState(state, text, bytes, 10);
        TplNode* map = mapState(state);
        EXPECT_EQ(tpl_pack(map, 0), 0);
        std::vector<char> image = TplTest::dump(map);
        tpl_release(map);
        return image;
    }
    std::vector<char> arrayImage() {
        TplNode* map = mapArrays();
        char names[2][3] = {"n0", "n1"};
        for (int k = 0; k < 3; ++k) {
            key = k;
            name = k == 2 ? nullptr : names[k];
            for (int e = 0; e <= k; ++e) {
                value = e;
                EXPECT_EQ(tpl_pack(map, 2), 0);
            }
            EXPECT_EQ(tpl_pack(map, 1), 0);
        }
        tail = TplBuffer{bytes, 3};
        EXPECT_EQ(tpl_pack(map, 0), 0);
        std::vector<char> image = TplTest::dump(map);
        tpl_release(map);
        return image;
    }
};

// Loads an image held in a block of exactly its size (so any read past its end
// is caught by the sanitizer), unpacks everything and frees what was unpacked.
int loadAndUnpackState(const std::vector<char>& image, int mode) {
    std::unique_ptr<char[]> exact(new char[image.size()]);
    if (!image.empty()) memcpy(exact.get(), image.data(), image.size());
    StateRecord out{};
    TplNode* map = mapState(out);
    int result = tpl_load(map, mode, exact.get(), image.size());
    if (result == 0) result = tpl_unpack(map, 0) == 1 ? 0 : -2;
    TplRecorder::release(out.strings[0]);
    TplRecorder::release(out.strings[1]);
    TplRecorder::release(out.block.addr);
    tpl_release(map);
    return result;
}

int loadAndUnpackArrays(Samples& s, const std::vector<char>& image, int mode) {
    std::unique_ptr<char[]> exact(new char[image.size()]);
    if (!image.empty()) memcpy(exact.get(), image.data(), image.size());
    TplNode* map = s.mapArrays();
    s.tail = TplBuffer{};
    int result = tpl_load(map, mode, exact.get(), image.size());
    if (result == 0) {
        if (tpl_unpack(map, 0) != 1) result = -2;
        while (result == 0 && tpl_unpack(map, 1) > 0) {
            TplRecorder::release(s.name);
            while (tpl_unpack(map, 2) > 0) {
            }
        }
    }
    TplRecorder::release(s.tail.addr);
    tpl_release(map);
    return result;
}

TEST_F(TplLoad, EveryTruncationFailsCleanly) {
    Samples s;
    std::vector<char> images[] = {s.stateImage(), s.arrayImage()};
    for (int which = 0; which < 2; ++which) {
        const std::vector<char>& image = images[which];
        auto load = [&](const std::vector<char>& bytes, int mode) {
            return which == 0 ? loadAndUnpackState(bytes, mode) : loadAndUnpackArrays(s, bytes, mode);
        };
        ASSERT_EQ(load(image, TPL_MODE_MEMORY), 0);
        for (size_t length = 0; length < image.size(); ++length) {
            std::vector<char> truncated(image.begin(), image.begin() + length);
            EXPECT_EQ(load(truncated, TPL_MODE_MEMORY), -1) << which << " cut at " << length;
            EXPECT_EQ(load(truncated, TPL_MODE_MEMORY | TPL_MODE_EXCESS_ALLOWED), -1) << which << " cut at " << length;
        }
    }
    EXPECT_TRUE(TplRecorder::fatals.empty());
}

TEST_F(TplLoad, CorruptedBytesAreRefusedOrUnpackSafely) {
    Samples s;
    std::vector<char> images[] = {s.stateImage(), s.arrayImage()};
    for (int which = 0; which < 2; ++which) {
        for (size_t at = 0; at < images[which].size(); ++at) {
            for (unsigned char value : {0x00, 0x01, 0x7f, 0xff}) {
                std::vector<char> image = images[which];
                image[at] = static_cast<char>(value);
                int result = which == 0 ? loadAndUnpackState(image, TPL_MODE_MEMORY)
                                        : loadAndUnpackArrays(s, image, TPL_MODE_MEMORY);
                EXPECT_TRUE(result == 0 || result == -1) << which << " byte " << at << " = " << int(value);
            }
        }
    }
    EXPECT_TRUE(TplRecorder::fatals.empty());
}

TEST_F(TplLoad, OtherByteOrderAndOldStringsUnpackToTheSameValues) {
    ImageBuilder big{{}, true};
    big.header(3, "jiIsfA(u)");
    big.number<int16_t>(-2);
    big.number<int32_t>(-70000);
    big.number<int64_t>(-5000000000LL);
    big.number<uint32_t>(3);
    big.text("hi");
    big.number<double>(-0.125);
    big.number<uint32_t>(2);
    big.number<uint32_t>(0xdeadbeef);
    big.number<uint32_t>(7);
    std::vector<char> image = big.finish();

    int16_t j = 0;
    int32_t i = 0;
    int64_t I = 0;
    char* s = nullptr;
    double f = 0;
    uint32_t u = 0;
    TplNode* map = tpl_map("jiIsfA(u)", &j, &i, &I, &s, &f, &u);
    ASSERT_EQ(tpl_load(map, TPL_MODE_MEMORY, image.data(), image.size()), 0);
    ASSERT_EQ(tpl_unpack(map, 0), 1);
    EXPECT_EQ(j, -2);
    EXPECT_EQ(i, -70000);
    EXPECT_EQ(I, -5000000000LL);
    EXPECT_STREQ(s, "hi");
    EXPECT_EQ(f, -0.125);
    ASSERT_EQ(tpl_unpack(map, 1), 2);
    EXPECT_EQ(u, 0xdeadbeefu);
    ASSERT_EQ(tpl_unpack(map, 1), 1);
    EXPECT_EQ(u, 7u);
    TplRecorder::release(s);
    tpl_release(map);

    // Flags without bit 1: a string is its length and its characters, never NULL.
    char* texts[2] = {};
    ImageBuilder old{{}, false};
    old.header(0, "s#");
    old.number<uint32_t>(2);
    old.number<uint32_t>(2);
    old.text("ab");
    old.number<uint32_t>(0);
    image = old.finish();
    map = tpl_map("s#", texts, 2);
    ASSERT_EQ(tpl_load(map, TPL_MODE_MEMORY, image.data(), image.size()), 0);
    ASSERT_EQ(tpl_unpack(map, 0), 1);
    EXPECT_STREQ(texts[0], "ab");
    ASSERT_NE(texts[1], nullptr);
    EXPECT_STREQ(texts[1], "");
    TplRecorder::release(texts[0]);
    TplRecorder::release(texts[1]);
    tpl_release(map);
}

struct TempDir {
    char path[64] = "/tmp/tpl_test_XXXXXX";
    TempDir() { EXPECT_NE(mkdtemp(path), nullptr); }
    ~TempDir() {
        std::string command = std::string("rm -rf ") + path;
        EXPECT_EQ(system(command.c_str()), 0);
    }
    std::string file(const char* name) const { return std::string(path) + "/" + name; }
};

TEST_F(TplLoad, FilesRoundTripAndReportTheirFaults) {
    TempDir dir;
    std::string name = dir.file("image.tpl");
    Samples s;
    std::vector<char> memoryImage = s.stateImage();
    fillState(s.state, s.text, s.bytes, 10);
    TplNode* map = mapState(s.state);
    ASSERT_EQ(tpl_pack(map, 0), 0);
    ASSERT_EQ(tpl_dump(map, TPL_MODE_FILE, name.c_str()), 0);
    tpl_release(map);
    struct stat status;
    ASSERT_EQ(stat(name.c_str(), &status), 0);
    EXPECT_EQ(static_cast<size_t>(status.st_size), memoryImage.size());

    StateRecord out{};
    map = mapState(out);
    ASSERT_EQ(tpl_load(map, TPL_MODE_FILE, name.c_str()), 0);
    ASSERT_EQ(tpl_unpack(map, 0), 1);
    EXPECT_STREQ(out.strings[0], "state");
    EXPECT_EQ(out.stepCounter, s.state.stepCounter);
    EXPECT_EQ(memcmp(out.delays, s.state.delays, sizeof out.delays), 0);
    TplRecorder::release(out.strings[0]);
    TplRecorder::release(out.block.addr);
    tpl_release(map);

    int32_t values[3] = {};
    map = tpl_map("i#", values, 3);
    std::string missing = dir.file("missing.tpl");
    EXPECT_EQ(tpl_load(map, TPL_MODE_FILE, missing.c_str()), -1);
    EXPECT_TRUE(TplRecorder::said("Couldn't open file " + missing + ": No such file or directory\n"));
    EXPECT_TRUE(TplRecorder::said("tpl_load failed for file " + missing + "\n"));
    ASSERT_EQ(tpl_pack(map, 0), 0);
    ASSERT_EQ(tpl_dump(map, TPL_MODE_FILE, name.c_str()), 0);
    tpl_release(map);
    map = tpl_map("i#", values, 2);
    EXPECT_EQ(tpl_load(map, TPL_MODE_FILE, name.c_str()), -1);
    EXPECT_TRUE(TplRecorder::said(name + ": array lengths mismatch\n"));
    tpl_release(map);
    map = tpl_map("u#", values, 3);
    EXPECT_EQ(tpl_load(map, TPL_MODE_FILE, name.c_str()), -1);
    EXPECT_TRUE(TplRecorder::said(name + ": format signature mismatch\n"));
    ASSERT_EQ(truncate(name.c_str(), 20), 0);
    EXPECT_EQ(tpl_load(map, TPL_MODE_FILE, name.c_str()), -1);
    EXPECT_TRUE(TplRecorder::said(name + ": not a valid tpl file\n"));
    tpl_release(map);
}

TEST_F(TplLoad, DescriptorsCarryImagesOneAfterAnother) {
    int pipe1[2];
    ASSERT_EQ(pipe(pipe1), 0);
    int32_t value = 0;
    TplNode* map = tpl_map("i", &value);
    for (value = 1; value <= 2; ++value) {
        ASSERT_EQ(tpl_pack(map, 0), 0);
        ASSERT_EQ(tpl_dump(map, TPL_MODE_DESCRIPTOR, pipe1[1]), 0);
    }
    const char junk[] = "tpl\0\4\0\0\0";
    ASSERT_EQ(write(pipe1[1], junk, 8), 8);
    close(pipe1[1]);
    for (int expected = 1; expected <= 2; ++expected) {
        ASSERT_EQ(tpl_load(map, TPL_MODE_DESCRIPTOR, pipe1[0]), 0);
        ASSERT_EQ(tpl_unpack(map, 0), 1);
        EXPECT_EQ(value, expected);
    }
    // A length shorter than any image is refused before anything is read on.
    EXPECT_EQ(tpl_load(map, TPL_MODE_DESCRIPTOR, pipe1[0]), -1);
    EXPECT_TRUE(TplRecorder::said("tpl_gather_fd_blocking: non-tpl input\n"));
    close(pipe1[0]);
    tpl_release(map);

    // The largest accepted length, and an image cut by the end of input.
    int pipe2[2];
    ASSERT_EQ(pipe(pipe2), 0);
    const char prefixes[] = "tpl\0\100\0\0\0" "tpl\0\100\0\0\0abc";
    ASSERT_EQ(write(pipe2[1], prefixes, 19), 19);
    close(pipe2[1]);
    void* image = nullptr;
    size_t size = 0;
    TplHooks.gather_max = 32;
    EXPECT_EQ(tpl_gather(TPL_GATHER_BLOCKING, pipe2[0], &image, &size), -2);
    EXPECT_TRUE(TplRecorder::said("tpl exceeds max length 32\n"));
    TplHooks.gather_max = 0;
    EXPECT_EQ(tpl_gather(TPL_GATHER_BLOCKING, pipe2[0], &image, &size), 0);
    close(pipe2[0]);
    EXPECT_EQ(tpl_gather(9), -1);
    ASSERT_FALSE(TplRecorder::fatals.empty());
    EXPECT_EQ(TplRecorder::fatals.back(), "unsupported tpl_gather mode 9\n");
}

struct Gathered {
    std::vector<std::vector<char>> images;
    int abortAt = -1;
    static int take(void* image, size_t size, void* data) {
        Gathered* self = static_cast<Gathered*>(data);
        if (static_cast<int>(self->images.size()) == self->abortAt) return -1;
        self->images.emplace_back(static_cast<char*>(image), static_cast<char*>(image) + size);
        return 0;
    }
};

TEST_F(TplLoad, StreamReadersDeliverWholeImages) {
    Samples s;
    std::vector<char> first = s.stateImage();
    std::vector<char> second = s.arrayImage();
    std::vector<char> both = first;
    both.insert(both.end(), second.begin(), second.end());

    // Memory pieces of three bytes.
    Gathered got;
    void* partial = nullptr;
    for (size_t at = 0; at < both.size(); at += 3)
        ASSERT_EQ(tpl_gather(TPL_GATHER_MEMORY, both.data() + at, std::min<size_t>(3, both.size() - at), &partial,
                             Gathered::take, &got),
                  0);
    EXPECT_EQ(partial, nullptr);
    ASSERT_EQ(got.images.size(), 2u);
    EXPECT_EQ(got.images[0], first);
    EXPECT_EQ(got.images[1], second);

    // Refusals: a bad prefix, a callback that stops, an image cut by the end.
    EXPECT_EQ(tpl_gather(TPL_GATHER_MEMORY, "xyz.....", size_t{8}, &partial, Gathered::take, &got), -1);
    EXPECT_TRUE(TplRecorder::said("tpl prefix invalid\n"));
    Gathered stopping;
    stopping.abortAt = 0;
    EXPECT_EQ(tpl_gather(TPL_GATHER_MEMORY, both.data(), both.size(), &partial, Gathered::take, &stopping), -3);
    EXPECT_TRUE(TplRecorder::said("tpl_mem_gather aborted by app callback\n"));
    EXPECT_EQ(tpl_gather(TPL_GATHER_MEMORY, both.data(), size_t{20}, &partial, Gathered::take, &got), 0);
    EXPECT_NE(partial, nullptr);
    EXPECT_EQ(tpl_gather(TPL_GATHER_MEMORY, nullptr, size_t{0}, &partial, Gathered::take, &got), -1);
    EXPECT_TRUE(TplRecorder::said("tpl_gather: partial tpl image precedes EOF\n"));
    EXPECT_EQ(partial, nullptr);

    // A non-blocking descriptor that has half of the second image for now.
    int pipe1[2];
    ASSERT_EQ(pipe(pipe1), 0);
    ASSERT_EQ(fcntl(pipe1[0], F_SETFL, O_NONBLOCK), 0);
    size_t half = first.size() + second.size() / 2;
    ASSERT_EQ(write(pipe1[1], both.data(), half), static_cast<ssize_t>(half));
    Gathered fromPipe;
    EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe1[0], &partial, Gathered::take, &fromPipe), 1);
    EXPECT_EQ(fromPipe.images.size(), 1u);
    EXPECT_NE(partial, nullptr);
    ASSERT_EQ(write(pipe1[1], both.data() + half, both.size() - half), static_cast<ssize_t>(both.size() - half));
    close(pipe1[1]);
    EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe1[0], &partial, Gathered::take, &fromPipe), 0);
    EXPECT_EQ(partial, nullptr);
    ASSERT_EQ(fromPipe.images.size(), 2u);
    EXPECT_EQ(fromPipe.images[1], second);
    close(pipe1[0]);
}

TEST_F(TplLoad, EveryFailedAllocationUnwindsWithoutLeaks) {
    Samples s;
    for (long failAt = 1;; ++failAt) {
        TplRecorder::reset();
        TplRecorder::failAt = failAt;
        fillState(s.state, s.text, s.bytes, 10);
        bool complete = false;
        TplNode* map = mapState(s.state);
        void* image = nullptr;
        size_t size = 0;
        StateRecord out{};
        TplNode* back = mapState(out);
        TplNode* arrays = s.mapArrays();
        if (map && back && arrays && tpl_pack(map, 0) == 0 && tpl_dump(map, TPL_MODE_MEMORY, &image, &size) == 0) {
            if (tpl_load(back, TPL_MODE_MEMORY | TPL_MODE_FREE_IMAGE, image, size) != 0)
                TplRecorder::release(image);
            else if (tpl_unpack(back, 0) == 1) {
                s.name = s.text;
                complete = tpl_pack(arrays, 2) == 0 && tpl_pack(arrays, 1) == 0 && tpl_pack(arrays, 0) == 0 &&
                           tpl_unpack(arrays, 1) == 1;
                if (complete) TplRecorder::release(s.name);
            }
        }
        TplRecorder::release(out.strings[0]);
        TplRecorder::release(out.block.addr);
        tpl_release(map);
        tpl_release(back);
        tpl_release(arrays);
        EXPECT_TRUE(TplRecorder::live.empty()) << "failing allocation " << failAt;
        TplRecorder::live.clear();
        if (TplRecorder::allocations < failAt) {
            EXPECT_TRUE(complete);
            EXPECT_TRUE(TplRecorder::fatals.empty());
            break;
        }
        EXPECT_FALSE(complete) << "failing allocation " << failAt;
        ASSERT_EQ(TplRecorder::fatals.size(), 1u) << "failing allocation " << failAt;
        EXPECT_EQ(TplRecorder::fatals[0], "out of memory\n");
    }
}

TEST_F(TplLoad, GrowthNeverPairsTheStandardReallocWithOtherHooks) {
    TplHooks.realloc = realloc; // malloc and free stay the recorder's offset blocks
    int32_t key = 0;
    char* name = nullptr;
    double value = 0;
    TplBuffer tail{};
    TplNode* map = tpl_map("A(isA(f))B", &key, &name, &value, &tail);
    char text[] = "a name long enough to need several growth steps of the element buffers";
    name = text;
    for (key = 0; key < 300; ++key) ASSERT_EQ(tpl_pack(map, 1), 0);
    ASSERT_EQ(tpl_pack(map, 0), 0);
    std::vector<char> image = dump(map);
    EXPECT_GT(image.size(), 300 * sizeof text);
    tpl_release(map);
}

} // namespace

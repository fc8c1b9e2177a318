// The reader survives damaged input: every truncation of valid files and
// seeded random mutations of sizes, name lengths, type words, imaginary flags
// and text declarations. Every call returns a known code, a failure leaves its
// message, and nothing leaks (checked under the sanitizers).
#include "amat_test_util.h"

#include <string.h>
#include <unistd.h>

#include <random>

using namespace amat_test;

namespace {

std::string validFile(FileFormat format, AmatBinStruct layout) {
    std::string path = tempPath(format == amatBinaryFormat ? "valid.mat" : "valid.txt");
    const int32_t ints[6] = {1, -2, 300, 4, 5, -6};
    const float floats[4] = {0.5f, 1e30f, -2, 3};
    const double doubles[4] = {0.1, 1e300, -7, 8};
    const char* rows[] = {"ab", nullptr, "a\\b\nc"};
    AmatPutFile f;
    EXPECT_EQ(amatPutOpen(path.c_str(), format, layout, "Cls", "1", "robust", &f), 0);
    AmatMatrix ms[] = {view("i", 2, 3, integerMatrix, ints), view("f", 2, 2, realMatrix, floats),
                       view("d", 4, 1, doubleMatrix, doubles), view("s", 3, 0, charMatrix, rows)};
    for (AmatMatrix& m : ms) EXPECT_EQ(amatPutMatrix(&f, &m), 0);
    if (layout == binTrans) {
        const float row[3] = {1, 2, 3};
        EXPECT_EQ(amatPutRinit(&f, "rows", 3, doubleMatrix), 0);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(amatPutRrow(&f, row), 0);
        EXPECT_EQ(amatPutRclose(&f), 0);
    }
    EXPECT_EQ(amatPutClose(&f), 0);
    return readFile(path);
}

// Offsets of the binary headers of a file written by us.
std::vector<size_t> headerOffsets(const std::string& bytes) {
    std::vector<size_t> offsets;
    size_t pos = 0;
    while (pos + 20 <= bytes.size()) {
        int32_t h[5];
        memcpy(h, bytes.data() + pos, 20);
        offsets.push_back(pos);
        size_t size = h[0] == 0 ? 8 : h[0] == 51 ? 1 : 4;
        pos += 20 + static_cast<size_t>(h[4]) + static_cast<size_t>(h[1]) * static_cast<size_t>(h[2]) * size;
    }
    return offsets;
}

// Opens and reads every matrix with varying requests; checks codes and messages.
void readAll(const std::string& path, const char* className, std::mt19937& rng) {
    AmatGetFile f;
    strcpy(amatMessage, "");
    int open = amatGetOpen(path.c_str(), className, nullptr, &f);
    ASSERT_TRUE(open >= 0 && open <= 5) << open;
    if (open != 0) {
        EXPECT_NE(amatMessage[0], '\0');
        EXPECT_EQ(f.fp, nullptr);
        return;
    }
    const AmatType requests[] = {voidMatrix,    voidMatrix, integerMatrix,   realMatrix,
                                 doubleMatrix,  charMatrix, realRowMatrix,   doubleRowMatrix};
    for (int k = 0; k < 64; ++k) {
        AmatMatrix m;
        amatInitMatrix(&m);
        m.type = requests[rng() % 8];
        strcpy(amatMessage, "");
        int r = amatGetMatrix(&f, &m, static_cast<int>(rng() % 4), nullptr, static_cast<int>(rng() % 2));
        ASSERT_TRUE(r >= 0 && r <= 4) << r;
        EXPECT_TRUE(r == 0 || amatMessage[0] != '\0') << "code " << r;
        EXPECT_TRUE(r <= 1 || m.data == nullptr);
        amatFreeMatrix(&m);
        if (r > 1) break;
    }
    amatGetClose(&f);
}

// The many short files of these tests live in memory where that is possible.
std::string scratchPath(const std::string& name) {
    FILE* probe = fopen("/dev/shm/amat_probe", "wb");
    if (probe == nullptr) return tempPath(name);
    fclose(probe);
    remove("/dev/shm/amat_probe");
    std::string path = tempPath(name);
    return "/dev/shm/" + path.substr(path.rfind('/') + 1) + "_" + std::to_string(getpid());
}

struct Form {
    FileFormat format;
    AmatBinStruct layout;
};
const Form forms[] = {{amatBinaryFormat, binNormal}, {amatBinaryFormat, binTrans}, {amatTextFormat, binTrans}};

} // namespace

TEST(AmatRobust, EveryTruncation) {
    std::mt19937 rng(1);
    for (const Form& form : forms) {
        std::string bytes = validFile(form.format, form.layout);
        std::string path = scratchPath("cut");
        for (size_t n = 0; n <= bytes.size(); ++n) {
            writeFile(path, bytes.substr(0, n));
            readAll(path, "Cls", rng);
            readAll(path, "NoClass", rng);
            if (HasFatalFailure()) return;
        }
        remove(path.c_str());
    }
}

TEST(AmatRobust, SeededMutations) {
    std::mt19937 rng(20261209);
    const int32_t interesting[] = {0,  1,  -1, 2,    3,    5,     10,    11,         20,         51,
                                   50, 61, 99, 1000, 4000, 65535, -1000, 0x7fffffff, INT32_MIN, 0x10000};
    const char* numbers[] = {"0", "-1", "-7", "2147483647", "2147483648", "99999999999", "3", "1e9", "", "x"};
    const char alphabet[] = "0123456789-+.eE(),# \n\t\\xcdifnt";
    for (const Form& form : forms) {
        const std::string valid = validFile(form.format, form.layout);
        const std::vector<size_t> headers = headerOffsets(valid);
        std::string path = scratchPath("mut");
        for (int iteration = 0; iteration < 2000; ++iteration) {
            std::string bytes = valid;
            int edits = 1 + static_cast<int>(rng() % 3);
            for (int e = 0; e < edits; ++e) {
                unsigned kind = rng() % 4;
                if (form.format == amatBinaryFormat && kind < 2 && !headers.empty()) {
                    // A header field: type, mrows, ncols, imagf or namlen.
                    size_t at = headers[rng() % headers.size()] + 4 * (rng() % 5);
                    int32_t v = interesting[rng() % (sizeof interesting / sizeof interesting[0])];
                    if (at + 4 <= bytes.size()) memcpy(&bytes[at], &v, 4);
                } else if (form.format == amatTextFormat && kind < 2) {
                    // A size or the name of a declaration.
                    size_t open = bytes.find('(', rng() % bytes.size());
                    if (open == std::string::npos) continue;
                    size_t end = bytes.find_first_of(",)", open + 1);
                    if (end == std::string::npos) continue;
                    if (rng() % 2) end = bytes.find(')', end) == std::string::npos ? end : bytes.find(')', end);
                    bytes.replace(open + 1, end - open - 1, numbers[rng() % 10]);
                } else if (kind == 2 && !bytes.empty()) {
                    bytes[rng() % bytes.size()] = alphabet[rng() % (sizeof alphabet - 1)];
                } else if (!bytes.empty()) {
                    size_t at = rng() % bytes.size();
                    if (rng() % 2) bytes.erase(at, 1 + rng() % 8);
                    else bytes.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]);
                }
            }
            writeFile(path, bytes);
            readAll(path, rng() % 2 ? "Cls" : "NoClass", rng);
            if (HasFatalFailure()) return;
        }
        remove(path.c_str());
    }
}

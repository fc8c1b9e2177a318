// Helpers shared by the matrix file tests.
#pragma once

#include "amat.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string>
#include <vector>

namespace amat_test {

// A fresh path in the test's temporary directory.
inline std::string tempPath(const std::string& name) {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info != nullptr ? std::string(info->test_suite_name()) + "_" + info->name() : "amat";
    for (char& c : test)
        if (c == '/') c = '_';
    return testing::TempDir() + test + "_" + name;
}

inline std::string readFile(const std::string& path) {
    std::string text;
    FILE* fp = fopen(path.c_str(), "rb");
    if (fp == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, fp)) > 0) text.append(buffer, n);
    fclose(fp);
    return text;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    FILE* fp = fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), fp);
    fclose(fp);
}

// Little-endian int32 words of a binary header.
inline std::string header(int32_t type, int32_t mrows, int32_t ncols, int32_t imagf, const char* name) {
    int32_t words[5] = {type, mrows, ncols, imagf, static_cast<int32_t>(std::string(name).size() + 1)};
    return std::string(reinterpret_cast<const char*>(words), sizeof words) + std::string(name) + '\0';
}

// A matrix record over caller storage (not freed).
inline AmatMatrix view(const char* name, int32_t nrow, int32_t ncol, AmatType type, const void* data) {
    AmatMatrix m;
    amatSetMatrix(const_cast<char*>(name), nrow, ncol, type, const_cast<void*>(data), &m);
    return m;
}

// Element (i, j) of any numeric matrix as a double.
inline double element(const AmatMatrix& m, int i, int j) {
    size_t k = static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(m.nrow);
    switch (m.type) {
    case integerMatrix: return static_cast<const int32_t*>(m.data)[k];
    case realMatrix: return static_cast<const float*>(m.data)[k];
    case doubleMatrix: return static_cast<const double*>(m.data)[k];
    case realRowMatrix: return static_cast<float* const*>(m.data)[i][j];
    case doubleRowMatrix: return static_cast<double* const*>(m.data)[i][j];
    default: return -1e300;
    }
}

} // namespace amat_test

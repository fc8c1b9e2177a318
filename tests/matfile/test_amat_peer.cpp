// An independent reader and writer of version 4 files (matio) checks ours:
// it reads what we write and writes files that we must read.
#include "amat_test_util.h"

#include <matio.h>

#include <string.h>

using namespace amat_test;

namespace {

const char* rowsOfText[] = {"one", "", "three"};

struct PeerVar {
    std::string name;
    size_t rows, cols;
    matio_classes cls;
    matio_types type;
    std::vector<double> values;  // column by column; characters as their codes
};

std::vector<PeerVar> readWithPeer(const std::string& path) {
    std::vector<PeerVar> vars;
    mat_t* mat = Mat_Open(path.c_str(), MAT_ACC_RDONLY);
    EXPECT_NE(mat, nullptr);
    if (mat == nullptr) return vars;
    while (matvar_t* v = Mat_VarReadNext(mat)) {
        PeerVar p{v->name != nullptr ? v->name : "", v->dims[0], v->rank > 1 ? v->dims[1] : 1, v->class_type, v->data_type, {}};
        EXPECT_EQ(v->isComplex, 0);
        for (size_t k = 0; k < p.rows * p.cols; ++k) {
            switch (v->data_type) {
            case MAT_T_DOUBLE: p.values.push_back(static_cast<const double*>(v->data)[k]); break;
            case MAT_T_SINGLE: p.values.push_back(static_cast<const float*>(v->data)[k]); break;
            case MAT_T_INT32: p.values.push_back(static_cast<const int32_t*>(v->data)[k]); break;
            case MAT_T_UINT8:
            case MAT_T_UTF8: p.values.push_back(static_cast<const uint8_t*>(v->data)[k]); break;
            default: ADD_FAILURE() << "data type " << v->data_type;
            }
        }
        vars.push_back(p);
        Mat_VarFree(v);
    }
    Mat_Close(mat);
    return vars;
}

// The text of row r of a peer character matrix, trailing NULs and blanks cut.
std::string peerRow(const PeerVar& v, size_t r) {
    std::string row;
    for (size_t p = 0; p < v.cols; ++p) row += static_cast<char>(static_cast<int>(v.values[r + p * v.rows]));
    size_t end = row.find('\0');
    if (end != std::string::npos) row.resize(end);
    while (!row.empty() && row.back() == ' ') row.pop_back();
    return row;
}

} // namespace

TEST(AmatPeer, ReadsWhatWeWriteInBothLayouts) {
    const int32_t ints[6] = {1, -2, 3, -4, 5, -6};
    const float floats[6] = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f};
    const double doubles[6] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    for (AmatBinStruct layout : {binNormal, binTrans}) {
        SCOPED_TRACE(layout);
        std::string path = tempPath("ours.mat");
        AmatPutFile f;
        ASSERT_EQ(amatPutOpen(path.c_str(), amatBinaryFormat, layout, "Cls", "1.0", "peer", &f), 0);
        AmatMatrix ms[] = {view("ints", 2, 3, integerMatrix, ints), view("floats", 2, 3, realMatrix, floats),
                           view("doubles", 2, 3, doubleMatrix, doubles), view("text", 3, 0, charMatrix, rowsOfText)};
        for (AmatMatrix& m : ms) ASSERT_EQ(amatPutMatrix(&f, &m), 0);
        ASSERT_EQ(amatPutClose(&f), 0);
        std::vector<PeerVar> vars = readWithPeer(path);
        ASSERT_EQ(vars.size(), 5u);
        EXPECT_EQ(vars[0].name, "Aclass");
        EXPECT_EQ(vars[0].cls, MAT_C_CHAR);
        ASSERT_EQ(vars[0].rows, 4u);  // the class matrix is never transposed
        EXPECT_EQ(peerRow(vars[0], 0), "Cls");
        EXPECT_EQ(peerRow(vars[0], 3), layout == binTrans ? "binTrans" : "binNormal");
        // The peer delivers every numeric matrix as doubles.
        const void* data[] = {ints, floats, doubles};
        for (int k = 0; k < 3; ++k) {
            const PeerVar& v = vars[static_cast<size_t>(k) + 1];
            EXPECT_EQ(v.name, ms[k].name);
            EXPECT_EQ(v.cls, MAT_C_DOUBLE);
            ASSERT_EQ(v.rows, layout == binTrans ? 3u : 2u);
            ASSERT_EQ(v.cols, layout == binTrans ? 2u : 3u);
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 3; ++j) {
                    size_t stored = layout == binTrans ? static_cast<size_t>(j + 3 * i) : static_cast<size_t>(i + 2 * j);
                    AmatMatrix m = view("x", 2, 3, ms[k].type, data[k]);
                    EXPECT_EQ(v.values[stored], element(m, i, j)) << v.name;
                }
        }
        const PeerVar& text = vars[4];
        EXPECT_EQ(text.cls, MAT_C_CHAR);
        if (layout == binNormal) {
            ASSERT_EQ(text.rows, 3u);
            for (size_t r = 0; r < 3; ++r) EXPECT_EQ(peerRow(text, r), rowsOfText[r]);
        } else {
            ASSERT_EQ(text.cols, 3u);  // transposed: one stored column per row
            EXPECT_EQ(text.rows, 5u);
        }
    }
}

TEST(AmatPeer, WeReadWhatThePeerWrites) {
    std::string path = tempPath("peer.mat");
    mat_t* mat = Mat_CreateVer(path.c_str(), nullptr, MAT_FT_MAT4);
    ASSERT_NE(mat, nullptr);
    size_t dims[2] = {2, 3};
    double d[6] = {1.25, -2, 3, 4, 5e300, 6};
    float s[6] = {1, 2, 3, 4, 5, 6.5f};
    int32_t n[6] = {-1, 2, -3, 4, -5, 6};
    size_t textDims[2] = {2, 4};
    uint8_t text[8] = {'a', 'w', 'b', 'x', 'c', 'y', ' ', 'z'};  // "abc " and "wxyz"
    struct {
        const char* name;
        matio_classes cls;
        matio_types type;
        size_t* dims;
        void* data;
    } vars[] = {{"d", MAT_C_DOUBLE, MAT_T_DOUBLE, dims, d}, {"s", MAT_C_SINGLE, MAT_T_SINGLE, dims, s},
                {"n", MAT_C_INT32, MAT_T_INT32, dims, n}, {"t", MAT_C_CHAR, MAT_T_UINT8, textDims, text}};
    for (auto& v : vars) {
        matvar_t* var = Mat_VarCreate(v.name, v.cls, v.type, 2, v.dims, v.data, 0);
        ASSERT_NE(var, nullptr);
        EXPECT_EQ(Mat_VarWrite(mat, var, MAT_COMPRESSION_NONE), 0) << v.name;
        Mat_VarFree(var);
    }
    Mat_Close(mat);

    AmatGetFile f;
    ASSERT_EQ(amatGetOpen(path.c_str(), "NoClass", nullptr, &f), 0) << amatMessage;
    const AmatType types[] = {doubleMatrix, realMatrix, integerMatrix};
    const void* data[] = {d, s, n};
    for (int k = 0; k < 3; ++k) {
        AmatMatrix m;
        amatInitMatrix(&m);
        ASSERT_EQ(amatGetNextMatrix(&f, &m), 0) << amatMessage;
        EXPECT_STREQ(m.name, vars[k].name);
        EXPECT_EQ(m.type, types[k]);
        ASSERT_EQ(m.nrow, 2);
        ASSERT_EQ(m.ncol, 3);
        AmatMatrix expected = view("x", 2, 3, types[k], data[k]);
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 3; ++j) EXPECT_EQ(element(m, i, j), element(expected, i, j));
        amatFreeMatrix(&m);
    }
    AmatMatrix t;
    amatInitMatrix(&t);
    ASSERT_EQ(amatGetNextMatrix(&f, &t), 0) << amatMessage;
    ASSERT_EQ(t.type, charMatrix);
    ASSERT_EQ(t.nrow, 2);
    EXPECT_STREQ(static_cast<char**>(t.data)[0], "abc");
    EXPECT_STREQ(static_cast<char**>(t.data)[1], "wxyz");
    EXPECT_EQ(t.ncol, 4);
    amatFreeMatrix(&t);
    EXPECT_EQ(amatGetNextMatrix(&f, &t), 3);
    amatGetClose(&f);
}

// Trajectory result files: creating, freeing and writing the trajectory
// record, whole or with one data matrix written row by row.
#include "atraj.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "amat_internal.h"
#include "locale_c.h"

namespace {

const char kNullPointer[] = "Unexpected null-pointer";
const char kNoStorage[] = "Not possible to allocate enough storage for a trajectory:\n%.400s\n";
const char kMustBeNonNegative[] = "Input argument %.400s=%d of function %.400s must be >= 0.\n";

// Text written before "dataInfo" in a text file: how to read its four columns.
const char kDataInfoComment[] =
    "\n# Matrix with 4 columns defining the data of the signals:\n#\n"
    "# dataInfo(i,1)=    j: name i data is stored in matrix \"data_j\".\n"
    "#                      (1,1)=0, means that name(1) is used as abscissa\n"
    "#                      for ALL data matrices!\n#\n"
    "# dataInfo(i,2)=    k: name i data is stored in column abs(k) of matrix\n"
    "#                      data_j with sign(k) used as sign.\n#\n"
    "# dataInfo(i,3)=    0: Linear interpolation of the column data\n"
    "#              = 1..4: Piecewise convex hermite spline interpolation\n"
    "#                      of the column data. Curve is differentiable upto\n"
    "#                      order 1..4. The spline is defined by a polygon.\n"
    "#                      It touches the polygon in the middle of every segment\n"
    "#                      and at the beginning and final point. Between such\n"
    "#                      points the spline is convex. The polygon is also the\n"
    "#                      convex envelope of the spline.\n#\n"
    "# dataInfo(i,4)=   -1: name i is not defined outside of the defined time range\n"
    "#              =    0: Keep first/last value outside of time range\n"
    "#              =    1: Linear interpolation through first/last two points outside\n"
    "#                      of time range.\n#";

AmatType precisionType(int precision) {
    static const AmatType types[] = {realMatrix, doubleMatrix, realRowMatrix, doubleRowMatrix};
    return types[precision];
}

// Closes a file after a failure without replacing the failure's message.
void closeAfterFailure(AmatPutFile* file) {
    if (file == nullptr) return;
    char saved[AMAT_MESSAGE_SIZE];
    memcpy(saved, amatMessage, sizeof saved);
    amatPutClose(file);
    memcpy(amatMessage, saved, sizeof saved);
}

// Writes data matrices first..last-1 whole; 0 or 1.
int putDataMatrices(AmatPutFile* file, const Atrajectory* traj, int32_t first, int32_t last) {
    for (int32_t m = first; m < last; ++m)
        if (amatPutMatrix(file, &traj->data[m]) != 0) return 1;
    return 0;
}

// The rows of "name" label the rows of "dataInfo" in a text file, when there
// is one name for every row.
const char* const* dataInfoRowNames(const Atrajectory* traj) {
    if (traj->name.type != charMatrix || traj->name.data == nullptr || traj->name.nrow < traj->info.nrow)
        return nullptr;
    return static_cast<const char* const*>(traj->name.data);
}

} // namespace

extern "C" int atrajInit(Atrajectory* traj, int32_t nData, int precision) {
    if (traj == nullptr) return 0;
    traj->magic = atrajMagic;
    traj->descriptionText = nullptr;
    traj->data = nullptr;
    traj->nData = 0;
    amatInitMatrix(&traj->name);
    amatInitMatrix(&traj->description);
    amatInitMatrix(&traj->info);
    if (nData < 0) {
        amatSetMessage(kMustBeNonNegative, "nData", nData, "atrajInit");
        return 1;
    }
    char* name = amatCopyText("name");
    char* description = amatCopyText("description");
    char* info = amatCopyText("dataInfo");
    amatSetMatrix(name, 0, 0, charMatrix, nullptr, &traj->name);
    amatSetMatrix(description, 0, 0, charMatrix, nullptr, &traj->description);
    amatSetMatrix(info, 0, 4, integerMatrix, nullptr, &traj->info);
    if (name == nullptr || description == nullptr || info == nullptr) {
        amatSetMessage(kNoStorage, strerror(errno));
        atrajFree(traj);
        return 1;
    }
    if (atrajResize(traj, nData, precision) != 0) {
        atrajFree(traj);
        return 1;
    }
    return 0;
}

extern "C" int atrajResize(Atrajectory* traj, int32_t nDataNew, int precision) {
    if (traj == nullptr) {
        amatSetMessage(kNullPointer);
        return 1;
    }
    if (precision < atrajFloat || precision > atrajDoubleRows) {
        amatSetMessage("Input argument %.400s=%d of function %.400s must be 0, 1, 2 or 3.\n", "precision", precision,
                       "atrajResize");
        return 1;
    }
    if (nDataNew == 0) return 0;
    if (nDataNew < 0) {
        amatSetMessage(kMustBeNonNegative, "nDataNew", nDataNew, "atrajResize");
        return 1;
    }
    if (traj->nData != 0) {
        amatSetMessage("traj->nData (=%d) of function %.400s must be zero.\n", traj->nData, "atrajResize");
        return 1;
    }
    AmatMatrix* data = static_cast<AmatMatrix*>(calloc(static_cast<size_t>(nDataNew), sizeof(AmatMatrix)));
    if (data == nullptr) {
        amatSetMessage(kNoStorage, strerror(errno));
        return 1;
    }
    for (int32_t m = 0; m < nDataNew; ++m) {
        char name[24];
        snprintf_C(name, sizeof name, "data_%d", m + 1);
        char* copy = amatCopyText(name);
        if (copy == nullptr) {
            amatSetMessage(kNoStorage, strerror(errno));
            for (int32_t k = 0; k < m; ++k) free(data[k].name);
            free(data);
            return 1;
        }
        amatSetMatrix(copy, 0, 0, precisionType(precision), nullptr, &data[m]);
    }
    traj->data = data;
    traj->nData = nDataNew;
    return 0;
}

extern "C" void atrajFree(Atrajectory* traj) {
    if (traj == nullptr) return;
    free(traj->descriptionText);
    traj->descriptionText = nullptr;
    amatFreeMatrix(&traj->name);
    amatFreeMatrix(&traj->description);
    amatFreeMatrix(&traj->info);
    if (traj->data != nullptr)
        for (int32_t m = 0; m < traj->nData; ++m) amatFreeMatrix(&traj->data[m]);
    free(traj->data);
    traj->data = nullptr;
    traj->nData = 0;
}

extern "C" int atrajPutOpen(const char* fileName, Atrajectory* traj, int32_t rowIndex, FileFormat format,
                            AmatPutFile* file) {
    if (traj == nullptr) {
        amatSetMessage(kNullPointer);
        return 1;
    }
    if (amatPutOpen(fileName, format, rowIndex >= 0 ? binTrans : binNormal, "Atrajectory", "1.1",
                    traj->descriptionText, file) != 0)
        return 1;
    if (amatPutMatrix(file, &traj->name) != 0 || amatPutMatrix(file, &traj->description) != 0 ||
        amatPutMatrixComment(file, &traj->info, kDataInfoComment, dataInfoRowNames(traj), 4) != 0) {
        closeAfterFailure(file);
        return 1;
    }
    // A 2-row data matrix written next records where its second time goes,
    // so that it can be put in later.
    if (rowIndex > 0 && rowIndex < traj->nData) file->patchState = 1;
    const bool whole = rowIndex < 0 || rowIndex >= traj->nData;
    if (putDataMatrices(file, traj, 0, whole ? traj->nData : rowIndex) != 0) {
        closeAfterFailure(file);
        return 1;
    }
    if (whole) return amatPutClose(file) == 0 ? 0 : 1;
    const AmatMatrix& rows = traj->data[rowIndex];
    if (amatPutRinit(file, rows.name, rows.ncol, rows.type) != 0) {
        closeAfterFailure(file);
        return 1;
    }
    return 0;
}

extern "C" int atrajPutRow(AmatPutFile* file, const float* row) { return amatPutRrow(file, row); }

extern "C" int atrajPutClose(AmatPutFile* file, Atrajectory* traj, int32_t rowIndex) {
    if (traj == nullptr) {
        amatSetMessage(kNullPointer);
        closeAfterFailure(file);
        return 1;
    }
    if (rowIndex < 0 || rowIndex >= traj->nData) {
        amatSetMessage("Input argument %.400s=%d of function %.400s must be >= 0 and < nData (=%d).\n", "rowIndex",
                       rowIndex, "atrajPutClose", traj->nData);
        closeAfterFailure(file);
        return 1;
    }
    if (amatPutRclose(file) != 0 || putDataMatrices(file, traj, rowIndex + 1, traj->nData) != 0) {
        closeAfterFailure(file);
        return 1;
    }
    // The matrices up to the row-wise one are on file: release their
    // contents, keeping each one's name.
    for (int32_t m = 0; m <= rowIndex; ++m) {
        AmatMatrix& matrix = traj->data[m];
        char* name = matrix.name;
        matrix.name = nullptr;
        amatFreeMatrix(&matrix);
        matrix.name = name;
    }
    return amatPutClose(file) == 0 ? 0 : 1;
}

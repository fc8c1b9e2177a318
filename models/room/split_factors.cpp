// Split factors of a thermal zone: the share of a heat flow that each
// surface of the zone receives, per orientation, from the surface areas.
#include "room_model.h"
#include "runtime.h"
#include "thread_context.h"

static const char kSplitFacVal[] = "Ostrane.ThermalZones.ReducedOrder.RC.BaseClasses.splitFacVal";

RealArray splitFacVal(int nRow, int nCol, RealArray AArray, RealArray AExt, RealArray AWin) {
    FunctionFrame frame;
    pushFunctionFrame(&frame, kSplitFacVal);
    RuntimeAssert(AExt.ndims == 1 && AExt.dims[0] == nCol, "size(AExt, 1) == nCol",
                  "Dimension check of input to function failed");
    RuntimeAssert(AWin.ndims == 1 && AWin.dims[0] == nCol, "size(AWin, 1) == nCol",
                  "Dimension check of input to function failed");

    // The result belongs to the caller's scratch: it is allocated before this
    // function's own mark, so releasing the temporaries leaves it in place.
    RealArray result = RealConstruct(2, nRow, nCol);
    const SavedMarks marks = PushMark();
    RealFill(result, 0.0);
    const double ATot = RealSum(AArray);
    ReleaseToMark();

    const int n = RealNrElements(AArray);
    int row = 1;
    for (int k = 1; k <= n; ++k) {
        const double A = AArray.data[k - 1];
        if (!(A > 0)) continue;
        for (int col = 1; col <= nCol; ++col) {
            const SavedMarks branch = PushMark();
            const double AWall = AExt.data[col - 1];
            const double denominator = ATot - AWall - RealGetElement(AWin, col);
            double value;
            if (k == 1) {
                const double numerator = A - AWall;
                value = denominator != 0 ? numerator / denominator
                                         : divisionByZero("A-AWall", numerator, "ATot-AWall-AWin[k]", denominator);
            } else if (k == 2) {
                const double numerator = A - RealGetElement(AWin, col);
                value = denominator != 0 ? numerator / denominator
                                         : divisionByZero("A-AWin[k]", numerator, "ATot-AWall-AWin[k]", denominator);
            } else {
                value = denominator != 0 ? A / denominator
                                         : divisionByZero("A", A, "ATot-AWall-AWin[k]", denominator);
            }
            RealSetElement(value, result, row, col);
            PopMark(branch);
        }
        ++row;
    }

    PopMark(marks);
    popFunctionFrame(&frame);
    return result;
}

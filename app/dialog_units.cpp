#include "app/dialog_units.h"

#include <limits>

namespace app {

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) {
        return 0;
    }
    long long product = static_cast<long long>(number) * numerator;
    long long divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const long long half = divisor / 2;
    const long long result =
        product >= 0 ? (product + half) / divisor : -((-product + half) / divisor);
    if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min()) {
        return -1;
    }
    return static_cast<int>(result);
}

int AverageCharWidthFromAlphabet(int alphabetWidth) {
    return (alphabetWidth / 26 + 1) / 2;
}

int DialogUnitsToPixelsX(int x, const DialogFontMetrics& metrics) {
    return MulDiv(x, metrics.averageCharWidth, 4);
}

int DialogUnitsToPixelsY(int y, const DialogFontMetrics& metrics) {
    return MulDiv(y, metrics.charHeight, 8);
}

LayoutRect MapDialogRect(const DialogRect& rect, const DialogFontMetrics& metrics) {
    return LayoutRect{DialogUnitsToPixelsX(rect.x, metrics), DialogUnitsToPixelsY(rect.y, metrics),
                      DialogUnitsToPixelsX(rect.x + rect.width, metrics),
                      DialogUnitsToPixelsY(rect.y + rect.height, metrics)};
}

}  // namespace app

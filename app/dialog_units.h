// Dialog units: the template coordinates of the main window, scaled by the dialog font.
// A horizontal unit is a quarter of the font's average character width, a vertical unit an
// eighth of its character height.
#pragma once

#include <cstdint>

namespace app {

// The two base units of a dialog font, in pixels.
struct DialogFontMetrics {
    int averageCharWidth = 0;
    int charHeight = 0;
};

// A rectangle by its edges; right and bottom lie just outside it.
struct LayoutRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

// A rectangle of a dialog template: position and size in dialog units.
struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// number * numerator / denominator, rounded half away from zero; 0 when denominator is 0 and
// -1 when the result does not fit in an int.
int MulDiv(int number, int numerator, int denominator);

// The average character width from the width of the 52 letters "A".."Z", "a".."z" set in the
// font: half the width of two letters, rounded.
int AverageCharWidthFromAlphabet(int alphabetWidth);

int DialogUnitsToPixelsX(int x, const DialogFontMetrics& metrics);
int DialogUnitsToPixelsY(int y, const DialogFontMetrics& metrics);

// Converts each edge of a template rectangle, so that adjacent controls stay adjacent.
LayoutRect MapDialogRect(const DialogRect& rect, const DialogFontMetrics& metrics);

}  // namespace app

// Twips (1/1440 inch), the unit the form's layout is designed in, and the screen's pixels.
#pragma once

#include <windows.h>

namespace qp::ui {

double TwipsPerPixelX();
double TwipsPerPixelY();
int Pixels(double twips, double twipsPerPixel);

// A control's place in its parent's client area, in twips.
struct TwipRect {
  double left, top, width, height;
};
TwipRect ControlTwips(HWND control);

// A Long of the form's arithmetic: Overflow (6) past its range.
long CheckedLong(long long value);

// Sizes a form so that its client area ends 165 twips right of the right-edge control and below
// the bottom-edge control (the right-edge control when there is none).
void SizeFormToControl(HWND form, HWND rightEdge, HWND bottomEdge = nullptr);

// Grows a label to its text, as a Visual Basic label with AutoSize does. The font's pixel size
// is rounded at each DPI setting and its glyphs hinted, so the text does not scale exactly with
// the twips of the layout: at 144 DPI "Included Terms:" needs more than its designed width.
void GrowToText(HWND label, HFONT font);

}  // namespace qp::ui

#include "ui/twips.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "platform/error.h"
#include "platform/product.h"

namespace qp::ui {
using namespace qp::platform;
namespace {

inline constexpr int kFormMargin = 165;  // twips right of and below the edge controls

double TwipsPerPixel(int axis) {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, axis) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return 1440.0 / (dpi > 0 ? dpi : 96);
}

}  // namespace

double TwipsPerPixelX() {
  return TwipsPerPixel(LOGPIXELSX);
}
double TwipsPerPixelY() {
  return TwipsPerPixel(LOGPIXELSY);
}

int Pixels(double twips, double twipsPerPixel) {
  return static_cast<int>(std::lround(twips / twipsPerPixel));
}

TwipRect ControlTwips(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  const double x = TwipsPerPixelX(), y = TwipsPerPixelY();
  return {r.left * x, r.top * y, (r.right - r.left) * x, (r.bottom - r.top) * y};
}

long CheckedLong(long long value) {
  if (value < std::numeric_limits<LONG>::min() || value > std::numeric_limits<LONG>::max())
    Raise({kErrOverflow, kLibraryName, L"Overflow"});
  return static_cast<long>(value);
}

void SizeFormToControl(HWND form, HWND rightEdge, HWND bottomEdge) {
  if (!bottomEdge) bottomEdge = rightEdge;
  const TwipRect right = ControlTwips(rightEdge), bottom = ControlTwips(bottomEdge);
  const long frameX = CheckedLong(2LL * GetSystemMetrics(SM_CXDLGFRAME));
  const long frameY =
      CheckedLong(2LL * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION));
  const float width =
      static_cast<float>(right.left + right.width + kFormMargin + frameX * TwipsPerPixelX());
  const float height =
      static_cast<float>(bottom.top + bottom.height + kFormMargin + frameY * TwipsPerPixelY());
  SetWindowPos(form, nullptr, 0, 0, Pixels(width, TwipsPerPixelX()),
               Pixels(height, TwipsPerPixelY()), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void GrowToText(HWND label, HFONT font) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(label)), L'\0');
  GetWindowTextW(label, text.data(), static_cast<int>(text.size()) + 1);
  HDC dc = GetDC(label);
  const HGDIOBJ previous = SelectObject(dc, font);
  RECT needed = {};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  RECT now;
  GetClientRect(label, &now);
  if (needed.right <= now.right && needed.bottom <= now.bottom) return;
  SetWindowPos(label, nullptr, 0, 0, std::max(now.right, needed.right),
               std::max(now.bottom, needed.bottom), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace qp::ui

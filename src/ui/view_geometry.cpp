// The fitted side is computed in extended precision from the double aspect
// and truncated; a double product could round up to the next integer where
// the extended one stays just below it (a 1000 x 3 picture 3 pixels high is
// 999 pixels wide, not 1000).
#include "ui/view_geometry.h"

#include "imaging/pixel_access.h"

TRect DisplayRect(int pw, int ph, int cw, int ch) {
  if (pw <= 0 || ph <= 0) return {0, 0, cw, ch};
  const double aspect = double(pw) / double(ph);
  const auto byWidth = [&](int width) { return int(Extended(width) / Extended(aspect)); };
  const auto byHeight = [&](int height) { return int(Extended(height) * Extended(aspect)); };
  int w, h;
  if (ph < pw) {  // landscape: fit the width first
    w = cw;
    h = byWidth(cw);
    if (h > ch) {
      h = ch;
      w = byHeight(ch);
    }
  } else {  // square or upright: fit the height first
    h = ch;
    w = byHeight(ch);
    if (w > cw) {
      w = cw;
      h = byWidth(cw);
    }
  }
  const int left = (cw - w) / 2;
  const int top = (ch - h) / 2;
  return {left, top, left + w, top + h};
}

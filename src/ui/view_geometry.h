// Where a view draws its picture: stretched to fit the control, keeping its
// aspect ratio, centred; small pictures are enlarged too. No Qt here, so
// the rule can be checked on its own.
#pragma once

#include "imaging/bitmap.h"

// The rectangle (right and bottom exclusive) in a control of cw x ch that
// shows a picture of pw x ph. The aspect is a double; the fitted side is
// truncated; the offsets are integer halves of what is left. A picture with
// a side of 0 is stretched over the whole control.
TRect DisplayRect(int pw, int ph, int cw, int ch);

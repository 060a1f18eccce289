// Which source frames a run keeps, and where each lands in the output.
// Everything depends on the frame's number in the whole source alone, so a
// clip cut into pieces (--frames 0-99, --frames 100-199, ...) gives, piece
// by piece, exactly the frames (and frame numbers) of one whole run.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

struct FrameSelection {
  // --speed as thousandths (1000 plays at the source's pace): output frame
  // k is source frame ceil(k * speed), so frames are dropped evenly.
  std::int64_t speedMilli = 1000;
  // --every N: of the frames the speed keeps, one in N (the stop-motion
  // look; the timing stays the source's).
  std::int64_t every = 1;
  // The cut: frame numbers first .. last and times start <= t < end.
  std::int64_t first = 0;
  std::int64_t last = std::numeric_limits<std::int64_t>::max();
  double start = 0;
  double end = std::numeric_limits<double>::infinity();

  // The output frame number of source frame `index`, or nothing when the
  // speed or --every drops it (the cut is not looked at).
  std::optional<std::int64_t> OutputIndex(std::int64_t index) const {
    // The first output frame past source frame index - 1 ...
    const std::int64_t k = index == 0 ? 0 : (index - 1) * 1000 / speedMilli + 1;
    // ... is this frame only when it does not lie further on.
    if ((k * speedMilli + 999) / 1000 != index) return std::nullopt;
    if (k % every != 0) return std::nullopt;
    return k / every;
  }
  bool InCut(std::int64_t index, double seconds) const {
    return index >= first && index <= last && seconds >= start && seconds < end;
  }
  bool PastCut(std::int64_t index, double seconds) const { return index > last || seconds >= end; }
  // Timing stays the source's, so the audio can be copied.
  bool KeepsTiming() const { return speedMilli == 1000; }
};

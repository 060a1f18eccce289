#include "engine/lens.h"

#include <algorithm>
#include <cmath>

#include "imaging/pixel_access.h"
#include "imaging/resample.h"
#include "imaging/rotation.h"

namespace {

// A grey map as (v, v, v) through the toolkit's conversion, whatever its
// palette; the conversion back gives each colour its rounded grey (white
// stays 255).
TBitmap Wide(const TBitmap& grey) {
  TBitmap wide = grey;
  SetGrayPalette(wide);
  wide.SetPixelFormat(pf24bit);
  return wide;
}

}  // namespace

TBitmap GreyMap(const TBitmap& picture, int width, int height) {
  TBitmap wide = picture.PixelFormat() == pf8bit ? Wide(picture) : picture;
  if (wide.PixelFormat() != pf24bit) wide.SetPixelFormat(pf24bit);
  if (width > 0 && height > 0 && (width != wide.Width() || height != wide.Height()))
    BmpResize(wide, width, height, rmBilinear);
  wide.SetPixelFormat(pf8bit);
  return wide;
}

void TurnGreyMap(TBitmap& map, bool plus) {
  if (map.Width() == 0 || map.Height() == 0) return;
  TBitmap wide = Wide(map);
  ::Rotate90(wide, plus);
  wide.SetPixelFormat(pf8bit);
  map = std::move(wide);
}

LensMaps TLensMapCache::For(const TBitmap& protect, const TBitmap& depth, int width, int height) {
  LensMaps maps;
  if (depth.Width() > 0 && depth.Height() > 0) maps.depth = &depth;
  if (protect.Width() > 0 && protect.Height() > 0) {
    if (source_.PixelsId() != protect.PixelsId() || fitted_.Width() != width || fitted_.Height() != height) {
      fitted_ = GreyMap(protect, width, height);
      source_ = protect;
    }
    maps.protect = &fitted_;
  }
  return maps;
}

double LensFullRadius(int width, int height, int blur) {
  return blur / 20.0 * 0.015 * std::hypot(double(width), double(height));
}

LensRadius::LensRadius(int width, int height, const Look& look, const TBitmap* depth)
    : width_(width),
      height_(height),
      columns_(width),
      shape_(look.shape),
      full_(LensFullRadius(width, height, look.blur)) {
  const FocusSettings focus = look.FocusFor(width, height);
  const TPoint point = look.PointFor(width, height);
  const MaskGeometry g = ComputeMaskGeometry(width, height, point, focus);
  // In extended precision, as the mask turns: the same on every machine.
  const Extended angle = Extended(look.angle) * kDegToRad;
  sin_ = double(ExtSin(angle)), cos_ = double(ExtCos(angle));
  centreX_ = width / 2.0 + (point.X - focus.viewWidth / 2.0) / g.ratio;
  centreY_ = height / 2.0 + (point.Y - focus.viewHeight / 2.0) / g.ratio;
  offset_ = g.perpendicular;
  half_ = g.depth;
  aspect_ = look.aspect;
  above_ = g.slope1, below_ = g.slope2;
  if (depth != nullptr && depth->Width() > 0 && depth->Height() > 0) {
    depth_ = depth;
    focusDepth_ = DepthAt(std::clamp(centreX_, 0.0, width - 1.0), std::clamp(centreY_, 0.0, height - 1.0));
    sharp_ = look.depth / 600.0;
    far_ = 0.7 * sharp_ + SlopeFactor(look.slope);
    near_ = far_ / 2;
  }
}

double LensRadius::DepthAt(double x, double y) const {
  const double fx = std::clamp((x + 0.5) * depth_->Width() / width_ - 0.5, 0.0, depth_->Width() - 1.0);
  const double fy = std::clamp((y + 0.5) * depth_->Height() / height_ - 0.5, 0.0, depth_->Height() - 1.0);
  const int x0 = int(fx), y0 = int(fy);
  const int x1 = std::min(x0 + 1, depth_->Width() - 1), y1 = std::min(y0 + 1, depth_->Height() - 1);
  const double ax = fx - x0, ay = fy - y0;
  const std::uint8_t *r0 = depth_->ScanLine(y0), *r1 = depth_->ScanLine(y1);
  const double top = r0[x0] + ax * (r0[x1] - r0[x0]);
  const double bottom = r1[x0] + ax * (r1[x1] - r1[x0]);
  return (top + ay * (bottom - top)) / 255;
}

namespace {

// The radius `distance` past the sharp area's edge over a ramp of `ramp`.
double Ramp(double distance, double ramp, double full) {
  if (distance <= 0) return 0;
  return ramp > 0 ? full * std::min(1.0, distance / ramp) : full;
}

}  // namespace

void LensRadius::Row(int y, float* out) const {
  const double py = y0_ + y + 0.5;
  if (depth_ == nullptr && shape_ == LensShape::Band) {
    // The distance from the middle line changes by -sin a column.
    const double first = -(x0_ + 0.5 - width_ / 2.0) * sin_ + (py - height_ / 2.0) * cos_ - offset_;
    for (int x = 0; x < columns_; ++x) {
      const double s = first - x * sin_;
      out[x] = float(Ramp(std::abs(s) - half_, s < 0 ? above_ : below_, full_));
    }
    return;
  }
  for (int x = 0; x < columns_; ++x) {
    const double px = x0_ + x + 0.5;
    double r;
    if (depth_ != nullptr) {
      const double d = DepthAt(x0_ + x, y0_ + y) - focusDepth_;
      r = Ramp(std::abs(d) - sharp_, d > 0 ? near_ : far_, full_);
    } else {
      const double dx = px - centreX_, dy = py - centreY_;
      const double u = dx * cos_ + dy * sin_, v = -dx * sin_ + dy * cos_;
      const double b = std::max(half_, 0.5), a = b * aspect_;
      const double rho = std::hypot(u / a, v / b);
      if (rho <= 1) {
        r = 0;
      } else {
        const double down = (v / (rho * b) + 1) / 2;  // 0 at the top, 1 at the bottom
        r = Ramp((rho - 1) * b, above_ + (below_ - above_) * down, full_);
      }
    }
    out[x] = float(r);
  }
}

void LensMiniature(const TBitmap& toned, const Look& look, const LensMaps& maps, TBitmap& target) {
  const LensRadius radius(toned.Width(), toned.Height(), look, maps.depth);
  TLensBlurInput input;
  input.radius = [&radius](int y, float* out) { radius.Row(y, out); };
  input.maxRadius = radius.Full();
  input.protect = maps.protect;
  input.bokeh = look.bokeh;
  LensBlur(toned, input, target);
}

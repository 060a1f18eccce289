// The miniature effect's working state and the only code that changes it:
// the chain of working pictures, the photo's metadata, the tone settings
// last applied and the unsaved-changes flag.
//
// Content flows one way: OriginalBMP (as loaded) -> ResizedBMP (after
// quarter turns and resampling) -> ModifiedBMP (with the tone settings)
// -> TargetBMP (plain toned, or the miniature composition). Each stage is
// rebuilt from the one before, so settings never accumulate.
//
// The state is read through the const accessors and changed only by the
// operations below. Each operation either completes or, when it throws,
// leaves every picture, setting and flag as it was: the new pictures are
// made aside (pixels are shared copy-on-write, so that costs no copies) and
// put in place together. The engine takes control values as plain inputs;
// showing pictures is the caller's job.
//
// The engine keeps a history of the chain for Undo and Redo: each of the
// tone and miniature "Apply", the quarter turns and the resize records the
// chain before it. The history keeps at most kHistorySteps steps, and drops
// its oldest ones while the pixels only it holds pass kHistoryBytes (a
// picture shared with the current chain or with another step is counted
// once); the step before the last command is always kept. A newly read
// picture starts a new history.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "codecs/metadata.h"
#include "codecs/picture_io.h"
#include "engine/focus_mask.h"
#include "engine/lens.h"
#include "engine/look.h"
#include "engine/settings.h"
#include "imaging/bitmap.h"
#include "imaging/resample.h"

// The tone settings last applied.
struct RECEFFECT {
  bool Applied = false;
  int Saturation = 0;
  int Contrast = 0;
  int Brightness = 0;
};

// The focus mask last built through it, with what it was built from: a run
// of pictures of one size and one focus (the frames of a video) builds its
// mask once. The mask depends only on the picture's size, the focus point
// and the focus settings; the blur and the tone settings do not enter it.
class TFocusMaskCache {
 public:
  // The mask for a picture of width x height (what CreateMaskBMP makes),
  // built when any of those differ from the last call's. Throws what
  // CreateMaskBMP throws; the next call then builds the mask afresh.
  const TBitmap& Mask(int width, int height, TPoint point, const FocusSettings& focus,
                      MaskGeometry& geometry);

 private:
  bool built_ = false;
  int width_ = 0, height_ = 0;
  TPoint point_;
  FocusSettings focus_;
  TBitmap mask_{0, 0, pf8bit};
  MaskGeometry geometry_;
};

// How the result is written.
struct TSaveOptions {
  int quality = kDefaultJpegQuality;  // of a JPEG file, 1 to 100
  bool keepMetadata = true;           // camera data, location and colour profile of the photo
};

class MiniatureEngine {
 public:
  // ---- Reading the state ----
  const TBitmap& OriginalBMP() const { return chain_.original; }
  const TBitmap& ResizedBMP() const { return chain_.resized; }
  const TBitmap& ModifiedBMP() const { return chain_.modified; }
  const TBitmap& TargetBMP() const { return chain_.target; }
  const TBitmap& MaskBMP() const { return chain_.mask; }
  const RECEFFECT& Effect() const { return chain_.effect; }
  // There are changes that have not been saved.
  bool Modified() const { return chain_.modifiedFlag; }
  // Half-width of the band in picture pixels, as the last composition made it.
  int MaskDepth() const { return chain_.maskDepth; }
  // The camera data and colour profile of the picture as read: kept through
  // turns and resizes, and saved with it.
  const TPictureMetadata& Metadata() const { return metadata_; }
  // The lens look's protect mask (8-bit, ModifiedBMP's size; white keeps
  // sharp) and depth map (8-bit, any size; white is near), each empty when
  // there is none, and whether the depth map came with the photo.
  const TBitmap& Protection() const { return chain_.protect; }
  const TBitmap& DepthMap() const { return chain_.depth; }
  bool DepthFromPhoto() const { return chain_.depthFromPhoto; }
  // The two as the lens look takes them.
  LensMaps Maps() const;
  // A picture is loaded when OriginalBMP has a width.
  bool PictureLoaded() const { return chain_.original.Width() > 0; }

  // ---- History ----
  static constexpr int kHistorySteps = 20;
  static constexpr std::uint64_t kHistoryBytes = std::uint64_t(1) << 30;
  // Other bounds than these (tests).
  void SetHistoryLimits(int steps, std::uint64_t bytes) {
    historySteps_ = steps;
    historyBytes_ = bytes;
  }
  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // Puts back the chain as it was before the last command (or after the
  // one undone last): pictures, recorded tone settings and the flag. A
  // step from before the last save comes back marked modified, since it is
  // not what the file holds.
  void Undo();
  void Redo();
  // Steps held, and the bytes of pixels only the history holds.
  int HistorySteps() const { return int(undo_.size() + redo_.size()); }
  std::uint64_t HistoryBytes() const;

  // ---- Operations ----

  // Reads the picture file at `path` with its metadata and refills the
  // whole chain. On failure returns false with `error` naming the file,
  // and nothing changes. What a readable but damaged file lost goes into
  // `warnings` (may be null).
  bool ReadFile(const std::string& path, std::string& error, std::vector<std::string>* warnings = nullptr);

  // A picture (24-bit) and its metadata refill the whole chain; nothing is
  // applied and there is nothing to save.
  void LoadPicture(const TBitmap& picture, TPictureMetadata metadata = {});

  // Sets the protect mask (any grey or colour picture, fitted to the
  // picture's size; an empty one clears it), or the depth map (kept at its
  // own size). A newly read picture clears both, then takes the depth
  // image its file carries, if any; quarter turns turn them with the
  // picture, and a resize fits the protect mask to the new size. Neither
  // is a history step of its own, but Undo and Redo bring back those of
  // the chain they restore.
  void SetProtection(const TBitmap& mask);
  void SetDepthMap(const TBitmap& map, bool fromPhoto = false);

  // Rebuilds ModifiedBMP and TargetBMP from ResizedBMP with the recorded
  // tone settings: saturation, contrast, brightness, each only when not 0.
  // Does nothing without a picture.
  void ApplyEffect();

  // The tone "Apply": records the settings, rebuilds, marks the picture
  // modified. Does nothing without a picture. A setting outside the range
  // its table entry accepts throws std::out_of_range.
  void ApplyTone(int saturation, int contrast, int brightness);

  // The miniature "Apply": builds the mask for the focus point (view
  // pixels) and settings, blurs a copy of ModifiedBMP by `blur` and blends
  // it over a sharp copy through the mask into TargetBMP, then marks the
  // picture modified. Does nothing without a picture. Throws MaskError for
  // a view of zero size, and std::out_of_range for an angle, depth or blur
  // outside the range its table entry accepts.
  // With `masks`, the mask is taken from it (built there when the size or
  // focus changed): the same bytes, built once for a run of pictures.
  void ApplyMiniature(TPoint point, const FocusSettings& focus, int blur, TFocusMaskCache* masks = nullptr);

  // The miniature "Apply" with the look's band, point and blur (the point
  // and view resolved for ModifiedBMP's size): the classic composition, or
  // for the lens look the lens blur of ModifiedBMP with the engine's
  // protect mask and depth map (MaskBMP then stays as it was). The same
  // checks, all or nothing, one history step.
  void ApplyMiniature(const Look& look);

  // What the two "Apply" buttons make of `look`: the tone "Apply" when the
  // look's tone settings are not those ModifiedBMP carries (ToneApplied),
  // then the miniature "Apply" with the look's band and blur. The same
  // operations, so the same bytes and history steps.
  void ApplyLook(const Look& look);
  // Whether ModifiedBMP already carries the look's tone settings (none
  // applied is the same as all three at 0; a look without its tone step
  // takes ModifiedBMP as it is).
  bool ToneApplied(const Look& look) const;

  // The render path without the chain or its history, for pictures where
  // only the result counts (the command line, the frames of a video):
  // `target` becomes, byte for byte, the TargetBMP that LoadPicture(picture)
  // and ApplyLook(look) leave. The mask is checked first and taken from
  // `masks` (built once for a run of pictures of one size and band); then
  // `picture` is toned in place (no copy when its pixels are its own), and
  // `target`'s pixels are written over when it has the size and pixels of
  // its own. Throws what those throw; `target` is then unspecified.
  // The lens look takes `maps` (the protect mask of the picture's size).
  static void RenderLook(TBitmap& picture, const Look& look, TFocusMaskCache& masks, TBitmap& target,
                         const LensMaps& maps = {});

  // Turns all four pictures by a quarter turn, clockwise when `plus`, so
  // that applied effects stay. Does nothing without a picture.
  void Rotate90(bool plus);

  // Resamples OriginalBMP to width x height into ResizedBMP, then applies
  // the recorded tone settings again when any were applied (otherwise
  // TargetBMP is the plain resampled picture); a miniature blur is dropped.
  // Throws std::runtime_error, changing nothing, for a size below 1 pixel,
  // one beyond the picture limits, or one there is no memory for. Does
  // nothing without a picture.
  void Resize(int width, int height, TResizeMode mode);
  // Throws the error Resize gives for a size that cannot be made at all.
  static void CheckSize(int width, int height);

  // Writes TargetBMP to `path` in the format of its extension and clears
  // the unsaved-changes flag. On failure returns false with `error` set,
  // and the flag stays. What could not go with the picture goes into
  // `warnings` (may be null).
  bool WriteFile(const std::string& path, const TSaveOptions& options, std::string& error,
                 std::vector<std::string>* warnings = nullptr);

 private:
  // Everything a command changes, and Undo puts back.
  struct TChain {
    TBitmap original{0, 0, pf24bit};
    TBitmap resized{0, 0, pf24bit};
    TBitmap modified{0, 0, pf24bit};
    TBitmap target{0, 0, pf24bit};
    TBitmap mask{0, 0, pf8bit};
    RECEFFECT effect;
    int maskDepth = 0;
    bool modifiedFlag = false;
    TBitmap protect{0, 0, pf8bit}, depth{0, 0, pf8bit};
    bool depthFromPhoto = false;
  };

  // Rebuilds the toned pictures of `chain` from its ResizedBMP and its
  // recorded settings.
  static void Retone(TChain& chain);
  // Makes `next` the chain, the one before it the newest undo step.
  void Commit(TChain&& next);
  // The miniature step of both paths: the mask (from `masks` when given),
  // then the blur of `toned` blended over it through the mask into `target`.
  static MaskGeometry Miniature(const TBitmap& toned, TPoint point, const FocusSettings& focus, int blur,
                                TFocusMaskCache* masks, TBitmap& mask, TBitmap& target);
  // Drops the oldest undo steps beyond the history's bounds.
  void TrimHistory() noexcept;

  TChain chain_;
  TPictureMetadata metadata_;
  std::deque<TChain> undo_, redo_;
  int historySteps_ = kHistorySteps;
  std::uint64_t historyBytes_ = kHistoryBytes;
};

// The engine's operations are all or nothing: run out of memory at any
// allocation inside one and every picture, setting and flag is as it was.
// And a setting outside its table range is refused before anything moves.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>

#include "engine/miniature_engine.h"
#include "support/pictures.h"
#include "support/random_pictures.h"

namespace {

// Allocations of at least kLarge bytes left before one fails; -1: none fails.
constexpr std::size_t kLarge = 4096;
std::atomic<long> gLargeLeft{-1};

bool RefuseLarge(std::size_t size) {
  if (size < kLarge || gLargeLeft.load() < 0) return false;
  return gLargeLeft.fetch_sub(1) <= 0;
}

}  // namespace

void* operator new(std::size_t size) {
  if (RefuseLarge(size)) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return RefuseLarge(size) ? nullptr : std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

void ExpectSameState(const MiniatureEngine& a, const MiniatureEngine& b, const char* step) {
  EXPECT_EQ(a.OriginalBMP(), b.OriginalBMP()) << step;
  EXPECT_EQ(a.ResizedBMP(), b.ResizedBMP()) << step;
  EXPECT_EQ(a.ModifiedBMP(), b.ModifiedBMP()) << step;
  EXPECT_EQ(a.TargetBMP(), b.TargetBMP()) << step;
  EXPECT_EQ(a.MaskBMP(), b.MaskBMP()) << step;
  EXPECT_EQ(a.MaskDepth(), b.MaskDepth()) << step;
  EXPECT_EQ(a.Modified(), b.Modified()) << step;
  const RECEFFECT &ea = a.Effect(), &eb = b.Effect();
  EXPECT_TRUE(ea.Applied == eb.Applied && ea.Saturation == eb.Saturation && ea.Contrast == eb.Contrast &&
              ea.Brightness == eb.Brightness)
      << step;
}

// A chain in which every stage differs from the one before, so that a
// stage left behind by a half-done operation shows.
MiniatureEngine Started() {
  MiniatureEngine e;
  e.LoadPicture(RandomPicture(64, 48, 11));
  e.ApplyTone(30, 20, -10);
  e.ApplyMiniature({20, 30}, FocusSettings{64, 48, 20, 30, BlurSlope::Narrow}, 4);
  e.Resize(60, 45, rmBicubic);
  e.ApplyMiniature({10, 10}, FocusSettings{60, 45, -30, 60, BlurSlope::Wide}, 3);
  return e;
}

}  // namespace

TEST(ChainOperations, RunningOutOfMemoryAnywhereChangesNothing) {
  const struct {
    const char* name;
    std::function<void(MiniatureEngine&)> run;
  } operations[] = {
      {"tone", [](MiniatureEngine& e) { e.ApplyTone(60, 5, 20); }},
      {"miniature",
       [](MiniatureEngine& e) {
         e.ApplyMiniature({30, 22}, FocusSettings{60, 45, 45, 20, BlurSlope::Medium}, 6);
       }},
      {"quarter turn", [](MiniatureEngine& e) { e.Rotate90(true); }},
      {"resize", [](MiniatureEngine& e) { e.Resize(31, 70, rmLanczos); }},
  };
  for (const auto& op : operations) {
    bool completed = false;
    int failures = 0;
    for (long allowed = 0; allowed < 200 && !completed; ++allowed) {
      MiniatureEngine e = Started();
      const MiniatureEngine before = e;
      gLargeLeft = allowed;
      try {
        op.run(e);
        completed = true;
      } catch (const std::bad_alloc&) {
      } catch (const std::runtime_error&) {  // the resize names the size it could not make
      }
      gLargeLeft = -1;
      if (!completed) {
        ++failures;
        ExpectSameState(e, before, op.name);
      }
    }
    EXPECT_TRUE(completed) << op.name;
    EXPECT_GT(failures, 0) << op.name;  // it does take memory
  }
}

TEST(ChainOperations, SettingsOutsideTheTableAreRefusedFirst) {
  const FocusSettings focus{60, 45, 0, 50, BlurSlope::Medium};
  const struct {
    const char* name;
    std::function<void(MiniatureEngine&)> run;
  } refused[] = {
      {"saturation 101", [](MiniatureEngine& e) { e.ApplyTone(101, 0, 0); }},
      {"contrast -101", [](MiniatureEngine& e) { e.ApplyTone(0, -101, 0); }},
      {"brightness -101", [](MiniatureEngine& e) { e.ApplyTone(0, 0, -101); }},
      {"angle 91",
       [&](MiniatureEngine& e) {
         e.ApplyMiniature({1, 1}, {60, 45, 91, 50}, 7);
       }},
      {"depth 0",
       [&](MiniatureEngine& e) {
         e.ApplyMiniature({1, 1}, {60, 45, 0, 0}, 7);
       }},
      {"depth 201",
       [&](MiniatureEngine& e) {
         e.ApplyMiniature({1, 1}, {60, 45, 0, 201}, 7);
       }},
      {"blur -1",
       [&](MiniatureEngine& e) {
         e.ApplyMiniature({1, 1}, focus, -1);
       }},
      {"blur 31",
       [&](MiniatureEngine& e) {
         e.ApplyMiniature({1, 1}, focus, 31);
       }},
  };
  for (const auto& op : refused) {
    MiniatureEngine e = Started();
    const MiniatureEngine before = e;
    EXPECT_THROW(op.run(e), std::out_of_range) << op.name;
    ExpectSameState(e, before, op.name);
  }
  // The ends of each range are taken.
  MiniatureEngine e = Started();
  EXPECT_NO_THROW(e.ApplyTone(-100, 100, 100));
  EXPECT_NO_THROW(e.ApplyMiniature({1, 1}, {60, 45, -90, 200}, 30));
  EXPECT_NO_THROW(e.ApplyMiniature({1, 1}, {60, 45, 90, 1}, 0));
}

TEST(ChainHistory, UndoAndRedoRoundTripEveryCommand) {
  const struct {
    const char* name;
    std::function<void(MiniatureEngine&)> run;
  } commands[] = {
      {"tone", [](MiniatureEngine& e) { e.ApplyTone(60, 5, 20); }},
      {"miniature",
       [](MiniatureEngine& e) {
         e.ApplyMiniature({30, 22}, FocusSettings{60, 45, 45, 20, BlurSlope::Medium}, 6);
       }},
      {"quarter turn", [](MiniatureEngine& e) { e.Rotate90(false); }},
      {"resize", [](MiniatureEngine& e) { e.Resize(31, 70, rmLanczos); }},
  };
  for (const auto& c : commands) {
    MiniatureEngine e = Started();
    const MiniatureEngine before = e;
    c.run(e);
    const MiniatureEngine after = e;
    ASSERT_TRUE(e.CanUndo()) << c.name;
    e.Undo();
    ExpectSameState(e, before, c.name);
    ASSERT_TRUE(e.CanRedo()) << c.name;
    e.Redo();
    ExpectSameState(e, after, c.name);
    EXPECT_FALSE(e.CanRedo()) << c.name;
  }
}

TEST(ChainHistory, StepsBeforeASaveComeBackModified) {
  const std::string path = testing::TempDir() + "history-save.bmp";
  MiniatureEngine e;
  e.LoadPicture(RandomPicture(40, 30, 5));
  EXPECT_FALSE(e.CanUndo());  // a read starts the history
  e.Rotate90(true);
  EXPECT_FALSE(e.Modified());  // a turn leaves the flag as it was
  e.ApplyTone(10, 10, 10);
  std::string error;
  ASSERT_TRUE(e.WriteFile(path, {}, error)) << error;
  EXPECT_FALSE(e.Modified());
  e.Undo();  // the turned picture: not what the file holds
  EXPECT_TRUE(e.Modified());
  e.Undo();
  EXPECT_TRUE(e.Modified());
  e.Redo();
  e.Redo();  // the saved picture again
  EXPECT_FALSE(e.Modified());
  std::remove(path.c_str());
}

TEST(ChainHistory, KeepsWithinItsBounds) {
  MiniatureEngine e;
  e.LoadPicture(RandomPicture(64, 48, 3));  // 9,216 bytes a picture
  e.SetHistoryLimits(5, 1 << 20);
  for (int i = 0; i < 9; ++i) e.ApplyTone(i, 0, 0);
  EXPECT_EQ(e.HistorySteps(), 5);
  // Each tone step holds one toned picture of its own (ModifiedBMP and
  // TargetBMP share it; the rest is shared with the current chain).
  EXPECT_EQ(e.HistoryBytes(), 5u * 64 * 48 * 3);
  e.SetHistoryLimits(20, 3 * 64 * 48 * 3);
  e.ApplyTone(20, 0, 0);
  EXPECT_EQ(e.HistorySteps(), 3);
  e.SetHistoryLimits(20, 1);  // the step before the last command always stays
  e.ApplyTone(21, 0, 0);
  EXPECT_EQ(e.HistorySteps(), 1);
  e.Undo();
  EXPECT_EQ(e.Effect().Saturation, 20);
}

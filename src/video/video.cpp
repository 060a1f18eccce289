// The run of one video job: the source decodes on one thread, the
// miniature runs on the calling thread (the engine spreads each frame over
// the cores), the sink encodes on a third, joined by short queues so that
// memory stays bounded whatever the length; audio travels the same queues.
#include "video/video.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "codecs/picture_io.h"
#include "engine/miniature_engine.h"
#include "video/bounded_queue.h"
#include "video/video_internal.h"

using video_internal::Item;
using video_internal::KindOf;
using video_internal::OutputKind;
using video_internal::PacketPtr;
using video_internal::QuietFFmpeg;
using video_internal::Sink;
using video_internal::Source;
using video_internal::SourceInfo;

namespace {

bool LooksLikeStill(const std::string& path) {
  return IsSupportedExtension(path);
}

// Frame pictures given back once done with and taken again for later
// frames: a picture of the frame's size with pixels of its own is written
// over, so a run allocates (and first touches) a handful of pictures
// rather than two or three per frame.
class PicturePool {
 public:
  TBitmap Take() {
    std::lock_guard lock(mutex_);
    if (free_.empty()) return TBitmap();
    TBitmap picture = std::move(free_.back());
    free_.pop_back();
    return picture;
  }
  void Give(TBitmap&& picture) {
    if (picture.SharesPixels() || picture.Width() == 0) return;
    std::lock_guard lock(mutex_);
    if (free_.size() < kKept) free_.push_back(std::move(picture));
  }

 private:
  static constexpr std::size_t kKept = 4;
  std::mutex mutex_;
  std::vector<TBitmap> free_;
};

}  // namespace

VideoResult RunVideo(const VideoJob& job, const std::function<void(const VideoProgress&)>& progress) {
  QuietFFmpeg();
  CheckVideoOutput(job);
  if (job.inputs.empty()) throw VideoError("no input");
  const bool stills = job.inputs.size() > 1 || LooksLikeStill(job.inputs.front());
  std::unique_ptr<Source> source;
  if (stills)
    source = video_internal::OpenStillsSource(job.inputs, job.fps);
  else
    source = video_internal::OpenVideoSource(job.inputs.front(), job.threads);
  const SourceInfo& info = source->Info();

  VideoResult result;
  const OutputKind kind = KindOf(job.output);
  bool copyAudio = false;
  if (info.audio) {
    const AVOutputFormat* format =
        kind == OutputKind::Stills ? nullptr : av_guess_format(nullptr, job.output.c_str(), nullptr);
    if (kind == OutputKind::Stills)
      result.notes.push_back("the audio is dropped: the output is a series of stills");
    else if (!job.selection.KeepsTiming())
      result.notes.push_back("the audio is dropped: --speed changes the timing");
    else if (!format ||
             avformat_query_codec(format, info.audio->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1)
      result.notes.push_back(std::string("the audio is dropped: ") +
                             avcodec_get_name(info.audio->codecpar->codec_id) + " cannot go into a " +
                             FileExtension(job.output) + " file");
    else
      copyAudio = true;
  }
  std::unique_ptr<Sink> sink;
  if (kind == OutputKind::Stills)
    sink = video_internal::MakeStillsSink(job.output, job.quality);
  else
    sink = video_internal::MakeContainerSink(job, kind, info, copyAudio);

  const FrameSelection& sel = job.selection;
  // The frames to expect, for the progress bar (times from the nominal rate).
  std::int64_t total = -1;
  if (info.frameCount > 0) {
    total = 0;
    const double rate = av_q2d(info.frameRate);
    for (std::int64_t i = sel.first; i <= std::min(sel.last, info.frameCount - 1); ++i)
      if (sel.InCut(i, double(i) / rate) && sel.OutputIndex(i)) ++total;
  }

  // Three stages joined by queues of one item: decoding, the miniature,
  // encoding. A 4K frame is 25 MB; deeper queues only held more of them
  // (measured: no faster on two cores).
  constexpr std::size_t kQueueDepth = 1;
  BoundedQueue<Item> decoded(kQueueDepth), finished(kQueueDepth);
  PicturePool pool;
  std::mutex errorMutex;
  std::exception_ptr error;
  auto fail = [&](std::exception_ptr e) {
    {
      std::lock_guard lock(errorMutex);
      if (!error) error = e;
    }
    decoded.Abort();
    finished.Abort();
  };

  std::thread reader([&] {
    try {
      bool started = false;
      std::int64_t firstPts = 0;
      double firstSeconds = 0;
      std::int64_t firstOutput = -1;
      source->Run(
          [&](std::int64_t index, double seconds, std::int64_t pts,
              const std::function<void(TBitmap&)>& picture) {
            if (sel.PastCut(index, seconds)) return false;
            const std::optional<std::int64_t> out = sel.OutputIndex(index);
            if (!out || !sel.InCut(index, seconds)) return true;
            if (!started) {
              started = true;
              firstPts = pts;
              firstSeconds = seconds;
            }
            Item item;
            item.index = index;
            item.output = *out;
            // Timing unchanged: the source's own timestamps. Faster: one
            // frame duration of the source per frame the speed keeps.
            if (sel.KeepsTiming()) {
              item.pts = pts - firstPts;
            } else {
              if (firstOutput < 0) firstOutput = *out;
              item.pts =
                  av_rescale_q((*out - firstOutput) * sel.every, av_inv_q(info.frameRate), info.timeBase);
            }
            item.picture = pool.Take();
            picture(item.picture);
            item.look = job.recipe ? job.recipe->At(index, seconds) : job.look;
            return decoded.Push(std::move(item));
          },
          [&](PacketPtr packet, double seconds) {
            if (!copyAudio || !started || seconds < firstSeconds) return;
            if (seconds >= sel.end) return;
            const AVRational tb = info.audio->time_base;
            const std::int64_t shift = av_rescale_q(firstPts, info.timeBase, tb);
            packet->pts -= shift;
            if (packet->dts != AV_NOPTS_VALUE) packet->dts -= shift;
            Item item;
            item.audio = std::move(packet);
            decoded.Push(std::move(item));
          });
      decoded.Close();
    } catch (...) {
      fail(std::current_exception());
    }
  });

  std::thread writer([&] {
    try {
      const auto start = std::chrono::steady_clock::now();
      std::int64_t frames = 0;
      while (std::optional<Item> item = finished.Pop()) {
        if (item->audio) {
          sink->Audio(std::move(item->audio));
          continue;
        }
        sink->Frame(*item);
        pool.Give(std::move(item->picture));
        ++frames;
        if (progress)
          progress({frames, total,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()});
      }
      std::lock_guard lock(errorMutex);
      result.frames = frames;
    } catch (...) {
      fail(std::current_exception());
    }
  });

  // The miniature runs here; the engine spreads each frame over the cores.
  try {
    // The focus mask is built again only when a frame's size or focus
    // differs from the frame before (keyframes; never without a recipe).
    TFocusMaskCache masks;
    TLensMapCache lensMaps;
    while (std::optional<Item> item = decoded.Pop()) {
      if (!item->audio) {
        // The decoded picture is toned in place and the result written
        // into a picture given back by the writer.
        TBitmap target = pool.Take();
        MiniatureEngine::RenderLook(
            item->picture, item->look, masks, target,
            lensMaps.For(job.protect, job.depth, item->picture.Width(), item->picture.Height()));
        pool.Give(std::move(item->picture));
        item->picture = std::move(target);
      }
      if (!finished.Push(std::move(*item))) break;
    }
    finished.Close();
  } catch (...) {
    fail(std::current_exception());
  }
  reader.join();
  writer.join();
  try {
    if (error) std::rethrow_exception(error);
    if (result.frames == 0)
      throw VideoError(job.inputs.front() + ": the selection holds no frames; nothing written");
    sink->Finish();
  } catch (const std::bad_alloc&) {
    sink->Discard();
    throw VideoError(job.inputs.front() + ": out of memory; nothing written");
  } catch (const VideoError&) {
    sink->Discard();
    throw;
  } catch (const std::exception& e) {
    sink->Discard();
    throw VideoError(job.inputs.front() + ": " + e.what() + "; nothing written");
  }
  return result;
}

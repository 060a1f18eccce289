// What the video pipeline's parts share (internal to the video library):
// FFmpeg handles that free themselves, the frame or audio packet passed
// between the stages, the source a run reads (video_reader.cpp) and the
// sink it writes (video_writer.cpp), which video.cpp joins by queues.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "imaging/parallel.h"
#include "video/video.h"

namespace video_internal {

inline std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct InputClose {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;

inline PacketPtr NewPacket() {
  PacketPtr p(av_packet_alloc());
  if (!p) throw std::bad_alloc();
  return p;
}
inline FramePtr NewFrame() {
  FramePtr f(av_frame_alloc());
  if (!f) throw std::bad_alloc();
  return f;
}

// The libswscale coefficient table of a stream's matrix; an untagged
// stream is BT.709 from 720 lines up and BT.601 below.
inline int SwsMatrix(AVColorSpace space, int height) {
  switch (space) {
    case AVCOL_SPC_BT709:
      return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
      return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
      return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M:
      return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
      return SWS_CS_BT2020;
    default:
      return height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
  }
}

// The codec threads for a job's `threads`: that many when given.
// Otherwise the decoder gets half the miniature's threads (at least one)
// and the encoder all of them. The miniature already spreads each frame
// over every core; decoding is light, and an encoder that may use every
// core fills the gaps while the miniature waits for a frame (on two
// cores: 5 % faster at 1080p, 12 % at 4K, for 50 MB and 180 MB more).
// FFmpeg's own choice (a thread per core and one more for the decoder,
// one and a half per core for the encoder) crowds the same cores and
// multiplies the frames each codec holds.
inline int DecoderThreads(int threads) {
  return threads > 0 ? threads : std::max(1, ThreadCount() / 2);
}
inline int EncoderThreads(int threads) {
  return threads > 0 ? threads : ThreadCount();
}

// Keeps FFmpeg's messages off the terminal; the reader picks out the ones
// that say a file is cut short.
void QuietFFmpeg();

// One frame, or one audio packet, on its way through the pipeline.
struct Item {
  std::int64_t index = 0;   // in the source
  std::int64_t output = 0;  // in the output
  std::int64_t pts = 0;     // in the output's time base
  TBitmap picture;
  Look look;
  PacketPtr audio;
};

// What the output needs to know of the source.
struct SourceInfo {
  int width = 0, height = 0;
  AVRational timeBase{1, 25};   // of the timestamps handed on
  AVRational frameRate{25, 1};  // nominal
  std::int64_t frameCount = -1;
  bool yuv = false;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  const AVStream* audio = nullptr;
};

// Frames with their number, their time in seconds from the first frame,
// their timestamp in SourceInfo::timeBase, and the picture on demand: put
// into the bitmap given, whose pixels are written over when it has the
// frame's size and pixels of its own.
using FrameCallback = std::function<bool(std::int64_t index, double seconds, std::int64_t pts,
                                         const std::function<void(TBitmap&)>& picture)>;
using AudioCallback = std::function<void(PacketPtr packet, double seconds)>;

class Source {
 public:
  virtual ~Source() = default;
  virtual const SourceInfo& Info() const = 0;
  // Runs through the frames until the end or until `frame` returns false.
  virtual void Run(const FrameCallback& frame, const AudioCallback& audio) = 0;
};

// A video file read through libavformat, decoded with DecoderThreads(threads)
// codec threads.
std::unique_ptr<Source> OpenVideoSource(const std::string& path, int threads);
// Stills in frame order, all of one size, taken as frames at `fps`.
std::unique_ptr<Source> OpenStillsSource(const std::vector<std::string>& paths, double fps);

enum class OutputKind { Stills, H264, VP9, FFV1 };

// The kind of output a name asks for; throws VideoError for an unknown one.
OutputKind KindOf(const std::string& output);
// The FFmpeg encoder of a video kind ("" for stills).
const char* EncoderName(OutputKind kind);
// The name of output frame `number` of a still pattern.
std::string StillName(const std::string& pattern, std::int64_t number);

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Frame(const Item& item) = 0;
  virtual void Audio(PacketPtr) {}
  virtual void Finish() = 0;
  // Removes what a failed run wrote.
  virtual void Discard() = 0;
};

// One still per output frame, named by `pattern`.
std::unique_ptr<Sink> MakeStillsSink(const std::string& pattern, int quality);
// A video file of `kind`, written under a temporary name and renamed by Finish.
std::unique_ptr<Sink> MakeContainerSink(const VideoJob& job, OutputKind kind, const SourceInfo& source,
                                        bool copyAudio);

}  // namespace video_internal

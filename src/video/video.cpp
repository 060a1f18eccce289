#include "video/video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "codecs/picture_io.h"
#include "imaging/size_limits.h"
#include "video/bounded_queue.h"

namespace {

namespace fs = std::filesystem;

std::string AvError(int code) {
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

// FFmpeg's messages are not printed. A demuxer that meets the end of a
// file too early only says so in a message, not in its results: the
// messages of the thread that reads a file are kept, the first one that
// says the file is cut short.
thread_local std::string* tLogCapture = nullptr;

void KeepLogMessage(void*, int level, const char* format, va_list args) {
  if (!tLogCapture || level > AV_LOG_WARNING || !tLogCapture->empty()) return;
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::string lower = text;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char* sign : {"prematurely", "partial file", "truncat", "incomplete"})
    if (lower.find(sign) != std::string::npos) *tLogCapture = text;
}

void QuietFFmpeg() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_WARNING);
    av_log_set_callback(KeepLogMessage);
  });
}

PacketPtr NewPacket() {
  PacketPtr p(av_packet_alloc());
  if (!p) throw std::bad_alloc();
  return p;
}
FramePtr NewFrame() {
  FramePtr f(av_frame_alloc());
  if (!f) throw std::bad_alloc();
  return f;
}

// The libswscale coefficient table of a stream's matrix; an untagged
// stream is BT.709 from 720 lines up and BT.601 below.
int SwsMatrix(AVColorSpace space, int height) {
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

bool IsRgbFormat(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

// The "J" formats are their plain forms in full range.
AVPixelFormat PlainFormat(AVPixelFormat format, bool& full) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P:
      full = true;
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      full = true;
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      full = true;
      return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
      full = true;
      return AV_PIX_FMT_YUV440P;
    default:
      return format;
  }
}

// Decoded frames to 8-bit BGR pictures, honouring each frame's matrix and range.
class ToBgr {
 public:
  TBitmap Convert(const AVFrame& frame) {
    bool full = frame.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = PlainFormat(AVPixelFormat(frame.format), full);
    const int matrix = SwsMatrix(frame.colorspace, frame.height);
    if (!sws_ || format != format_ || frame.width != width_ || frame.height != height_ || full != full_ ||
        matrix != matrix_) {
      sws_.reset(sws_getContext(frame.width, frame.height, format, frame.width, frame.height,
                                AV_PIX_FMT_BGR24, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                nullptr, nullptr, nullptr));
      if (!sws_)
        throw VideoError("cannot convert frames of pixel format " +
                         std::string(av_get_pix_fmt_name(format) ? av_get_pix_fmt_name(format) : "?"));
      const int* coefficients = sws_getCoefficients(matrix);
      sws_setColorspaceDetails(sws_.get(), coefficients, full ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                               0, 1 << 16, 1 << 16);
      format_ = format;
      width_ = frame.width;
      height_ = frame.height;
      full_ = full;
      matrix_ = matrix;
      const int stride = FFALIGN(frame.width * 3, 64);
      buffer_.assign(std::size_t(stride) * frame.height + 64, 0);
      stride_ = stride;
    }
    std::uint8_t* dst[4] = {buffer_.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {stride_, 0, 0, 0};
    sws_scale(sws_.get(), frame.data, frame.linesize, 0, frame.height, dst, dstStride);
    TBitmap picture = TBitmap::ForOverwrite(frame.width, frame.height, pf24bit);
    for (int y = 0; y < frame.height; ++y)
      std::memcpy(picture.ScanLine(y), buffer_.data() + std::size_t(y) * stride_,
                  std::size_t(frame.width) * 3);
    return picture;
  }

 private:
  SwsPtr sws_;
  AVPixelFormat format_ = AV_PIX_FMT_NONE;
  int width_ = 0, height_ = 0, matrix_ = -1, stride_ = 0;
  bool full_ = false;
  std::vector<std::uint8_t> buffer_;
};

// One frame, or one audio packet, on its way through the pipeline.
struct Item {
  std::int64_t index = 0;   // in the source
  std::int64_t output = 0;  // in the output
  std::int64_t pts = 0;     // in the output's time base
  TBitmap picture;
  FrameSettings settings;
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
// their timestamp in SourceInfo::timeBase, and the picture on demand.
using FrameCallback = std::function<bool(std::int64_t index, double seconds, std::int64_t pts,
                                         const std::function<TBitmap()>& picture)>;
using AudioCallback = std::function<void(PacketPtr packet, double seconds)>;

class Source {
 public:
  virtual ~Source() = default;
  virtual const SourceInfo& Info() const = 0;
  // Runs through the frames until the end or until `frame` returns false.
  virtual void Run(const FrameCallback& frame, const AudioCallback& audio) = 0;
};

void CheckSize(const std::string& path, int width, int height) {
  if (!PictureSizeAllowed(width, height))
    throw VideoError(path + ": frames of " + std::to_string(width) + " x " + std::to_string(height) +
                     " are beyond the size limits (65535 a side, " + std::to_string(kMaxPicturePixels) +
                     " pixels)");
}

class StillsSource : public Source {
 public:
  StillsSource(const std::vector<std::string>& paths, double fps) : paths_(paths) {
    first_ = Read(0);
    info_.width = first_.Width();
    info_.height = first_.Height();
    const AVRational rate = av_d2q(fps, 100000);
    info_.frameRate = rate;
    info_.timeBase = av_inv_q(rate);
    info_.frameCount = std::int64_t(paths.size());
    fps_ = fps;
  }
  const SourceInfo& Info() const override { return info_; }
  void Run(const FrameCallback& frame, const AudioCallback&) override {
    for (std::size_t i = 0; i < paths_.size(); ++i) {
      const auto picture = [&] {
        TBitmap p = i == 0 ? first_ : Read(i);
        if (p.Width() != info_.width || p.Height() != info_.height)
          throw VideoError(paths_[i] + ": " + std::to_string(p.Width()) + " x " + std::to_string(p.Height()) +
                           ", but the first still is " + std::to_string(info_.width) + " x " +
                           std::to_string(info_.height));
        return p;
      };
      if (!frame(std::int64_t(i), double(i) / fps_, std::int64_t(i), picture)) return;
    }
  }

 private:
  TBitmap Read(std::size_t i) const {
    TBitmap p;
    std::string error;
    if (!ReadPicture(paths_[i], p, nullptr, error, nullptr)) throw VideoError(error);
    return p;
  }
  std::vector<std::string> paths_;
  TBitmap first_;
  SourceInfo info_;
  double fps_ = 25;
};

class FileSource : public Source {
 public:
  FileSource(const std::string& path, int threads) : path_(path) {
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc == AVERROR_EOF) throw VideoError(path + ": is empty or has no video frames");
    if (rc < 0) throw VideoError(path + ": cannot be read as a video (" + AvError(rc) + ")");
    input_.reset(raw);
    rc = avformat_find_stream_info(raw, nullptr);
    if (rc == AVERROR_EOF) throw VideoError(path + ": has no video frames");
    if (rc < 0) throw VideoError(path + ": cannot be read as a video (" + AvError(rc) + ")");
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) throw VideoError(path + ": has no video stream");
    stream_ = raw->streams[index];
    const AVCodecParameters* par = stream_->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
      throw VideoError(path + ": no decoder for its video codec '" + avcodec_get_name(par->codec_id) + "'");
    CheckSize(path, par->width, par->height);
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) throw std::bad_alloc();
    avcodec_parameters_to_context(decoder_.get(), par);
    decoder_->thread_count = threads;
    rc = avcodec_open2(decoder_.get(), codec, nullptr);
    if (rc < 0)
      throw VideoError(path + ": cannot open its " + codec->name + " decoder (" + AvError(rc) + ")");

    info_.width = par->width;
    info_.height = par->height;
    info_.timeBase = stream_->time_base;
    info_.frameRate = av_guess_frame_rate(raw, stream_, nullptr);
    if (info_.frameRate.num <= 0 || info_.frameRate.den <= 0) info_.frameRate = {25, 1};
    info_.frameCount = stream_->nb_frames > 0 ? stream_->nb_frames : -1;
    if (info_.frameCount < 0 && raw->duration > 0)
      info_.frameCount = std::int64_t(double(raw->duration) / AV_TIME_BASE * av_q2d(info_.frameRate) + 0.5);
    info_.yuv = !IsRgbFormat(AVPixelFormat(par->format));
    bool full = par->color_range == AVCOL_RANGE_JPEG;
    PlainFormat(AVPixelFormat(par->format), full);
    info_.matrix = par->color_space;
    info_.range = full ? AVCOL_RANGE_JPEG : par->color_range;
    info_.primaries = par->color_primaries;
    info_.transfer = par->color_trc;
    const int audio = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, index, nullptr, 0);
    if (audio >= 0) info_.audio = raw->streams[audio];
  }

  const SourceInfo& Info() const override { return info_; }

  void Run(const FrameCallback& frame, const AudioCallback& audio) override {
    std::string cutShort;
    tLogCapture = &cutShort;
    struct Release {
      ~Release() { tLogCapture = nullptr; }
    } release;
    PacketPtr packet = NewPacket();
    FramePtr decoded = NewFrame();
    std::int64_t index = 0;
    bool going = true;
    auto drain = [&]() {
      while (going) {
        const int rc = avcodec_receive_frame(decoder_.get(), decoded.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0)
          throw VideoError(path_ + ": damaged video data after frame " + std::to_string(index) + " (" +
                           AvError(rc) + ")");
        if (decoded->width != info_.width || decoded->height != info_.height)
          throw VideoError(path_ + ": frame " + std::to_string(index) + " changes the size to " +
                           std::to_string(decoded->width) + " x " + std::to_string(decoded->height));
        if (decoded->decode_error_flags || (decoded->flags & AV_FRAME_FLAG_CORRUPT))
          throw VideoError(path_ + ": frame " + std::to_string(index) + " is damaged");
        std::int64_t pts = decoded->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE)
          pts = av_rescale_q(index, av_inv_q(info_.frameRate), info_.timeBase) +
                (firstPts_ == AV_NOPTS_VALUE ? 0 : firstPts_);
        if (firstPts_ == AV_NOPTS_VALUE) firstPts_ = pts;
        const std::int64_t rel = pts - firstPts_;
        const double seconds = double(rel) * av_q2d(info_.timeBase);
        // Audio held back until now can go once its time has come.
        FlushAudio(audio, seconds);
        going = frame(index, seconds, rel, [&] { return bgr_.Convert(*decoded); });
        av_frame_unref(decoded.get());
        ++index;
      }
    };
    while (going) {
      const int rc = av_read_frame(input_.get(), packet.get());
      if (rc == AVERROR_EOF) break;
      if (rc < 0) throw VideoError(path_ + ": damaged or truncated (" + AvError(rc) + ")");
      if (packet->stream_index == stream_->index) {
        const int sent = avcodec_send_packet(decoder_.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN))
          throw VideoError(path_ + ": damaged video data after frame " + std::to_string(index) + " (" +
                           AvError(sent) + ")");
        drain();
      } else if (info_.audio && packet->stream_index == info_.audio->index) {
        pendingAudio_.push_back(std::move(packet));
        packet = NewPacket();
      } else {
        av_packet_unref(packet.get());
      }
    }
    if (going) {
      avcodec_send_packet(decoder_.get(), nullptr);
      drain();
    }
    if (!cutShort.empty()) throw VideoError(path_ + ": damaged or truncated (" + cutShort + ")");
    if (going) FlushAudio(audio, std::numeric_limits<double>::infinity());
    if (index == 0) throw VideoError(path_ + ": has no video frames");
  }

 private:
  // Hands on the audio packets that start before `until` (seconds from the
  // first frame), timed from the first frame.
  void FlushAudio(const AudioCallback& audio, double until) {
    if (firstPts_ == AV_NOPTS_VALUE) return;
    const AVRational tb = info_.audio ? info_.audio->time_base : AVRational{1, 1};
    const std::int64_t zero = av_rescale_q(firstPts_, info_.timeBase, tb);
    while (!pendingAudio_.empty()) {
      AVPacket* p = pendingAudio_.front().get();
      if (p->pts == AV_NOPTS_VALUE) {
        pendingAudio_.pop_front();
        continue;
      }
      const double seconds = double(p->pts - zero) * av_q2d(tb);
      if (seconds >= until) return;
      p->pts -= zero;
      if (p->dts != AV_NOPTS_VALUE) p->dts -= zero;
      PacketPtr packet = std::move(pendingAudio_.front());
      pendingAudio_.pop_front();
      audio(std::move(packet), seconds);
    }
  }

  std::string path_;
  InputPtr input_;
  AVStream* stream_ = nullptr;
  CodecPtr decoder_;
  SourceInfo info_;
  ToBgr bgr_;
  std::int64_t firstPts_ = AV_NOPTS_VALUE;
  std::deque<PacketPtr> pendingAudio_;
};

// --- outputs ---------------------------------------------------------------

enum class OutputKind { Stills, H264, VP9, FFV1 };

OutputKind KindOf(const std::string& output) {
  if (IsStillPattern(output)) return OutputKind::Stills;
  const std::string ext = FileExtension(output);
  if (ext == ".mp4") return OutputKind::H264;
  if (ext == ".webm") return OutputKind::VP9;
  if (ext == ".mkv") return OutputKind::FFV1;
  throw VideoError(output +
                   ": unknown output type; give .mp4 (H.264), .webm (VP9), .mkv (FFV1) or a still pattern "
                   "such as frame_%05d.png");
}

const char* EncoderName(OutputKind kind) {
  switch (kind) {
    case OutputKind::H264:
      return "libx264";
    case OutputKind::VP9:
      return "libvpx-vp9";
    case OutputKind::FFV1:
      return "ffv1";
    default:
      return "";
  }
}

// The name of output frame `number` of a still pattern.
std::string StillName(const std::string& pattern, std::int64_t number) {
  const std::size_t at = pattern.find('%');
  std::size_t end = at + 1;
  while (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end]))) ++end;
  const std::string spec = pattern.substr(at, end - at) + "lld";
  char text[64];
  std::snprintf(text, sizeof text, spec.c_str(), static_cast<long long>(number));
  return pattern.substr(0, at) + text + pattern.substr(end + 1);
}

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Frame(const Item& item) = 0;
  virtual void Audio(PacketPtr) {}
  virtual void Finish() = 0;
  // Removes what a failed run wrote.
  virtual void Discard() = 0;
};

class StillsSink : public Sink {
 public:
  StillsSink(const std::string& pattern, int quality) : pattern_(pattern), quality_(quality) {}
  void Frame(const Item& item) override {
    const std::string path = StillName(pattern_, item.output);
    std::string error;
    if (!WritePicture(path, item.picture, TWriteOptions{quality_, nullptr}, error)) throw VideoError(error);
    written_.push_back(path);
  }
  void Finish() override {}
  void Discard() override {
    std::error_code ec;
    for (const std::string& path : written_) fs::remove(path, ec);
  }

 private:
  std::string pattern_;
  int quality_;
  std::vector<std::string> written_;
};

struct OutputClose {
  void operator()(AVFormatContext* f) const {
    if (f->pb) avio_closep(&f->pb);
    avformat_free_context(f);
  }
};

class ContainerSink : public Sink {
 public:
  ContainerSink(const VideoJob& job, OutputKind kind, const SourceInfo& source, bool copyAudio)
      : job_(job), kind_(kind), source_(source), copyAudio_(copyAudio) {
    const fs::path out(job.output);
    temp_ = (out.parent_path() / ("." + out.filename().string() + ".part-" + std::to_string(::getpid()) +
                                  out.extension().string()))
                .string();
  }
  ~ContainerSink() override { Discard(); }

  void Frame(const Item& item) override {
    if (!output_) Open(item.picture.Width(), item.picture.Height());
    const int w = item.picture.Width(), h = item.picture.Height();
    for (int y = 0; y < h; ++y)
      std::memcpy(bgr_.data() + std::size_t(y) * bgrStride_, item.picture.ScanLine(y), std::size_t(w) * 3);
    int rc = av_frame_make_writable(frame_.get());
    if (rc < 0) throw VideoError(job_.output + ": " + AvError(rc));
    const std::uint8_t* src[4] = {bgr_.data(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {bgrStride_, 0, 0, 0};
    sws_scale(sws_.get(), src, srcStride, 0, h, frame_->data, frame_->linesize);
    std::int64_t pts = item.pts;
    if (lastPts_ != AV_NOPTS_VALUE && pts <= lastPts_) pts = lastPts_ + 1;
    lastPts_ = pts;
    frame_->pts = pts;
    Encode(frame_.get());
  }

  void Audio(PacketPtr packet) override {
    if (!output_ || !audioOut_) return;
    if (packet->pts < 0 || (packet->dts != AV_NOPTS_VALUE && packet->dts < 0)) return;
    packet->stream_index = audioOut_->index;
    av_packet_rescale_ts(packet.get(), source_.audio->time_base, audioOut_->time_base);
    packet->pos = -1;
    const int rc = av_interleaved_write_frame(output_.get(), packet.get());
    if (rc < 0) throw VideoError(job_.output + ": cannot write audio (" + AvError(rc) + ")");
  }

  void Finish() override {
    if (!output_) return;
    Encode(nullptr);
    int rc = av_write_trailer(output_.get());
    if (rc < 0) throw VideoError(job_.output + ": cannot finish the file (" + AvError(rc) + ")");
    rc = avio_closep(&output_->pb);
    if (rc < 0) throw VideoError(job_.output + ": cannot write (" + AvError(rc) + ")");
    std::error_code ec;
    fs::rename(temp_, job_.output, ec);
    if (ec) throw VideoError(job_.output + ": cannot be written (" + ec.message() + ")");
    output_.reset();
    done_ = true;
  }

  void Discard() override {
    if (done_) return;
    output_.reset();
    std::error_code ec;
    fs::remove(temp_, ec);
  }

 private:
  void Open(int width, int height) {
    const AVCodec* codec = avcodec_find_encoder_by_name(EncoderName(kind_));
    if (!codec) throw VideoError(job_.output + ": the encoder " + EncoderName(kind_) + " is not available");
    if (kind_ != OutputKind::FFV1 && (width % 2 || height % 2))
      throw VideoError(job_.output + ": " + EncoderName(kind_) +
                       " in 4:2:0 needs an even width and height, not " + std::to_string(width) + " x " +
                       std::to_string(height));
    AVFormatContext* raw = nullptr;
    int rc = avformat_alloc_output_context2(&raw, nullptr, nullptr, job_.output.c_str());
    if (rc < 0 || !raw) throw VideoError(job_.output + ": cannot make the container (" + AvError(rc) + ")");
    output_.reset(raw);

    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) throw std::bad_alloc();
    AVCodecContext* c = encoder_.get();
    c->width = width;
    c->height = height;
    c->time_base = source_.timeBase;
    // --speed keeps the frame rate (the clip gets shorter); --every keeps
    // the timing (fewer frames, each shown longer).
    c->framerate = av_div_q(source_.frameRate, AVRational{int(job_.selection.every), 1});
    c->sample_aspect_ratio = AVRational{1, 1};
    c->thread_count = job_.threads;
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    int matrix = 0;
    bool full = false;
    if (kind_ == OutputKind::FFV1) {
      format = AV_PIX_FMT_BGR0;
      c->color_range = AVCOL_RANGE_JPEG;
      c->colorspace = AVCOL_SPC_RGB;
      av_opt_set_int(c->priv_data, "slicecrc", 1, 0);
      c->level = 3;
    } else {
      // The source's matrix and range when it has them, else the usual ones.
      const bool keep =
          source_.yuv && source_.matrix != AVCOL_SPC_UNSPECIFIED && source_.matrix != AVCOL_SPC_RGB;
      c->colorspace = keep ? source_.matrix : height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
      full = source_.yuv && source_.range == AVCOL_RANGE_JPEG;
      c->color_range = full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
      c->color_primaries = keep && source_.primaries != AVCOL_PRI_UNSPECIFIED ? source_.primaries
                           : c->colorspace == AVCOL_SPC_BT709                 ? AVCOL_PRI_BT709
                                                                              : AVCOL_PRI_SMPTE170M;
      c->color_trc = keep && source_.transfer != AVCOL_TRC_UNSPECIFIED ? source_.transfer
                     : c->colorspace == AVCOL_SPC_BT709                ? AVCOL_TRC_BT709
                                                                       : AVCOL_TRC_SMPTE170M;
      matrix = SwsMatrix(c->colorspace, height);
      if (kind_ == OutputKind::H264) {
        av_opt_set(c->priv_data, "preset", job_.preset.c_str(), 0);
        av_opt_set_int(c->priv_data, "crf", job_.crf >= 0 ? job_.crf : 23, 0);
      } else {
        av_opt_set_int(c->priv_data, "crf", job_.crf >= 0 ? job_.crf : 32, 0);
        c->bit_rate = 0;
        av_opt_set_int(c->priv_data, "row-mt", 1, 0);
        av_opt_set_int(c->priv_data, "cpu-used", VpxSpeed(job_.preset), 0);
        av_opt_set(c->priv_data, "deadline", "good", 0);
      }
    }
    c->pix_fmt = format;
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0)
      throw VideoError(job_.output + ": cannot open the " + codec->name + " encoder (" + AvError(rc) + ")");

    videoOut_ = avformat_new_stream(raw, nullptr);
    if (!videoOut_) throw std::bad_alloc();
    avcodec_parameters_from_context(videoOut_->codecpar, c);
    videoOut_->time_base = c->time_base;
    videoOut_->avg_frame_rate = c->framerate;
    if (copyAudio_ && source_.audio) {
      // FFmpeg still calls some long-standard pairs experimental (FLAC or
      // Opus in MP4); the copy is made all the same.
      raw->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
      audioOut_ = avformat_new_stream(raw, nullptr);
      if (!audioOut_) throw std::bad_alloc();
      avcodec_parameters_copy(audioOut_->codecpar, source_.audio->codecpar);
      audioOut_->codecpar->codec_tag = 0;
      audioOut_->time_base = source_.audio->time_base;
    }
    rc = avio_open(&raw->pb, temp_.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) throw VideoError(job_.output + ": cannot be written (" + AvError(rc) + ")");
    rc = avformat_write_header(raw, nullptr);
    if (rc < 0) throw VideoError(job_.output + ": cannot write the header (" + AvError(rc) + ")");

    sws_.reset(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, format,
                              SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr,
                              nullptr));
    if (!sws_) throw VideoError(job_.output + ": cannot convert frames for the encoder");
    if (kind_ != OutputKind::FFV1) {
      const int* coefficients = sws_getCoefficients(matrix);
      sws_setColorspaceDetails(sws_.get(), coefficients, 1, coefficients, full ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
    frame_ = NewFrame();
    frame_->format = format;
    frame_->width = width;
    frame_->height = height;
    frame_->color_range = c->color_range;
    frame_->colorspace = c->colorspace;
    rc = av_frame_get_buffer(frame_.get(), 0);
    if (rc < 0) throw std::bad_alloc();
    bgrStride_ = FFALIGN(width * 3, 64);
    bgr_.assign(std::size_t(bgrStride_) * height + 64, 0);
    packet_ = NewPacket();
  }

  static int VpxSpeed(const std::string& preset) {
    static const char* const kPresets[] = {"veryslow", "slower",   "slow",      "medium",   "fast",
                                           "faster",   "veryfast", "superfast", "ultrafast"};
    for (int i = 0; i < 9; ++i)
      if (preset == kPresets[i]) return i < 3 ? 1 : i - 1;
    return 2;
  }

  void Encode(AVFrame* frame) {
    int rc = avcodec_send_frame(encoder_.get(), frame);
    if (rc < 0) throw VideoError(job_.output + ": the encoder failed (" + AvError(rc) + ")");
    for (;;) {
      rc = avcodec_receive_packet(encoder_.get(), packet_.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
      if (rc < 0) throw VideoError(job_.output + ": the encoder failed (" + AvError(rc) + ")");
      av_packet_rescale_ts(packet_.get(), encoder_->time_base, videoOut_->time_base);
      packet_->stream_index = videoOut_->index;
      rc = av_interleaved_write_frame(output_.get(), packet_.get());
      if (rc < 0) throw VideoError(job_.output + ": cannot write (" + AvError(rc) + ")");
    }
  }

  const VideoJob& job_;
  OutputKind kind_;
  SourceInfo source_;
  bool copyAudio_;
  std::string temp_;
  std::unique_ptr<AVFormatContext, OutputClose> output_;
  CodecPtr encoder_;
  AVStream* videoOut_ = nullptr;
  AVStream* audioOut_ = nullptr;
  SwsPtr sws_;
  FramePtr frame_;
  PacketPtr packet_;
  std::vector<std::uint8_t> bgr_;
  int bgrStride_ = 0;
  std::int64_t lastPts_ = AV_NOPTS_VALUE;
  bool done_ = false;
};

bool LooksLikeStill(const std::string& path) {
  return IsSupportedExtension(path);
}

}  // namespace

bool IsStillPattern(const std::string& output) {
  const std::size_t at = output.find('%');
  if (at == std::string::npos) return false;
  std::size_t end = at + 1;
  while (end < output.size() && std::isdigit(static_cast<unsigned char>(output[end]))) ++end;
  return end < output.size() && output[end] == 'd' && output.find('%', end) == std::string::npos &&
         IsSupportedExtension(output);
}

void CheckVideoOutput(const VideoJob& job) {
  const OutputKind kind = KindOf(job.output);
  if (kind == OutputKind::Stills) {
    std::string error;
    if (!CheckPictureTarget(StillName(job.output, 0), error)) throw VideoError(error);
    return;
  }
  if (!avcodec_find_encoder_by_name(EncoderName(kind)))
    throw VideoError(job.output + ": the encoder " + EncoderName(kind) + " is not available");
  const fs::path parent = fs::path(job.output).parent_path();
  std::error_code ec;
  if (!parent.empty() && !fs::is_directory(parent, ec))
    throw VideoError(job.output + ": the folder " + parent.string() + " does not exist");
  if (fs::exists(job.output, ec) && !fs::is_regular_file(job.output, ec))
    throw VideoError(job.output + ": is not a regular file");
  for (const std::string& in : job.inputs)
    if (fs::equivalent(in, job.output, ec)) throw VideoError(job.output + ": is the input itself");
}

VideoResult RunVideo(const VideoJob& job, const std::function<void(const VideoProgress&)>& progress) {
  QuietFFmpeg();
  CheckVideoOutput(job);
  if (job.inputs.empty()) throw VideoError("no input");
  const bool stills = job.inputs.size() > 1 || LooksLikeStill(job.inputs.front());
  std::unique_ptr<Source> source;
  if (stills)
    source = std::make_unique<StillsSource>(job.inputs, job.fps);
  else
    source = std::make_unique<FileSource>(job.inputs.front(), job.threads);
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
    sink = std::make_unique<StillsSink>(job.output, job.quality);
  else
    sink = std::make_unique<ContainerSink>(job, kind, info, copyAudio);

  const FrameSelection& sel = job.selection;
  // The frames to expect, for the progress bar (times from the nominal rate).
  std::int64_t total = -1;
  if (info.frameCount > 0) {
    total = 0;
    const double rate = av_q2d(info.frameRate);
    for (std::int64_t i = sel.first; i <= std::min(sel.last, info.frameCount - 1); ++i)
      if (sel.InCut(i, double(i) / rate) && sel.OutputIndex(i)) ++total;
  }

  // Three stages joined by short queues: decoding, the miniature, encoding.
  constexpr std::size_t kQueueDepth = 2;
  BoundedQueue<Item> decoded(kQueueDepth), finished(kQueueDepth);
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
          [&](std::int64_t index, double seconds, std::int64_t pts, const std::function<TBitmap()>& picture) {
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
            item.picture = picture();
            item.settings = job.recipe ? job.recipe->At(index, seconds) : job.settings;
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
    while (std::optional<Item> item = decoded.Pop()) {
      if (!item->audio) {
        item->picture = MiniatureFrame(item->picture, item->settings);
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

// Reading a run's frames: a video file through libavformat and
// libavcodec (frames turned to BGR in the stream's own matrix and range,
// audio packets held back until their time comes, damage and early ends
// reported), or a list of stills of one size taken as frames.

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "codecs/picture_io.h"
#include "imaging/interleave.h"
#include "imaging/size_limits.h"
#include "video/video_internal.h"

namespace video_internal {
namespace {

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

}  // namespace

void QuietFFmpeg() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_WARNING);
    av_log_set_callback(KeepLogMessage);
  });
}

namespace {

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

// Whether a format carries colour difference planes (the YUV formats,
// packed, planar or semi-planar, of any depth).
bool HasChroma(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d && d->nb_components >= 3 && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
}

// Decoded frames to 8-bit BGR pictures, honouring each frame's matrix and
// range, with libswscale's accurate full-chroma path (bicubic chroma).
// From YUV the converter writes planar G, B and R: the same bytes as its
// packed BGR output (the same sums, term for term), but through its SIMD
// kernels instead of a per-pixel C loop, about four times faster; the
// planes are then interleaved into the picture's rows.
class ToBgr {
 public:
  void Convert(const AVFrame& frame, TBitmap& picture) {
    bool full = frame.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = PlainFormat(AVPixelFormat(frame.format), full);
    const int matrix = SwsMatrix(frame.colorspace, frame.height);
    const int w = frame.width, h = frame.height;
    if (!sws_ || format != format_ || w != width_ || h != height_ || full != full_ || matrix != matrix_) {
      planar_ = HasChroma(format);
      sws_.reset(sws_getContext(w, h, format, w, h, planar_ ? AV_PIX_FMT_GBRP : AV_PIX_FMT_BGR24,
                                SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr,
                                nullptr));
      if (!sws_)
        throw VideoError("cannot convert frames of pixel format " +
                         std::string(av_get_pix_fmt_name(format) ? av_get_pix_fmt_name(format) : "?"));
      const int* coefficients = sws_getCoefficients(matrix);
      sws_setColorspaceDetails(sws_.get(), coefficients, full ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                               0, 1 << 16, 1 << 16);
      format_ = format;
      width_ = w;
      height_ = h;
      full_ = full;
      matrix_ = matrix;
      stride_ = FFALIGN(planar_ ? w : w * 3, 64);
      buffer_.assign(std::size_t(stride_) * h * (planar_ ? 3 : 1) + 64, 0);
    }
    std::uint8_t* dst[4] = {buffer_.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {stride_, 0, 0, 0};
    if (planar_)
      for (int p = 1; p < 3; ++p) {
        dst[p] = buffer_.data() + std::size_t(p) * stride_ * h;
        dstStride[p] = stride_;
      }
    sws_scale(sws_.get(), frame.data, frame.linesize, 0, h, dst, dstStride);
    if (!picture.Fits(w, h, pf24bit)) picture = TBitmap::ForOverwrite(w, h, pf24bit);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* out = picture.ScanLine(y);
      const std::size_t row = std::size_t(y) * stride_;
      if (!planar_) {
        std::memcpy(out, dst[0] + row, std::size_t(w) * 3);
        continue;
      }
      InterleaveBgr(dst[1] + row, dst[0] + row, dst[2] + row, out, w);
    }
  }

 private:
  SwsPtr sws_;
  AVPixelFormat format_ = AV_PIX_FMT_NONE;
  int width_ = 0, height_ = 0, matrix_ = -1, stride_ = 0;
  bool full_ = false, planar_ = false;
  std::vector<std::uint8_t> buffer_;
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
      const auto picture = [&](TBitmap& into) {
        TBitmap p = i == 0 ? first_ : Read(i);
        if (p.Width() != info_.width || p.Height() != info_.height)
          throw VideoError(paths_[i] + ": " + std::to_string(p.Width()) + " x " + std::to_string(p.Height()) +
                           ", but the first still is " + std::to_string(info_.width) + " x " +
                           std::to_string(info_.height));
        into = std::move(p);
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
    decoder_->thread_count = DecoderThreads(threads);
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
        going = frame(index, seconds, rel, [&](TBitmap& into) { bgr_.Convert(*decoded, into); });
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

}  // namespace

std::unique_ptr<Source> OpenVideoSource(const std::string& path, int threads) {
  return std::make_unique<FileSource>(path, threads);
}

std::unique_ptr<Source> OpenStillsSource(const std::vector<std::string>& paths, double fps) {
  return std::make_unique<StillsSource>(paths, fps);
}

}  // namespace video_internal

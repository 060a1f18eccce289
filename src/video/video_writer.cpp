// Writing a run's frames: H.264, VP9 or FFV1 in a container through
// libavcodec and libavformat (4:2:0 in the source's matrix and range, the
// audio copied packet for packet, the file written under a temporary name
// and renamed when complete), or a still per frame; and the check of an
// output name before any work.

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include "codecs/picture_io.h"
#include "video/video_internal.h"

namespace fs = std::filesystem;

namespace video_internal {

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
  const std::string conversion = pattern.substr(at, end - at) + "lld";
  char text[64];
  std::snprintf(text, sizeof text, conversion.c_str(), static_cast<long long>(number));
  return pattern.substr(0, at) + text + pattern.substr(end + 1);
}

namespace {

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
    int rc = av_frame_make_writable(frame_.get());
    if (rc < 0) throw VideoError(job_.output + ": " + AvError(rc));
    // The converter may read a little past a row's end. The picture is
    // stored bottom row first, so past each row but the top one lies the
    // row above it: the top rows go through a small padded buffer, the
    // rest straight from the picture (a negative stride walks it down),
    // in order from the top: the same output as the whole frame in one call.
    const int rows = std::min(kPaddedRows, h);
    for (int y = 0; y < rows; ++y)
      std::memcpy(bgr_.data() + std::size_t(y) * bgrStride_, item.picture.ScanLine(y), std::size_t(w) * 3);
    const std::uint8_t* src[4] = {bgr_.data(), nullptr, nullptr, nullptr};
    int srcStride[4] = {bgrStride_, 0, 0, 0};
    sws_scale(sws_.get(), src, srcStride, 0, rows, frame_->data, frame_->linesize);
    if (rows < h) {
      src[0] = item.picture.ScanLine(rows);
      srcStride[0] = int(item.picture.RowStep());
      sws_scale(sws_.get(), src, srcStride, rows, h - rows, frame_->data, frame_->linesize);
    }
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
    c->thread_count = EncoderThreads(job_.threads);
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
    bgr_.assign(std::size_t(bgrStride_) * kPaddedRows + 64, 0);
    packet_ = NewPacket();
  }

  static constexpr int kPaddedRows = 16;

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

}  // namespace

std::unique_ptr<Sink> MakeStillsSink(const std::string& pattern, int quality) {
  return std::make_unique<StillsSink>(pattern, quality);
}

std::unique_ptr<Sink> MakeContainerSink(const VideoJob& job, OutputKind kind, const SourceInfo& source,
                                        bool copyAudio) {
  return std::make_unique<ContainerSink>(job, kind, source, copyAudio);
}

}  // namespace video_internal

using video_internal::EncoderName;
using video_internal::KindOf;
using video_internal::OutputKind;
using video_internal::StillName;

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

// Videos through the miniature effect, on FFmpeg's libraries.
//
// Input: any container and codec libavformat and libavcodec read, or a
// list of stills (BMP, JPEG, GIF, PNG; all of one size) taken as frames at
// `fps`. Output, by the extension: ".mp4" (H.264 through libx264),
// ".webm" (VP9 through libvpx), ".mkv" (FFV1, lossless BGR), or a still
// per frame when the name holds a printf number ("out/frame_%05d.png"),
// numbered by output frame.
//
// Colour: each decoded frame is turned into 8-bit BGR by libswscale with
// the matrix (BT.601, BT.709, BT.2020, ...) and range (limited 16-235 or
// full 0-255) the stream declares; an untagged stream is taken as BT.709
// from 720 lines up and BT.601 below, limited range (full for the "J"
// formats). H.264 and VP9 outputs are 4:2:0 in the source's matrix and
// range (BT.709 limited, or BT.601 below 720 lines, for stills and RGB
// sources) and say so in their stream tags. FFV1 and stills keep BGR as it is.
//
// Audio: the source's first audio stream is copied packet for packet when
// the timing stays the source's (no --speed) and the output container
// takes its codec; otherwise it is dropped, with a note.
//
// Every output frame, before the encoder, is the render path's result
// (MiniatureEngine::RenderLook) for the decoded frame and that frame's
// look. Nothing half-written is left: a video is written to a temporary
// name and renamed when complete; stills of a run that fails are removed
// again.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "codecs/picture_io.h"
#include "engine/recipe.h"
#include "video/frame_selection.h"

// A failure that names the file and what is wrong.
struct VideoError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct VideoJob {
  std::vector<std::string> inputs;  // one video, or stills in frame order
  std::string output;
  double fps = 25;  // for stills
  int crf = -1;     // -1: the encoder's default (H.264 23, VP9 32)
  std::string preset = "medium";
  int quality = kDefaultJpegQuality;  // JPEG stills
  Look look;
  std::optional<Recipe> recipe;
  TBitmap protect{0, 0, pf8bit}, depth{0, 0, pf8bit};  // the lens look's mask and map, if any
  FrameSelection selection;
  int threads = 0;  // codec threads; 0: all cores to the encoder, half to the decoder
};

struct VideoProgress {
  std::int64_t frames = 0;  // written so far
  std::int64_t total = -1;  // expected, -1 when unknown
  double seconds = 0;       // since the start
};

struct VideoResult {
  std::int64_t frames = 0;
  std::vector<std::string> notes;  // what was dropped and why
};

// True when `output` names a series of stills: one printf number ("%d",
// "%05d") and a picture extension, as in "out/frame_%05d.png".
bool IsStillPattern(const std::string& output);

// Checks the output name and the codecs it needs before any work.
void CheckVideoOutput(const VideoJob& job);

// Runs the job: decoding, the miniature and encoding on three threads
// joined by short queues, so memory stays bounded whatever the length.
// Throws VideoError.
VideoResult RunVideo(const VideoJob& job, const std::function<void(const VideoProgress&)>& progress);

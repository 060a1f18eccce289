// HEIF (HEVC, ".heic"/".heif") and AVIF (AV1, ".avif") files through
// libheif, with its libde265/dav1d decoders and x265/aom encoders.
//
// Reads: the primary image (thumbnails and further images are left alone;
// its depth image on its own, for the lens look), with the file's crop, rotation and mirroring applied by
// libheif, so the EXIF orientation is not applied again after it. 8-bit
// pictures come as libheif's own RGB conversion gives them; 10- and 12-bit
// ones are decoded to 16-bit channels and reduced to 8 bits by rounding,
// (v * 255 + max / 2) / max with max = 2^bits - 1. Alpha is composited over
// white as for PNG.
//
// Grids (how phones store large pictures: 512 x 512 tiles) without alpha
// and with no transformation but turns and mirrors are decoded a tile at
// a time, as many tiles at once as there are threads, each converted as
// libheif converts the whole (so the bytes are those of a whole decode)
// and put where the file's turns and mirrors take it. libheif then holds
// a few tiles, not the whole canvas twice over (coded planes and RGB),
// which for a 200-megapixel picture is the difference between fitting in
// memory or not.
//
// Memory: the size of the primary image (after rotation) is checked
// against the picture limits, and libheif's own limit is set to our side,
// before anything is decoded; then libheif's limit is lowered to the
// longer declared side (with a margin, and not below 2048). The budget
// covers our rows plus what libheif holds at its peak: the decoded planes
// (up to 16-bit 4:4:4 with alpha), the interleaved RGB(A) picture and,
// when the picture is turned, its turned copy, of the whole canvas (a
// grid's comes from its grid item, not from the declared size) or, tile by
// tile, of one tile per thread.
//
// Writes: 8-bit RGB, converted by libheif to YCbCr 4:2:0, coded by x265
// (HEIC) or aom (AVIF) at the lossy quality of the encoder, which takes the
// same 1 to 100 as --quality. EXIF, XMP and the colour profile are stored
// as libheif stores them (Exif item, "mime" item, "prof" colour box); IPTC
// has no place in the format and is left out with a warning.
#include <libheif/heif.h>
#include <libheif/heif_properties.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "codecs/codec.h"
#include "imaging/parallel.h"

namespace codecs {
namespace {

struct HeifDeleter {
  void operator()(heif_context* p) const { heif_context_free(p); }
  void operator()(heif_image_handle* p) const { heif_image_handle_release(p); }
  void operator()(heif_image* p) const { heif_image_release(p); }
  void operator()(heif_encoder* p) const { heif_encoder_release(p); }
  void operator()(heif_decoding_options* p) const { heif_decoding_options_free(p); }
};
template <typename T>
using HeifPtr = std::unique_ptr<T, HeifDeleter>;

// libheif's message, without the line break some of them end in.
std::string Message(const heif_error& e) {
  std::string text = e.message != nullptr ? e.message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "the file cannot be decoded" : text;
}

// Opens `data` (not copied) and finds its primary image.
bool OpenPrimary(ByteView data, const char* format, const std::string& path, HeifPtr<heif_context>& context,
                 HeifPtr<heif_image_handle>& handle, std::string& error) {
  context.reset(heif_context_alloc());
  if (!context) {
    error = FormatError(format, "out of memory", path);
    return false;
  }
  heif_context_set_maximum_image_size_limit(context.get(), int(kMaxPictureSide));
  heif_error e = heif_context_read_from_memory_without_copy(context.get(), data.data(), data.size(), nullptr);
  if (e.code != heif_error_Ok) {
    error = FormatError(format, Message(e), path);
    return false;
  }
  heif_image_handle* primary = nullptr;
  e = heif_context_get_primary_image_handle(context.get(), &primary);
  handle.reset(primary);
  if (e.code != heif_error_Ok) {
    error = FormatError(format, Message(e), path);
    return false;
  }
  return true;
}

// One row of libheif's interleaved RGB(A), 8 or 16 (little-endian) bits a
// channel, as blue, green, red: deep values reduced to 8 bits by rounding
// from `max`, alpha composited over white.
void ToBgr(const std::uint8_t* src, int count, unsigned channels, bool deep, unsigned max,
           std::uint8_t* dst) {
  for (int x = 0; x < count; ++x, dst += 3) {
    unsigned c[4];
    for (unsigned k = 0; k < channels; ++k) {
      if (deep) {
        const std::uint8_t* p = src + (std::size_t(x) * channels + k) * 2;
        const unsigned v = std::min<unsigned>(unsigned(p[0] | p[1] << 8), max);
        c[k] = (v * 255 + max / 2) / max;
      } else {
        c[k] = src[std::size_t(x) * channels + k];
      }
    }
    if (channels == 4) {
      for (int k = 0; k < 3; ++k) c[k] = OverWhite(c[k], c[3]);
    }
    dst[0] = std::uint8_t(c[2]), dst[1] = std::uint8_t(c[1]), dst[2] = std::uint8_t(c[0]);
  }
}

// Where a pixel of the stored canvas is shown, after the item's turns and
// mirrors in their order: (x, y) goes to (ax x + bx y + cx, ay x + by y + cy)
// of a width x height picture.
struct Placement {
  int ax = 1, bx = 0, cx = 0, ay = 0, by = 1, cy = 0;
  int width = 0, height = 0;

  bool Identity() const { return ax == 1 && by == 1 && bx == 0 && ay == 0; }
  // A quarter turn anticlockwise: (x, y) to (y, width - 1 - x).
  void Turn() {
    const Placement p = *this;
    ax = p.ay, bx = p.by, cx = p.cy;
    ay = -p.ax, by = -p.bx, cy = p.width - 1 - p.cx;
    std::swap(width, height);
  }
  void FlipTopBottom() { ay = -ay, by = -by, cy = height - 1 - cy; }
  void FlipLeftRight() { ax = -ax, bx = -bx, cx = width - 1 - cx; }
};

// The placement of a grid's canvas, when every transformation of the item
// is a turn or a mirror and the result has the declared size.
bool GridPlacement(heif_context* heif, const heif_image_handle* handle, const heif_image_tiling& tiling,
                   int width, int height, Placement& place, std::vector<HeifPtr<heif_image_handle>>& tiles) {
  // Tiles that exactly cover the canvas: none wholly outside, none missing.
  // (Grids that fail a check here go to the whole decode, which reports
  // them as libheif finds them.)
  const auto covers = [](std::uint64_t count, std::uint64_t tile, std::uint64_t side) {
    return tile >= 1 && tile <= std::uint64_t(kMaxPictureSide) && count * tile >= side &&
           (count - 1) * tile < side;
  };
  if (!covers(tiling.num_columns, tiling.tile_width, tiling.image_width) ||
      !covers(tiling.num_rows, tiling.tile_height, tiling.image_height))
    return false;
  // Every tile an image item, row by row: each is decoded as an image of
  // its own (as libheif's own whole decode does), not through libheif's
  // tile calls on the grid, which crash on a grid that names anything but
  // an image and share one error message between threads.
  tiles.clear();
  for (std::uint32_t ty = 0; ty < tiling.num_rows; ++ty) {
    for (std::uint32_t tx = 0; tx < tiling.num_columns; ++tx) {
      heif_item_id id = 0;
      heif_image_handle* raw = nullptr;
      if (heif_image_handle_get_grid_image_tile_id(handle, 0, tx, ty, &id).code != heif_error_Ok ||
          heif_context_get_image_handle(heif, id, &raw).code != heif_error_Ok)
        return false;
      tiles.emplace_back(raw);
    }
  }
  place.width = int(tiling.image_width), place.height = int(tiling.image_height);
  const heif_item_id item = heif_image_handle_get_item_id(handle);
  const int count = heif_item_get_transformation_properties(heif, item, nullptr, 0);
  std::vector<heif_property_id> ids(std::size_t(std::max(count, 0)));
  if (count > 0 && heif_item_get_transformation_properties(heif, item, ids.data(), count) != count)
    return false;
  for (const heif_property_id id : ids) {
    switch (heif_item_get_property_type(heif, item, id)) {
      case heif_item_property_type_transform_rotation:
        for (int turns = heif_item_get_property_transform_rotation_ccw(heif, item, id) / 90 % 4; turns > 0;
             --turns)
          place.Turn();
        break;
      case heif_item_property_type_transform_mirror:
        switch (heif_item_get_property_transform_mirror(heif, item, id)) {
          case heif_transform_mirror_direction_vertical:
            place.FlipTopBottom();
            break;
          case heif_transform_mirror_direction_horizontal:
            place.FlipLeftRight();
            break;
          default:
            return false;
        }
        break;
      default:  // a crop: the whole decode handles it
        return false;
    }
  }
  return place.width == width && place.height == height;
}

// Decodes a grid without alpha tile by tile into `picture` (see the top).
bool DecodeGrid(const std::vector<HeifPtr<heif_image_handle>>& tiles, const heif_image_tiling& tiling,
                const Placement& place, bool deep, const char* format, const std::string& path,
                TBitmap& picture, std::string& error) {
  TBitmap out = TBitmap::ForDecode(place.width, place.height);
  std::vector<std::uint8_t*> rows(std::size_t(place.height));
  for (int y = 0; y < place.height; ++y) rows[std::size_t(y)] = out.ScanLine(y);
  const int columns = int(tiling.num_columns), tileWidth = int(tiling.tile_width);
  const int tileHeight = int(tiling.tile_height);
  const int canvasWidth = int(tiling.image_width), canvasHeight = int(tiling.image_height);
  // The first failing tile's message, whichever thread meets it.
  std::mutex failure;
  int failedTile = -1;
  const auto fail = [&](int tile, const std::string& what) {
    const std::lock_guard<std::mutex> lock(failure);
    if (failedTile < 0 || tile < failedTile) failedTile = tile, error = FormatError(format, what, path);
  };
  HeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
  if (!options) {
    error = FormatError(format, "out of memory", path);
    return false;
  }
  options->ignore_transformations = 1;  // Placement turns the canvas
  const heif_chroma chroma = deep ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB;
  ParallelFor(columns * int(tiling.num_rows), [&](int tile) {
    const int tx = tile % columns, ty = tile / columns;
    heif_image* decoded = nullptr;
    const heif_error e = heif_decode_image(tiles[std::size_t(tile)].get(), &decoded, heif_colorspace_RGB,
                                           chroma, options.get());
    const HeifPtr<heif_image> image(decoded);
    if (e.code != heif_error_Ok || !image) return fail(tile, Message(e));
    const int x0 = tx * tileWidth, y0 = ty * tileHeight;
    const int w = std::min(heif_image_get_width(image.get(), heif_channel_interleaved), canvasWidth - x0);
    const int h = std::min(heif_image_get_height(image.get(), heif_channel_interleaved), canvasHeight - y0);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || w < std::min(tileWidth, canvasWidth - x0) ||
        h < std::min(tileHeight, canvasHeight - y0))
      return fail(tile, "a tile does not have its declared size");
    const int bits = deep ? heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) : 8;
    if (bits < 1 || bits > 16) return fail(tile, "unsupported bit depth");
    std::vector<std::uint8_t> row(std::size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* src = plane + std::size_t(y) * std::size_t(stride);
      const int cy = y0 + y;
      if (place.Identity()) {
        ToBgr(src, w, 3, deep, (1u << bits) - 1, rows[std::size_t(cy)] + std::size_t(x0) * 3);
        continue;
      }
      ToBgr(src, w, 3, deep, (1u << bits) - 1, row.data());
      for (int x = 0; x < w; ++x) {
        const int cx = x0 + x;
        std::memcpy(rows[std::size_t(place.ay * cx + place.by * cy + place.cy)] +
                        std::size_t(place.ax * cx + place.bx * cy + place.cx) * 3,
                    &row[std::size_t(x) * 3], 3);
      }
    }
  });
  if (failedTile >= 0) return false;
  picture = std::move(out);
  return true;
}

// Decodes the primary image of `data` into `picture`, with `format` in
// every message.
bool Decode(ByteView data, const char* format, const DecodeContext& context, TBitmap& picture,
            std::string& error) {
  const std::string& path = context.path;
  HeifPtr<heif_context> heif;
  HeifPtr<heif_image_handle> handle;
  if (!OpenPrimary(data, format, path, heif, handle, error)) return false;
  const int width = heif_image_handle_get_width(handle.get());
  const int height = heif_image_handle_get_height(handle.get());
  if (!CheckDeclaredSize(format, width, height, path, error)) return false;
  const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle.get()) > 8 ||
                    heif_image_handle_get_chroma_bits_per_pixel(handle.get()) > 8;
  // libheif's own limit holds each side of whatever it builds to about the
  // longer declared side. (Coded pictures are padded to whole coding
  // blocks, and a grid's tiles may be larger than a small canvas: hence
  // the margin and the floor.)
  const int longer = std::max(width, height);
  heif_context_set_maximum_image_size_limit(heif.get(), std::max(longer + 128, 2048));
  // libheif's peak, per pixel of what it decodes at once: the coded planes
  // (up to 16-bit 4:4:4 with alpha) and the converted picture, twice when
  // it turns it. That is the canvas (a grid's comes from its grid item,
  // not from the declared size), or a tile per thread for a grid decoded
  // tile by tile.
  const std::uint64_t channelBytes = deep ? 2 : 1, channels = alpha ? 4 : 3;
  const std::uint64_t perPixel = 4 * 2 + 2 * channels * channelBytes;
  heif_image_tiling tiling{};
  if (heif_image_handle_get_image_tiling(handle.get(), 0, &tiling).code != heif_error_Ok)
    tiling = heif_image_tiling{
        1, 1, 1, std::uint32_t(width), std::uint32_t(height), std::uint32_t(width), std::uint32_t(height), 0,
        0, 0, {}};
  Placement place;
  std::vector<HeifPtr<heif_image_handle>> tiles;
  if (!alpha && std::uint64_t(tiling.num_columns) * tiling.num_rows > 1 &&
      tiling.number_of_extra_dimensions == 0 &&
      GridPlacement(heif.get(), handle.get(), tiling, width, height, place, tiles)) {
    const std::uint64_t tile = std::uint64_t(tiling.tile_width + 128) * (tiling.tile_height + 128);
    const std::uint64_t theirs = std::uint64_t(ThreadCount()) * tile * perPixel;
    if (!CheckMemory(format, RowStore::Cost(width, height) + theirs, context, error)) return false;
    return DecodeGrid(tiles, tiling, place, deep, format, path, picture, error);
  }
  const std::uint64_t canvas = std::uint64_t(std::max<std::uint64_t>(tiling.image_width, width) + 128) *
                               (std::max<std::uint64_t>(tiling.image_height, height) + 128);
  if (!CheckMemory(format, RowStore::Cost(width, height) + canvas * perPixel, context, error)) return false;

  HeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
  if (!options) {
    error = FormatError(format, "out of memory", path);
    return false;
  }
  options->ignore_transformations = 0;
  const heif_chroma chroma =
      deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
           : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  heif_image* decoded = nullptr;
  const heif_error e = heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, chroma, options.get());
  HeifPtr<heif_image> image(decoded);
  if (e.code != heif_error_Ok || !image) {
    error = FormatError(format, Message(e), path);
    return false;
  }
  if (heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
      heif_image_get_height(image.get(), heif_channel_interleaved) != height) {
    error = FormatError(format, "the decoded picture does not have its declared size", path);
    return false;
  }
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (plane == nullptr) {
    error = FormatError(format, "the decoded picture has no pixels", path);
    return false;
  }
  const int bits = deep ? heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) : 8;
  if (bits < 1 || bits > 16) {
    error = FormatError(format, "unsupported bit depth", path);
    return false;
  }
  const unsigned max = (1u << bits) - 1;
  RowStore rows(width, height, TRGBTriple{0, 0, 0});
  for (int y = 0; y < height; ++y) {
    std::uint8_t* dst = rows.Row(y, false);  // every pixel is written
    if (dst == nullptr) {
      error = FormatError(format, "out of memory", path);
      return false;
    }
    ToBgr(plane + std::size_t(y) * std::size_t(stride), width, unsigned(channels), deep, max, dst);
  }
  picture = rows.Take();
  return true;
}

heif_error AppendOutput(heif_context*, const void* data, size_t size, void* userdata) {
  try {
    Bytes* out = static_cast<Bytes*>(userdata);
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
  } catch (...) {
    return heif_error{heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
  }
}

bool Encode(const TBitmap& picture, heif_compression_format compression, const char* format,
            const EncodeContext& context, Bytes& data, std::string& error) {
  const std::string& path = context.path;
  const auto fail = [&](const heif_error& e) {
    error = FormatError(format, Message(e), path);
    return false;
  };
  HeifPtr<heif_context> heif(heif_context_alloc());
  if (!heif) return fail({heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"});
  heif_encoder* rawEncoder = nullptr;
  heif_error e = heif_context_get_encoder_for_format(heif.get(), compression, &rawEncoder);
  HeifPtr<heif_encoder> encoder(rawEncoder);
  if (e.code != heif_error_Ok) return fail(e);
  if ((e = heif_encoder_set_lossy_quality(encoder.get(), context.quality)).code != heif_error_Ok)
    return fail(e);
  const int width = picture.Width(), height = picture.Height();
  heif_image* rawImage = nullptr;
  e = heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &rawImage);
  HeifPtr<heif_image> image(rawImage);
  if (e.code != heif_error_Ok) return fail(e);
  if ((e = heif_image_add_plane(image.get(), heif_channel_interleaved, width, height, 8)).code !=
      heif_error_Ok)
    return fail(e);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = picture.ScanLine(y);
    std::uint8_t* dst = plane + std::size_t(y) * std::size_t(stride);
    for (int x = 0; x < width; ++x, src += 3, dst += 3) dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
  }
  const TSaveMetadata* meta = context.metadata;
  if (meta != nullptr && !meta->icc.empty()) {
    e = heif_image_set_raw_color_profile(image.get(), "prof", meta->icc.data(), meta->icc.size());
    if (e.code != heif_error_Ok) return fail(e);
  }
  heif_image_handle* rawHandle = nullptr;
  e = heif_context_encode_image(heif.get(), image.get(), encoder.get(), nullptr, &rawHandle);
  HeifPtr<heif_image_handle> handle(rawHandle);
  if (e.code != heif_error_Ok) return fail(e);
  if (meta != nullptr) {
    // libheif puts the offset of the TIFF header in front of the EXIF data.
    if (!meta->exif.empty() && (e = heif_context_add_exif_metadata(heif.get(), handle.get(),
                                                                   meta->exif.data(), int(meta->exif.size())))
                                       .code != heif_error_Ok)
      return fail(e);
    if (!meta->xmp.empty() &&
        (e = heif_context_add_XMP_metadata(heif.get(), handle.get(), meta->xmp.data(), int(meta->xmp.size())))
                .code != heif_error_Ok)
      return fail(e);
    if (!meta->iptc.empty())
      context.Warn(FormatError(format, "IPTC data has no place in the file; left out", path));
  }
  Bytes out;
  heif_writer writer{1, AppendOutput};
  if ((e = heif_context_write(heif.get(), &writer, &out)).code != heif_error_Ok) return fail(e);
  data = std::move(out);
  return true;
}

}  // namespace

bool DecodeHeif(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  return Decode(data, "HEIF", context, picture, error);
}

bool DecodeAvif(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  return Decode(data, "AVIF", context, picture, error);
}

bool EncodeHeic(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error) {
  return Encode(picture, heif_compression_HEVC, "HEIF", context, data, error);
}

bool EncodeAvif(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error) {
  return Encode(picture, heif_compression_AV1, "AVIF", context, data, error);
}

bool ReadHeifMetadata(ByteView data, TPictureMetadata& meta, std::string& problem) {
  HeifPtr<heif_context> heif;
  HeifPtr<heif_image_handle> handle;
  std::string error;
  if (!OpenPrimary(data, "HEIF", "", heif, handle, error)) {
    problem = error;
    return false;
  }
  const int count = heif_image_handle_get_number_of_metadata_blocks(handle.get(), nullptr);
  std::vector<heif_item_id> ids(std::size_t(std::max(count, 0)));
  heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), nullptr, ids.data(), count);
  for (const heif_item_id id : ids) {
    const char* typeName = heif_image_handle_get_metadata_type(handle.get(), id);
    const char* contentName = heif_image_handle_get_metadata_content_type(handle.get(), id);
    const std::string type = typeName ? typeName : "", content = contentName ? contentName : "";
    const bool exif = type == "Exif";
    const bool xmp = type == "mime" && content == "application/rdf+xml";
    if (!exif && !xmp) continue;
    Bytes block(heif_image_handle_get_metadata_size(handle.get(), id));
    const heif_error e = heif_image_handle_get_metadata(handle.get(), id, block.data());
    if (e.code != heif_error_Ok) {
      problem = Message(e);
      return false;
    }
    if (exif) {
      // A big-endian offset from after itself to the TIFF header.
      if (block.size() < 4) {
        problem = "EXIF block too short";
        return false;
      }
      const std::uint64_t offset = std::uint64_t(block[0]) << 24 | std::uint64_t(block[1]) << 16 |
                                   std::uint64_t(block[2]) << 8 | block[3];
      if (offset > block.size() - 4) {
        problem = "EXIF block has a bad header offset";
        return false;
      }
      meta.exif.assign(block.begin() + std::ptrdiff_t(4 + offset), block.end());
    } else {
      meta.xmp.assign(block.begin(), block.end());
    }
  }
  const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle.get());
  if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
    meta.icc.resize(heif_image_handle_get_raw_color_profile_size(handle.get()));
    const heif_error e = heif_image_handle_get_raw_color_profile(handle.get(), meta.icc.data());
    if (e.code != heif_error_Ok) {
      problem = Message(e);
      return false;
    }
  }
  return true;
}

bool DecodeHeifDepth(ByteView data, TBitmap& depth) {
  HeifPtr<heif_context> context;
  HeifPtr<heif_image_handle> primary;
  std::string error;
  if (!OpenPrimary(data, "HEIF", "", context, primary, error)) return false;
  if (!heif_image_handle_has_depth_image(primary.get())) return false;
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_depth_image_IDs(primary.get(), &id, 1) < 1) return false;
  heif_image_handle* raw = nullptr;
  if (heif_image_handle_get_depth_image_handle(primary.get(), id, &raw).code != heif_error_Ok) return false;
  HeifPtr<heif_image_handle> handle(raw);
  const int width = heif_image_handle_get_width(handle.get());
  const int height = heif_image_handle_get_height(handle.get());
  if (width < 1 || height < 1 || width > 4096 || height > 4096) return false;  // depth images are small
  heif_image* decoded = nullptr;
  if (heif_decode_image(handle.get(), &decoded, heif_colorspace_monochrome, heif_chroma_monochrome, nullptr)
          .code != heif_error_Ok)
    return false;
  HeifPtr<heif_image> image(decoded);
  const int w = heif_image_get_width(image.get(), heif_channel_Y);
  const int h = heif_image_get_height(image.get(), heif_channel_Y);
  const int bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_Y);
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_Y, &stride);
  if (plane == nullptr || w < 1 || h < 1 || bits < 1 || bits > 16) return false;
  TBitmap out(w, h, pf8bit);
  const int max = (1 << bits) - 1;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = plane + std::size_t(y) * std::size_t(stride);
    std::uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const int v = bits > 8 ? s[2 * x] | (s[2 * x + 1] << 8) : s[x];
      d[x] = std::uint8_t((std::min(v, max) * 255 + max / 2) / max);
    }
  }
  for (int i = 0; i < 256; ++i)
    out.ColorTable()[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
  depth = std::move(out);
  return true;
}

}  // namespace codecs

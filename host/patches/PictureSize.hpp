#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace cvcomp {

struct PictureSize {
  std::uint64_t width;
  std::uint64_t height;
  bool operator==(const PictureSize&) const = default;
};

// The size that a picture file's header declares, read without decoding the picture, so that
// a picture too large to decode can be refused first. Knows the formats the picture source
// reads, told apart by their signatures as the decoder tells them: PNG, JPEG, BMP, TIFF (also
// BigTIFF), WebP, JPEG 2000 (JP2 and bare codestreams) and PBM/PGM/PPM. Nothing when the file
// is none of them, cannot be read or ends within its header.
std::optional<PictureSize> pictureSize(const std::filesystem::path& file);
// The same for a picture's bytes held in memory.
std::optional<PictureSize> pictureSizeOf(std::string_view bytes);

}  // namespace cvcomp

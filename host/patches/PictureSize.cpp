#include "PictureSize.hpp"

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

namespace cvcomp {

namespace {

using namespace std::string_view_literals;
using Number = std::optional<std::uint64_t>;
using Size = std::optional<PictureSize>;

// Bytes and whole numbers from anywhere in a file, or in bytes held in memory.
class HeaderReader {
 public:
  explicit HeaderReader(std::istream& in) : in_(in) {}

  // The `count` bytes at `offset`, or nothing when the file ends before.
  std::optional<std::string> bytes(std::uint64_t offset, std::size_t count) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max())) return {};
    // Reading on from the end of the last read needs no seek, which would drop the stream's
    // buffer: reading byte after byte stays cheap.
    if (offset != position_) {
      in_.clear();
      in_.seekg(static_cast<std::streamoff>(offset));
    }
    std::string text(count, '\0');
    if (!in_.read(text.data(), static_cast<std::streamsize>(count))) {
      position_.reset();
      return {};
    }
    position_ = offset + count;
    return text;
  }

  // The unsigned number of `count` bytes (at most 8) at `offset`.
  Number number(std::uint64_t offset, std::size_t count, bool bigEndian) {
    const std::optional<std::string> text = bytes(offset, count);
    if (!text) return {};
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
      value = value << 8 | static_cast<unsigned char>((*text)[bigEndian ? i : count - 1 - i]);
    return value;
  }
  Number big(std::uint64_t offset, std::size_t count) { return number(offset, count, true); }
  Number little(std::uint64_t offset, std::size_t count) { return number(offset, count, false); }

 private:
  std::istream& in_;
  std::optional<std::uint64_t> position_;
};

Size both(Number width, Number height) {
  if (!width || !height) return {};
  return PictureSize{*width, *height};
}

// The signature, then the IHDR chunk, which comes first: its length and type, width, height.
Size png(HeaderReader& file) {
  if (file.bytes(12, 4) != "IHDR") return {};
  return both(file.big(16, 4), file.big(20, 4));
}

// The code of the JPEG marker at or after `offset`, which then points past it. As the decoder
// does, bytes before the marker are passed over, and so are the fill bytes (0xFF) that may
// precede its code and a 0xFF that is followed by 0, which is no marker.
Number nextMarker(HeaderReader& file, std::uint64_t& offset) {
  for (;;) {
    Number byte = file.big(offset++, 1);
    while (byte && *byte != 0xFF) byte = file.big(offset++, 1);
    while (byte == 0xFFu) byte = file.big(offset++, 1);
    if (byte != 0u) return byte;
  }
}

// Marker segments up to the first frame header (SOF0 to SOF15 save DHT, JPG and DAC), whose
// lines and samples per line follow its length and sample precision.
Size jpeg(HeaderReader& file) {
  std::uint64_t offset = 2;  // after the start-of-image marker
  for (;;) {
    const Number marker = nextMarker(file, offset);
    if (!marker) return {};
    // TEM, RST0 to RST7 and SOI stand alone; the others carry their length.
    if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD8)) continue;
    // Scan data or the end before any frame header: nothing to decode.
    if (*marker == 0xD9 || *marker == 0xDA) return {};
    const Number length = file.big(offset, 2);
    if (!length || *length < 2) return {};
    if (*marker >= 0xC0 && *marker <= 0xCF && *marker != 0xC4 && *marker != 0xC8 &&
        *marker != 0xCC) {
      return both(file.big(offset + 5, 2), file.big(offset + 3, 2));
    }
    offset += *length;
  }
}

// The file header, then the info header: its size tells the OS/2 one of 16-bit sizes from the
// Windows ones of signed 32-bit sizes, whose negative height stands for rows stored top-down.
Size bmp(HeaderReader& file) {
  if (file.little(14, 4) == 12u) return both(file.little(18, 2), file.little(20, 2));
  const Number width = file.little(18, 4);
  const Number height = file.little(22, 4);
  if (!width || !height) return {};
  const auto magnitude = [](std::uint64_t field) {
    const auto value = static_cast<std::int64_t>(static_cast<std::int32_t>(field));
    return static_cast<std::uint64_t>(value < 0 ? -value : value);
  };
  return PictureSize{magnitude(*width), magnitude(*height)};
}

// The first image file directory: ImageWidth (256) and ImageLength (257) among its entries,
// each a tag, a type, a count and a value (SHORT, LONG or BigTIFF's LONG8). BigTIFF widens
// offsets and counts to 8 bytes.
Size tiff(HeaderReader& file, bool bigEndian, bool bigTiff) {
  const std::size_t offsetBytes = bigTiff ? 8 : 4;
  const std::size_t countBytes = bigTiff ? 8 : 2;
  const std::size_t entryBytes = bigTiff ? 20 : 12;
  const Number directory = file.number(bigTiff ? 8 : 4, offsetBytes, bigEndian);
  const Number entries = directory ? file.number(*directory, countBytes, bigEndian) : Number();
  if (!entries) return {};
  Number width, height;
  for (std::uint64_t i = 0; i < *entries && !(width && height); ++i) {
    const std::uint64_t entry = *directory + countBytes + i * entryBytes;
    const Number tag = file.number(entry, 2, bigEndian);
    const Number type = file.number(entry + 2, 2, bigEndian);
    if (!tag || !type) return {};
    const std::size_t valueBytes = *type == 3 ? 2 : *type == 4 ? 4 : *type == 16 ? 8 : 0;
    if (valueBytes == 0 || (*tag != 256 && *tag != 257)) continue;
    (*tag == 256 ? width : height) = file.number(entry + 4 + offsetBytes, valueBytes, bigEndian);
  }
  return both(width, height);
}

// The RIFF header, then the first chunk: a lossy key frame (start code, then 14-bit sizes), a
// lossless bitstream (signature, then 14-bit sizes less one) or the extended format's canvas
// (24-bit sizes less one).
Size webp(HeaderReader& file) {
  const std::optional<std::string> chunk = file.bytes(12, 4);
  if (chunk == "VP8 ") {
    if (file.bytes(23, 3) != "\x9D\x01\x2A") return {};
    const Number width = file.little(26, 2);
    const Number height = file.little(28, 2);
    if (!width || !height) return {};
    return PictureSize{*width & 0x3FFF, *height & 0x3FFF};
  }
  if (chunk == "VP8L") {
    const Number bits = file.little(21, 4);
    if (file.little(20, 1) != 0x2Fu || !bits) return {};
    return PictureSize{(*bits & 0x3FFF) + 1, (*bits >> 14 & 0x3FFF) + 1};
  }
  if (chunk == "VP8X") {
    const Number width = file.little(24, 3);
    const Number height = file.little(27, 3);
    if (!width || !height) return {};
    return PictureSize{*width + 1, *height + 1};
  }
  return {};
}

// A JPEG 2000 codestream at `start`: its SIZ segment, right after the start of the codestream,
// gives the far corner of the reference grid and the image's offset in it.
Size codestream(HeaderReader& file, std::uint64_t start) {
  if (file.bytes(start, 4) != "\xFF\x4F\xFF\x51"sv) return {};
  const Number right = file.big(start + 8, 4);
  const Number bottom = file.big(start + 12, 4);
  const Number left = file.big(start + 16, 4);
  const Number top = file.big(start + 20, 4);
  if (!right || !bottom || !left || !top || *left > *right || *top > *bottom) return {};
  return PictureSize{*right - *left, *bottom - *top};
}

// A JP2 file: boxes (a length, which 1 extends to 8 bytes further on, and a type) up to the
// contiguous codestream box.
Size jp2(HeaderReader& file) {
  std::uint64_t offset = 0;
  for (;;) {
    Number length = file.big(offset, 4);
    const std::optional<std::string> type = file.bytes(offset + 4, 4);
    if (!length || !type) return {};
    std::uint64_t header = 8;
    if (*length == 1) {
      length = file.big(offset + 8, 8);
      header = 16;
    }
    if (type == "jp2c") return codestream(file, offset + header);
    // A length of 0 runs to the end of the file, which only the codestream box may do.
    if (!length || *length < header || *length > std::numeric_limits<std::uint64_t>::max() - offset)
      return {};
    offset += *length;
  }
}

// PBM, PGM and PPM: the width and height in decimal after the magic number, among blanks and
// comments (from "#" to the end of the line).
Size pnm(HeaderReader& file) {
  std::uint64_t offset = 2;
  const auto decimal = [&]() -> Number {
    for (Number c = file.big(offset, 1);; c = file.big(++offset, 1)) {
      if (!c) return {};
      if (*c == '#') {
        while (c && *c != '\n' && *c != '\r') c = file.big(++offset, 1);
        if (!c) return {};
      } else if (*c != ' ' && (*c < '\t' || *c > '\r')) {
        break;
      }
    }
    Number value;
    // Larger than any size a frame may have, without overflowing.
    constexpr std::uint64_t kCeiling = std::uint64_t{1} << 40;
    for (Number c = file.big(offset, 1); c && *c >= '0' && *c <= '9'; c = file.big(++offset, 1))
      value = std::min(value.value_or(0) * 10 + (*c - '0'), kCeiling);
    return value;
  };
  const Number width = decimal();
  return both(width, width ? decimal() : Number());
}

}  // namespace

namespace {

Size sizeOf(HeaderReader& reader) {
  if (reader.bytes(0, 8) == "\x89PNG\r\n\x1A\n") return png(reader);
  if (reader.bytes(0, 3) == "\xFF\xD8\xFF") return jpeg(reader);
  if (reader.bytes(0, 2) == "BM") return bmp(reader);
  const std::optional<std::string> head = reader.bytes(0, 4);
  if (head == "II*\0"sv || head == "II+\0"sv) return tiff(reader, false, head->at(2) == '+');
  if (head == "MM\0*"sv || head == "MM\0+"sv) return tiff(reader, true, head->at(3) == '+');
  if (head == "RIFF" && reader.bytes(8, 4) == "WEBP") return webp(reader);
  if (reader.bytes(0, 12) == "\0\0\0\x0CjP  \r\n\x87\n"sv) return jp2(reader);
  if (head == "\xFF\x4F\xFF\x51"sv) return codestream(reader, 0);
  const std::optional<std::string> magic = reader.bytes(0, 3);
  if (magic && (*magic)[0] == 'P' && (*magic)[1] >= '1' && (*magic)[1] <= '6' &&
      std::string_view(" \t\n\v\f\r").find((*magic)[2]) != std::string_view::npos) {
    return pnm(reader);
  }
  return {};
}

}  // namespace

std::optional<PictureSize> pictureSize(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  HeaderReader reader(in);
  return sizeOf(reader);
}

std::optional<PictureSize> pictureSizeOf(std::string_view bytes) {
  std::istringstream in{std::string(bytes)};
  HeaderReader reader(in);
  return sizeOf(reader);
}

}  // namespace cvcomp

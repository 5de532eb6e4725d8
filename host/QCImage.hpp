#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "QCImagePixelBuffer.hpp"

namespace cvcomp {

struct QCRect {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
};

// Bitmap memory: 4 interleaved 8-bit channels per pixel in the order blue, green, red, alpha,
// rows top-down (the first row is the top of the picture).
struct Bitmap {
  std::shared_ptr<std::uint8_t[]> data;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t bytesPerRow = 0;

  static Bitmap allocate(std::size_t width, std::size_t height);
  std::uint8_t* row(std::size_t y) const { return data.get() + y * bytesPerRow; }
};

// What createRepresentationOfType gives for "NSBitmapImageRep": the image's pixels as a bitmap.
// The caller owns it; it keeps its memory alive on its own.
class BitmapRepresentation {
 public:
  explicit BitmapRepresentation(Bitmap bitmap) : bitmap_(std::move(bitmap)) {}
  std::uint8_t* bitmapData() const { return bitmap_.data.get(); }
  std::size_t bytesPerRow() const { return bitmap_.bytesPerRow; }
  std::size_t pixelsWide() const { return bitmap_.width; }
  std::size_t pixelsHigh() const { return bitmap_.height; }

 private:
  Bitmap bitmap_;
};

// A host image. It is backed either by a pixel buffer (rows bottom-up, as patches produce them)
// or by bitmap memory (rows top-down, as decoded pictures arrive). Every image has pixels: the
// host makes no infinite images, so no patch needs to test for one.
class QCImage {
 public:
  inline static const std::string kBitmapRepresentation = "NSBitmapImageRep";

  // Keeps the buffer alive as long as the image lives.
  explicit QCImage(std::shared_ptr<QCImagePixelBuffer> buffer);
  // An image of bitmap memory; its bounds are the bitmap's size unless given.
  explicit QCImage(Bitmap bitmap);
  QCImage(Bitmap bitmap, QCRect bounds);

  QCRect bounds() const { return bounds_; }

  // nullptr for an unknown representation type. A bitmap-backed image shares its memory with the
  // representation; a pixel-buffer image is copied upright.
  std::unique_ptr<BitmapRepresentation> createRepresentationOfType(std::string_view type) const;

  const std::shared_ptr<QCImagePixelBuffer>& pixelBuffer() const { return buffer_; }

 private:
  std::shared_ptr<QCImagePixelBuffer> buffer_;
  Bitmap bitmap_;
  QCRect bounds_;
};

}  // namespace cvcomp

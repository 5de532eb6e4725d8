#pragma once

#include <string>
#include <string_view>

#include "StudioSession.hpp"

namespace cvcomp {

// The answer to GET /api/picture?port=ID.PORT.
struct PictureAnswer {
  int status = 200;
  std::string type;     // "image/png", or "application/json" for a refusal
  std::string headers;  // header lines, each ending in CRLF
  std::string body;
};

// The picture the query's port holds now, whole and lossless: the very pixels that
// `cvcomp run --video x.png` writes for the same frame, as PNG. It is taken on the engine's
// thread between two frames and encoded on the caller's. Its headers say the frame it belongs to
// (X-Frame, the source's frame number) and the port's own channels (X-Channels: 1 gray, 3 BGR,
// 4 BGRA; the PNG is BGR). A query without a port as "patch.port", or a port that carries no
// pictures, is refused with 400; a port that does not exist or holds no picture now with 404; each
// as
// {"error": ".."}.
PictureAnswer pictureAnswer(StudioSession& session, std::string_view query);

}  // namespace cvcomp

#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace cvcomp {

// The studio's own folders, in the folder it was started in, made when first written to:
// pictures and videos uploaded from the page, which become inputs by their absolute path (a
// composition saved with one still runs later), and recordings.
std::filesystem::path uploadsFolder();
std::filesystem::path recordingsFolder();

// A name for a file of those folders, made from one a user gave: the last part of a path (a
// browser may send "C:\fakepath\clip.avi"), with no leading dots or spaces (no hidden file, no
// ".."), control characters, colons (which name sources, as camera:0 does), quotes or bytes that
// are not UTF-8 (each becomes "_"), at most 200 bytes long, its extension kept. Nothing when
// nothing is left.
std::optional<std::string> safeFileName(std::string_view given);

// The name `name` takes next to the files already there: `name` itself, else
// "stem-2.ext", "stem-3.ext", ... the first that `taken` says is free.
std::string freeName(const std::string& name, const std::function<bool(const std::string&)>& taken);

}  // namespace cvcomp

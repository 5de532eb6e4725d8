#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cvcomp {

// The folder of the studio's page: $CVCOMP_STUDIO_WEB when set, otherwise the source tree's
// studio/web when it is there, otherwise share/cvcomp/studio/web of the installed tree.
std::filesystem::path studioWebFolder();

// The file under `root` that the request path names ("/" names index.html), or nothing for a
// path that leaves the folder, names no regular file, or holds a NUL character.
std::optional<std::filesystem::path> staticFile(const std::filesystem::path& root,
                                                std::string_view requestPath);

// The Content-Type of a file of the page, by its extension.
std::string contentType(const std::filesystem::path& file);

}  // namespace cvcomp

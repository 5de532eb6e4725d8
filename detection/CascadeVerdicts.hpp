#pragma once

#include <filesystem>
#include <string_view>

namespace cvcomp {

// Cascade files the probe found OpenCV reads without harm, remembered across processes in the
// user's cache folder ($XDG_CACHE_HOME or ~/.cache, under cvcomp/cascades): one entry per file
// path, holding the OpenCV version, the size and a hash of the content the probe read. A file
// whose content has changed since, by a single byte, is probed again.
//
// Probing costs a process start and a second reading of the file, about 50 ms before the first
// frame on this kind of machine; a run that loads a known cascade spends well under 1 ms on
// reading and hashing it instead. Only good verdicts are kept: a file that crashed the probe or
// held no cascade is always probed again. Without a usable cache folder nothing is remembered
// and every load is probed.
bool knownToLoad(const std::filesystem::path& path, std::string_view content);
void rememberLoads(const std::filesystem::path& path, std::string_view content);

}  // namespace cvcomp

#pragma once
// Windows bitmap files of a decoded picture: "BM", file size, two reserved words, offset 54,
// the picture's 40-byte header, then its bottom-up bits.

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "media/AviTypes.h"

namespace fsv::media {

inline constexpr size_t kBmpHeaderSize = 54;

// The whole file; empty when `bits` is shorter than the header's image size.
std::vector<uint8_t> bmpBytes(const BitmapInfoHeader& header, std::span<const uint8_t> bits);
// Writes (replacing) the file; false on any file error.
bool writeBmp(const std::filesystem::path& path, const BitmapInfoHeader& header,
              std::span<const uint8_t> bits);

}  // namespace fsv::media

#include "media/Bmp.h"

#include <cstdio>

#include "platform/Bytes.h"

namespace fsv::media {

std::vector<uint8_t> bmpBytes(const BitmapInfoHeader& header, std::span<const uint8_t> bits) {
    if (bits.size() < header.sizeImage) return {};
    platform::ByteWriter w;
    w.u16(0x4D42).u32(header.sizeImage + static_cast<uint32_t>(kBmpHeaderSize)).u32(0);
    w.u32(static_cast<uint32_t>(kBmpHeaderSize));
    auto h = header.serialize();
    w.bytes(h.data(), h.size());
    w.bytes(bits.data(), header.sizeImage);
    return w.take();
}

bool writeBmp(const std::filesystem::path& path, const BitmapInfoHeader& header,
              std::span<const uint8_t> bits) {
    std::vector<uint8_t> bytes = bmpBytes(header, bits);
    if (bytes.empty()) return false;
    std::FILE* f = std::fopen(path.c_str(), "wbe");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace fsv::media

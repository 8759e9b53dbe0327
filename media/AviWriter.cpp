#include "media/AviWriter.h"

#include <algorithm>

#include "platform/Bytes.h"

namespace fsv::media {

namespace {

constexpr uint64_t kMaxRiff = 0xFFFFFFF0ull;
constexpr uint32_t kKeyFrame = 0x10;  // AVIIF_KEYFRAME
constexpr uint32_t kHasIndex = 0x10;  // AVIF_HASINDEX

// "NNdc" for compressed video, "NNdb" for uncompressed, "NNwb" audio, "NNtx" text.
uint32_t chunkId(int stream, const AviStreamInfo& info, const std::vector<uint8_t>& format) {
    char id[5] = {static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10), 't',
                  'x', 0};
    if (info.fccType == kStreamVideo) {
        auto bih = BitmapInfoHeader::parse(format);
        bool raw = bih && bih->compression == 0;
        id[2] = 'd';
        id[3] = raw ? 'b' : 'c';
    } else if (info.fccType == kStreamAudio) {
        id[2] = 'w';
        id[3] = 'b';
    }
    return fourcc(std::string_view(id, 4));
}

}  // namespace

AviWriter::~AviWriter() { abandon(); }

bool AviWriter::put(const void* data, size_t n) {
    if (failed_ || !file_) return false;
    if (n && std::fwrite(data, 1, n, file_) != n) {
        failed_ = true;
        return false;
    }
    pos_ += n;
    return true;
}

std::vector<uint8_t> AviWriter::headerBytes() const {
    using platform::ByteWriter;
    ByteWriter w;
    auto list = [&](uint32_t type, auto&& body) {
        w.u32(fourcc("LIST"));
        size_t sizeAt = w.size();
        w.u32(0).u32(type);
        body();
        w.patchU32(sizeAt, static_cast<uint32_t>(w.size() - sizeAt - 4));
    };
    auto chunk = [&](uint32_t id, std::span<const uint8_t> data) {
        w.u32(id).u32(static_cast<uint32_t>(data.size())).bytes(data);
        if (data.size() & 1) w.u8(0);
    };

    // The first video stream gives the main header its frame rate, size and frame count.
    int video = -1;
    for (size_t i = 0; i < streams_.size(); ++i)
        if (streams_[i].info.fccType == kStreamVideo) {
            video = static_cast<int>(i);
            break;
        }
    uint32_t usPerFrame = 0, width = 0, height = 0, total = 0, maxBuffer = 0;
    if (video >= 0) {
        const AviStreamInfo& v = streams_[video].info;
        if (v.rate) usPerFrame = static_cast<uint32_t>(1000000ull * v.scale / v.rate);
        width = static_cast<uint32_t>(v.frameRight - v.frameLeft);
        height = static_cast<uint32_t>(v.frameBottom - v.frameTop);
        total = static_cast<uint32_t>(lengths_[video]);
    }
    for (size_t i = 0; i < streams_.size(); ++i)
        maxBuffer = std::max({maxBuffer, streams_[i].info.suggestedBufferSize, maxSample_[i]});

    w.u32(fourcc("RIFF")).u32(0).u32(fourcc("AVI "));
    list(fourcc("hdrl"), [&] {
        w.u32(fourcc("avih")).u32(56);
        w.u32(usPerFrame).u32(0).u32(0).u32(kHasIndex).u32(total).u32(0);
        w.u32(static_cast<uint32_t>(streams_.size())).u32(maxBuffer).u32(width).u32(height);
        w.zeros(16);
        for (size_t i = 0; i < streams_.size(); ++i) {
            const AviStreamInfo& s = streams_[i].info;
            list(fourcc("strl"), [&] {
                w.u32(fourcc("strh")).u32(56);
                w.u32(s.fccType).u32(s.fccHandler).u32(s.flags).u16(s.priority).u16(s.language);
                w.u32(s.initialFrames).u32(s.scale).u32(s.rate).u32(s.start);
                w.u32(static_cast<uint32_t>(lengths_[i]));
                w.u32(std::max(s.suggestedBufferSize, maxSample_[i]));
                w.u32(s.quality).u32(s.sampleSize);
                w.i16(static_cast<int16_t>(s.frameLeft)).i16(static_cast<int16_t>(s.frameTop));
                w.i16(static_cast<int16_t>(s.frameRight));
                w.i16(static_cast<int16_t>(s.frameBottom));
                chunk(fourcc("strf"), streams_[i].format);
                if (!s.name.empty()) {
                    std::vector<uint8_t> name(s.name.begin(), s.name.end());
                    name.push_back(0);
                    chunk(fourcc("strn"), name);
                }
            });
        }
    });
    for (const ExtraChunk& e : extra_) chunk(e.id, e.data);
    return w.take();
}

bool AviWriter::open(const std::filesystem::path& path, std::vector<StreamSetup> streams,
                     std::vector<ExtraChunk> extra) {
    abandon();
    if (streams.empty() || streams.size() > 99) return false;
    streams_ = std::move(streams);
    extra_ = std::move(extra);
    lengths_.assign(streams_.size(), 0);
    maxSample_.assign(streams_.size(), 0);
    index_.clear();
    failed_ = false;
    pos_ = 0;
    file_ = std::fopen(path.c_str(), "wbe");
    if (!file_) return false;
    std::vector<uint8_t> header = headerBytes();
    platform::ByteWriter movi;
    movi.u32(fourcc("LIST")).u32(0).u32(fourcc("movi"));
    if (!put(header.data(), header.size()) || !put(movi.data().data(), movi.size())) {
        abandon();
        return false;
    }
    moviType_ = pos_ - 4;
    return true;
}

int64_t AviWriter::length(int stream) const {
    return stream >= 0 && stream < static_cast<int>(lengths_.size()) ? lengths_[stream] : 0;
}

bool AviWriter::append(int stream, std::span<const uint8_t> data, bool key) {
    return write(stream, length(stream), data, key);
}

bool AviWriter::write(int stream, int64_t position, std::span<const uint8_t> data, bool key) {
    if (!file_ || failed_ || stream < 0 || stream >= static_cast<int>(streams_.size()) ||
        position < lengths_[stream] || position > INT32_MAX)
        return false;
    const uint32_t id = chunkId(stream, streams_[stream].info, streams_[stream].format);
    const uint64_t empties = static_cast<uint64_t>(position - lengths_[stream]);
    const uint64_t need = empties * 8 + 8 + data.size() + 1 + (index_.size() + empties + 1) * 16;
    if (data.size() > kMaxRiff || pos_ + need > kMaxRiff) return false;
    uint8_t h[8];
    // Empty positions: a chunk without data keeps each one in the index.
    for (uint64_t e = 0; e < empties; ++e) {
        platform::putU32(h, id);
        platform::putU32(h + 4, 0);
        index_.push_back({id, 0, static_cast<uint32_t>(pos_ - moviType_), 0});
        if (!put(h, 8)) return false;
    }
    platform::putU32(h, id);
    platform::putU32(h + 4, static_cast<uint32_t>(data.size()));
    index_.push_back({id, key ? kKeyFrame : 0u, static_cast<uint32_t>(pos_ - moviType_),
                      static_cast<uint32_t>(data.size())});
    if (!put(h, 8) || !put(data.data(), data.size())) return false;
    if (data.size() & 1) {
        uint8_t pad = 0;
        if (!put(&pad, 1)) return false;
    }
    lengths_[stream] = position + 1;
    maxSample_[stream] = std::max(maxSample_[stream], static_cast<uint32_t>(data.size()));
    return true;
}

bool AviWriter::close() {
    if (!file_) return false;
    bool ok = !failed_;
    if (ok) {
        const uint64_t moviEnd = pos_;
        platform::ByteWriter idx;
        idx.u32(fourcc("idx1")).u32(static_cast<uint32_t>(index_.size() * 16));
        for (const IndexEntry& e : index_) idx.u32(e.ckid).u32(e.flags).u32(e.offset).u32(e.size);
        ok = put(idx.data().data(), idx.size());
        const uint64_t end = pos_;
        std::vector<uint8_t> header = headerBytes();
        platform::putU32(header.data() + 4, static_cast<uint32_t>(end - 8));
        uint8_t moviSize[4];
        platform::putU32(moviSize, static_cast<uint32_t>(moviEnd - moviType_));
        ok = ok && std::fseek(file_, 0, SEEK_SET) == 0 &&
             std::fwrite(header.data(), 1, header.size(), file_) == header.size() &&
             std::fseek(file_, static_cast<long>(moviType_ - 4), SEEK_SET) == 0 &&
             std::fwrite(moviSize, 1, 4, file_) == 4;
    }
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

void AviWriter::abandon() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace fsv::media

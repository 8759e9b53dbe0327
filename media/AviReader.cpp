#include "media/AviReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "media/VideoDecoder.h"
#include "platform/Bytes.h"

namespace fsv::media {

namespace {

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kList = fourcc("LIST");
constexpr uint32_t kAvi = fourcc("AVI ");
constexpr uint32_t kAvix = fourcc("AVIX");
constexpr uint32_t kHdrl = fourcc("hdrl");
constexpr uint32_t kStrl = fourcc("strl");
constexpr uint32_t kMovi = fourcc("movi");
constexpr uint32_t kIdx1 = fourcc("idx1");
constexpr uint32_t kStrh = fourcc("strh");
constexpr uint32_t kStrf = fourcc("strf");
constexpr uint32_t kStrn = fourcc("strn");
constexpr uint32_t kIndx = fourcc("indx");

constexpr uint64_t kMaxHeaderList = 16u << 20;  // a header list larger than this is refused
constexpr uint32_t kMaxFormat = 1u << 20;
constexpr int kNoStream = -1;

// Stream number of a chunk id "NNxx"; -1 when the first two characters are not digits.
int streamOfChunk(uint32_t id) {
    int a = static_cast<int>(id & 0xff) - '0', b = static_cast<int>((id >> 8) & 0xff) - '0';
    if (a < 0 || a > 9 || b < 0 || b > 9) return kNoStream;
    return a * 10 + b;
}

}  // namespace

// The open file: positioned reads that never go past its end.
class AviReader::File {
  public:
    explicit File(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~File() { ::close(fd_); }
    static std::unique_ptr<File> open(const std::filesystem::path& path) {
        // Opened without waiting: a FIFO would otherwise block here until something writes
        // to it. Only regular files are read; the flag is dropped again for the reads.
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return nullptr;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
            ::close(fd);
            return nullptr;
        }
        return std::make_unique<File>(fd, static_cast<uint64_t>(st.st_size));
    }
    uint64_t size() const { return size_; }
    // Small reads are served from a window of the file read ahead in one call, so that walking
    // the samples in order costs one system call per window rather than one per sample.
    bool read(uint64_t offset, void* out, size_t n) const {
        if (offset > size_ || n > size_ - offset) return false;
        if (n == 0) return true;
        if (n <= kWindow / 4) {
            if (offset < windowStart_ || offset + n > windowStart_ + window_.size()) {
                const size_t want =
                    static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - offset));
                window_.resize(want);
                if (!readDirect(offset, window_.data(), want)) {
                    window_.clear();
                    return false;
                }
                windowStart_ = offset;
            }
            std::memcpy(out, window_.data() + (offset - windowStart_), n);
            return true;
        }
        return readDirect(offset, static_cast<uint8_t*>(out), n);
    }
    bool readU32Pair(uint64_t offset, uint32_t& a, uint32_t& b) const {
        uint8_t h[8];
        if (!read(offset, h, 8)) return false;
        a = platform::getU32(h);
        b = platform::getU32(h + 4);
        return true;
    }

  private:
    static constexpr size_t kWindow = 256 * 1024;
    bool readDirect(uint64_t offset, uint8_t* p, size_t n) const {
        while (n > 0) {
            ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
            if (got <= 0) return false;
            p += got;
            n -= static_cast<size_t>(got);
            offset += static_cast<uint64_t>(got);
        }
        return true;
    }

    int fd_;
    uint64_t size_;
    mutable std::vector<uint8_t> window_;
    mutable uint64_t windowStart_ = 0;
};

namespace {

// One chunk inside a parent region, its size cut to the region.
struct Chunk {
    uint32_t id = 0;
    uint64_t data = 0;  // offset of the data
    uint64_t end = 0;   // end of the data, within the parent
    uint64_t next = 0;  // where the next chunk starts
    uint32_t declared = 0;
};

template <typename ReadHeader>
bool nextChunk(ReadHeader&& readHeader, uint64_t pos, uint64_t regionEnd, Chunk& c) {
    if (pos > regionEnd || regionEnd - pos < 8) return false;
    uint32_t id = 0, size = 0;
    if (!readHeader(pos, id, size)) return false;
    c.id = id;
    c.declared = size;
    c.data = pos + 8;
    c.end = std::min<uint64_t>(c.data + size, regionEnd);
    c.next = std::min<uint64_t>(c.data + size + (size & 1), regionEnd);
    return true;
}

}  // namespace

AviReader::AviReader() = default;
AviReader::~AviReader() { closeStreams(); }

void AviReader::closeStreams() {
    decoder_.reset();
    streams_.clear();
    file_.reset();
    riffEnd_ = 0;
    frameCount_ = 0;
    videoIndex_ = textIndex_ = -1;
    frame_.clear();
    lastDecoded_ = -1;
}

const AviStreamInfo& AviReader::streamInfo(int slot) const {
    static const AviStreamInfo none{};
    if (slot < 0 || slot >= streamCount()) return none;
    return streams_[slot].info;
}

std::span<const uint8_t> AviReader::streamFormat(int slot) const {
    if (slot < 0 || slot >= streamCount()) return {};
    return streams_[slot].format;
}

int AviReader::sampleCount(int slot) const {
    if (slot < 0 || slot >= streamCount()) return 0;
    return static_cast<int>(streams_[slot].samples.size());
}

std::optional<BitmapInfoHeader> AviReader::videoFormat() const {
    if (videoIndex_ < 0) return std::nullopt;
    return BitmapInfoHeader::parse(streams_[videoIndex_].format);
}

int AviReader::open(const std::filesystem::path& path, bool decodeFrames, const char* credential) {
    closeStreams();
    file_ = File::open(path);
    if (!file_) return 0;
    if (!parse() || streams_.empty()) {
        closeStreams();
        return 0;
    }
    for (int i = 0; i < streamCount(); ++i) {
        Stream& s = streams_[i];
        std::sort(s.keys.begin(), s.keys.end());
        if (s.info.fccType == kStreamText) textIndex_ = i;
        if (s.info.fccType != kStreamVideo) continue;
        if (decodeFrames && !openDecoder(s, credential)) continue;  // the stream is skipped
        frameCount_ = static_cast<int>(s.samples.size());
        videoIndex_ = i;
    }
    if (videoIndex_ < 0) {
        // Without a usable video stream the file cannot be used.
        closeStreams();
        return 0;
    }
    return frameCount_;
}

bool plausiblePictureSize(int width, int height, uint64_t fileSize) {
    const uint64_t pixels = uint64_t(std::max(width, 0)) * uint64_t(std::max(height, 0));
    return pixels <= kAlwaysPlausiblePixels || pixels / kPixelsPerFileByte <= fileSize;
}

bool AviReader::openDecoder(Stream& s, const char* credential) {
    auto decoder = std::make_unique<VideoDecoder>();
    auto format = BitmapInfoHeader::parse(s.format);
    if (!format) return false;
    uint32_t handler = s.info.fccHandler ? s.info.fccHandler : format->compression;
    BitmapInfoHeader output{};  // standard handlers: the decoder's own choice
    output.width = 0;
    const int formatW = format->width, formatH = std::abs(format->height);
    int w = formatW, h = formatH;
    if (!isStandardHandler(handler)) {
        if (s.info.frameRight > 0 && s.info.frameBottom > 0) {
            w = s.info.frameRight;
            h = s.info.frameBottom;
        }
        if (w >= 640 && h > 0 && static_cast<double>(w) / h > 2.0) h *= 2;
        output = BitmapInfoHeader::rgb24(w, h);
    }
    // The decoder's buffers are sized from the format and the picture asked for: a header
    // claiming a picture far larger than the whole file could hold is refused before anything
    // that size is allocated.
    if (!plausiblePictureSize(formatW, formatH, file_->size()) ||
        !plausiblePictureSize(w, h, file_->size()))
        return false;
    if (!decoder->open(handler, kFastDecompress, kHandlerTypeVideo)) return false;
    std::span<const uint8_t> extra;
    if (s.format.size() > BitmapInfoHeader::kSize)
        extra = std::span<const uint8_t>(s.format).subspan(BitmapInfoHeader::kSize);
    if (!decoder->beginWithCredential(*format, output, credential ? credential : "?:", extra))
        return false;
    decoder_ = std::move(decoder);
    lastDecoded_ = -1;
    const BitmapInfoHeader& out = decoder_->output();
    frame_.assign(BitmapInfoHeader::kSize + out.sizeImage, 0);
    auto header = out.serialize();
    std::copy(header.begin(), header.end(), frame_.begin());
    return true;
}

namespace {

// The stream header ("strh"): 48 bytes, with the frame rectangle when 56 are there.
AviStreamInfo readStreamHeader(platform::ByteReader& r, size_t size) {
    AviStreamInfo i;
    i.fccType = r.u32();
    i.fccHandler = r.u32();
    i.flags = r.u32();
    i.priority = r.u16();
    i.language = r.u16();
    i.initialFrames = r.u32();
    i.scale = r.u32();
    i.rate = r.u32();
    i.start = r.u32();
    i.length = r.u32();
    i.suggestedBufferSize = r.u32();
    i.quality = r.u32();
    i.sampleSize = r.u32();
    if (size >= 56) {
        i.frameLeft = r.i16();
        i.frameTop = r.i16();
        i.frameRight = r.i16();
        i.frameBottom = r.i16();
    }
    return i;
}

// The offsets of the "ix##" chunks an OpenDML index of indexes ("indx") names.
void readSuperIndex(platform::ByteReader& r, uint64_t fileSize, std::vector<uint64_t>& out) {
    uint16_t longsPerEntry = r.u16();
    r.u8();
    uint8_t type = r.u8();
    uint32_t inUse = r.u32();
    r.skip(4 + 12);
    if (type != 0 /* index of indexes */ || longsPerEntry != 4) return;
    for (uint32_t e = 0; e < inUse && r.remaining() >= 16; ++e) {
        uint64_t off = r.u64();
        r.skip(8);
        if (off != 0 && off < fileSize) out.push_back(off);
    }
}

// Reads chunk headers out of a header list held in memory.
auto headerIn(const std::vector<uint8_t>& hdrl) {
    return [&hdrl](uint64_t pos, uint32_t& cid, uint32_t& csize) {
        if (pos + 8 > hdrl.size()) return false;
        cid = platform::getU32(hdrl.data() + pos);
        csize = platform::getU32(hdrl.data() + pos + 4);
        return true;
    };
}

}  // namespace

// Where the parts of a file are, found by the walk over its top level.
struct AviReader::Layout {
    std::vector<std::pair<uint64_t, uint64_t>> movis;  // (offset of "movi", end)
    uint64_t idx1 = 0, idx1End = 0;
    bool haveIdx1 = false;
    std::vector<uint8_t> hdrl;
};

bool AviReader::parse() {
    Layout layout;
    if (!readTopLevel(layout)) return false;
    addLaterParts(layout.movis);
    readHeaderList(layout.hdrl);
    // OpenDML indexes first: they cover every RIFF part.
    if (readSuperIndexes()) return true;
    if (layout.haveIdx1 && !layout.movis.empty())
        readIdx1(layout);
    else
        walkMovi(layout.movis);
    return true;
}

// The first RIFF part: its header list, its "movi" list and its "idx1".
bool AviReader::readTopLevel(Layout& layout) {
    const File& f = *file_;
    uint32_t id = 0, size = 0;
    uint8_t form4[4];
    if (!f.readU32Pair(0, id, size) || id != kRiff || !f.read(8, form4, 4)) return false;
    if (platform::getU32(form4) != kAvi) return false;
    // A size of 0 is left by a writer that never finished: the RIFF runs to the end of file.
    riffEnd_ = size == 0 ? f.size() : std::min<uint64_t>(8ull + size, f.size());

    auto header = [&](uint64_t pos, uint32_t& cid, uint32_t& csize) {
        return f.readU32Pair(pos, cid, csize);
    };
    Chunk c;
    for (uint64_t pos = 12; nextChunk(header, pos, riffEnd_, c); pos = c.next) {
        // A list of size 0 is one that a writer never finished: it runs to the end of file.
        if (c.id == kList && c.declared == 0) c.end = c.next = riffEnd_;
        if (c.id == kList && c.end - c.data >= 4) {
            uint8_t t[4];
            if (!f.read(c.data, t, 4)) break;
            uint32_t type = platform::getU32(t);
            if (type == kHdrl && layout.hdrl.empty()) {
                uint64_t n = c.end - c.data - 4;
                if (n > kMaxHeaderList) return false;
                layout.hdrl.resize(n);
                if (!f.read(c.data + 4, layout.hdrl.data(), n)) return false;
            } else if (type == kMovi) {
                layout.movis.emplace_back(c.data, c.end);
                if (c.declared == 0) break;
            }
        } else if (c.id == kIdx1 && !layout.haveIdx1) {
            layout.haveIdx1 = true;
            layout.idx1 = c.data;
            layout.idx1End = c.end;
        }
        if (c.next <= pos) break;
    }
    return !layout.hdrl.empty();
}

// Later RIFF parts ("AVIX") of an OpenDML file, each with its own "movi" list.
void AviReader::addLaterParts(std::vector<std::pair<uint64_t, uint64_t>>& movis) {
    const File& f = *file_;
    auto header = [&](uint64_t pos, uint32_t& cid, uint32_t& csize) {
        return f.readU32Pair(pos, cid, csize);
    };
    Chunk c;
    uint32_t id = 0, size = 0;
    for (uint64_t pos = (riffEnd_ + 1) & ~uint64_t{1}; pos + 12 <= f.size();) {
        uint8_t t[4];
        if (!f.readU32Pair(pos, id, size) || id != kRiff || !f.read(pos + 8, t, 4) ||
            platform::getU32(t) != kAvix)
            break;
        uint64_t end = std::min<uint64_t>(pos + 8 + size, f.size());
        for (uint64_t p = pos + 12; nextChunk(header, p, end, c); p = c.next) {
            uint8_t lt[4];
            if (c.id == kList && c.end - c.data >= 4 && f.read(c.data, lt, 4) &&
                platform::getU32(lt) == kMovi)
                movis.emplace_back(c.data, c.end);
            if (c.next <= p) break;
        }
        uint64_t next = pos + 8 + size + (size & 1);
        if (next <= pos || size == 0) break;
        pos = next;
    }
}

// The header list: one "strl" list per stream, at most kMaxStreams of them.
void AviReader::readHeaderList(const std::vector<uint8_t>& hdrl) {
    auto memHeader = headerIn(hdrl);
    Chunk c;
    for (uint64_t pos = 0; nextChunk(memHeader, pos, hdrl.size(), c); pos = c.next) {
        if (c.id == kList && c.end - c.data >= 4 &&
            platform::getU32(hdrl.data() + c.data) == kStrl) {
            if (streamCount() == kMaxStreams) break;  // an eleventh stream ends the collection
            streams_.push_back(readStreamList(hdrl, c.data + 4, c.end));
        }
        if (c.next <= pos) break;
    }
}

// One "strl" list (the bytes [begin, end) of the header list) as a stream.
AviReader::Stream AviReader::readStreamList(const std::vector<uint8_t>& hdrl, uint64_t begin,
                                            uint64_t end) {
    auto memHeader = headerIn(hdrl);
    Stream s;
    bool haveHeader = false;
    Chunk sc;
    for (uint64_t p = begin; nextChunk(memHeader, p, end, sc); p = sc.next) {
        std::span<const uint8_t> body(hdrl.data() + sc.data, sc.end - sc.data);
        platform::ByteReader r(body);
        if (sc.id == kStrh && body.size() >= 48) {
            haveHeader = true;
            s.info = readStreamHeader(r, body.size());
        } else if (sc.id == kStrf && s.format.empty()) {
            s.format.assign(body.begin(), body.begin() + std::min<size_t>(body.size(), kMaxFormat));
        } else if (sc.id == kStrn) {
            s.info.name = r.fixedText(std::min<size_t>(body.size(), 64));
        } else if (sc.id == kIndx && body.size() >= 24) {
            readSuperIndex(r, file_->size(), s.superIndex);
        }
        if (sc.next <= p) break;
    }
    if (!haveHeader) s.info = AviStreamInfo{};
    if (s.info.fccType == kStreamVideo && (s.info.frameRight <= 0 || s.info.frameBottom <= 0)) {
        if (auto bih = BitmapInfoHeader::parse(s.format)) {
            s.info.frameLeft = s.info.frameTop = 0;
            s.info.frameRight = bih->width;
            s.info.frameBottom = std::abs(bih->height);
        }
    }
    return s;
}

void AviReader::addSample(int stream, uint64_t offset, uint32_t size, bool key) {
    if (stream < 0 || stream >= streamCount()) return;
    Stream& s = streams_[stream];
    Sample smp;
    smp.offset = offset;
    smp.size = size;
    smp.key = key;
    smp.valid = offset <= file_->size() && size <= file_->size() - offset;
    if (key) s.keys.push_back(static_cast<int>(s.samples.size()));
    s.samples.push_back(smp);
}

// The samples named by the streams' OpenDML chunk indexes ("ix##"); false when no stream has
// one that could be read.
bool AviReader::readSuperIndexes() {
    const File& f = *file_;
    auto header = [&](uint64_t pos, uint32_t& cid, uint32_t& csize) {
        return f.readU32Pair(pos, cid, csize);
    };
    bool any = false;
    Chunk c;
    for (int si = 0; si < streamCount(); ++si) {
        for (uint64_t ix : streams_[si].superIndex) {
            if (!nextChunk(header, ix, f.size(), c)) continue;
            uint64_t n = c.end - c.data;
            if (n < 24 || n > (256u << 20)) continue;
            std::vector<uint8_t> body(n);
            if (!f.read(c.data, body.data(), n)) continue;
            if (!readChunkIndex(si, body)) continue;
            any = true;
        }
    }
    return any;
}

// One "ix##" chunk's entries as samples of `stream`; false when it is not an index of chunks.
bool AviReader::readChunkIndex(int stream, std::span<const uint8_t> body) {
    platform::ByteReader r(body);
    uint16_t longsPerEntry = r.u16();
    r.u8();
    uint8_t type = r.u8();
    uint32_t inUse = r.u32();
    r.u32();
    uint64_t base = r.u64();
    r.u32();
    if (type != 1 /* index of chunks */ || longsPerEntry != 2) return false;
    for (uint32_t e = 0; e < inUse && r.remaining() >= 8; ++e) {
        uint32_t off = r.u32();
        uint32_t sz = r.u32();
        bool key = (sz & 0x80000000u) == 0;
        sz &= 0x7fffffffu;
        uint64_t at = base + off;
        if (at < base) at = UINT64_MAX;  // overflow: points nowhere
        addSample(stream, at, sz, key);
    }
    return true;
}

// The samples named by "idx1", read in blocks.
void AviReader::readIdx1(const Layout& layout) {
    const File& f = *file_;
    uint64_t n = layout.idx1End - layout.idx1;
    n -= n % 16;
    const uint64_t movi = layout.movis.front().first;
    // Offsets count from the "movi" type field in most files, from the file start in some:
    // the first entry that names a stream decides.
    std::optional<uint64_t> base;
    constexpr uint64_t kBlock = 16 * 4096;
    std::vector<uint8_t> buf;
    for (uint64_t at = 0; at < n; at += kBlock) {
        uint64_t len = std::min(kBlock, n - at);
        buf.resize(len);
        if (!f.read(layout.idx1 + at, buf.data(), len)) break;
        for (uint64_t e = 0; e + 16 <= len; e += 16) {
            const uint8_t* p = buf.data() + e;
            uint32_t ckid = platform::getU32(p), flags = platform::getU32(p + 4);
            uint32_t off = platform::getU32(p + 8), sz = platform::getU32(p + 12);
            int stream = streamOfChunk(ckid);
            if (stream == kNoStream || stream >= streamCount()) continue;
            if (!base) {
                uint32_t seen = 0, dummy = 0;
                if (f.readU32Pair(movi + off, seen, dummy) && seen == ckid)
                    base = movi;
                else if (f.readU32Pair(off, seen, dummy) && seen == ckid)
                    base = 0;
                else
                    base = movi;
            }
            addSample(stream, *base + off + 8, sz, (flags & 0x10) != 0);
        }
    }
}

// No index: walk the "movi" lists (and "rec " lists inside them). Key frames are then judged
// from the video data where the codec tells; otherwise only each stream's first sample counts
// as one.
void AviReader::walkMovi(const std::vector<std::pair<uint64_t, uint64_t>>& movis) {
    const File& f = *file_;
    auto header = [&](uint64_t pos, uint32_t& cid, uint32_t& csize) {
        return f.readU32Pair(pos, cid, csize);
    };
    bool scanned = false;
    std::vector<std::pair<uint64_t, uint64_t>> regions;
    for (auto& [m, end] : movis) regions.emplace_back(m + 4, end);
    Chunk c;
    for (size_t ri = 0; ri < regions.size(); ++ri) {
        auto [start, end] = regions[ri];
        for (uint64_t p = start; nextChunk(header, p, end, c); p = c.next) {
            if (c.id == kList) {
                if (c.end - c.data >= 4) regions.emplace_back(c.data + 4, c.end);
            } else {
                int stream = streamOfChunk(c.id);
                if (stream != kNoStream && stream < streamCount()) {
                    // A chunk cut by the end of file is not a whole sample.
                    if (c.data + c.declared > end) break;
                    addSample(stream, c.data, c.declared, streams_[stream].samples.empty());
                    scanned = true;
                }
            }
            if (c.next <= p) break;
        }
    }
    if (scanned) judgeKeyFrames();
}

void AviReader::judgeKeyFrames() {
    uint8_t head[64];
    for (Stream& s : streams_) {
        if (s.info.fccType != kStreamVideo) continue;
        auto format = BitmapInfoHeader::parse(s.format);
        const uint32_t handler =
            s.info.fccHandler ? s.info.fccHandler : (format ? format->compression : 0);
        std::vector<int> keys;
        bool judged = true;
        for (size_t i = 0; i < s.samples.size() && judged; ++i) {
            const Sample& smp = s.samples[i];
            const size_t n = std::min<size_t>(smp.size, sizeof head);
            if (n == 0) continue;  // an empty position is no key frame
            if (!smp.valid || !file_->read(smp.offset, head, n)) {
                judged = false;
                break;
            }
            auto key = isKeyFrameData(handler, std::span<const uint8_t>(head, n));
            if (!key)
                judged = false;
            else if (*key)
                keys.push_back(static_cast<int>(i));
        }
        if (!judged) continue;
        for (Sample& smp : s.samples) smp.key = false;
        for (int k : keys) s.samples[k].key = true;
        s.keys = std::move(keys);
    }
}

bool AviReader::readSample(const Stream& s, int index, uint8_t* out, size_t size) {
    if (index < 0 || index >= static_cast<int>(s.samples.size())) return false;
    const Sample& smp = s.samples[index];
    if (!smp.valid || size > smp.size) return false;
    return size == 0 || file_->read(smp.offset, out, size);
}

std::optional<uint32_t> AviReader::videoSampleSize(int index) const {
    if (videoIndex_ < 0) return std::nullopt;
    const Stream& s = streams_[videoIndex_];
    if (index < 0 || index >= static_cast<int>(s.samples.size()) || !s.samples[index].valid)
        return std::nullopt;
    return s.samples[index].size;
}

bool AviReader::readVideoSample(int index, void* buffer, size_t bufferSize, size_t* bytesRead) {
    auto size = videoSampleSize(index);
    if (!size) return false;
    if (!buffer) {
        if (bytesRead) *bytesRead = *size;
        return true;
    }
    if (*size > bufferSize) return false;
    if (!readSample(streams_[videoIndex_], index, static_cast<uint8_t*>(buffer), *size))
        return false;
    if (bytesRead) *bytesRead = *size;
    return true;
}

std::optional<std::vector<uint8_t>> AviReader::videoSample(int index) {
    auto size = videoSampleSize(index);
    if (!size) return std::nullopt;
    std::vector<uint8_t> out(*size);
    if (!readSample(streams_[videoIndex_], index, out.data(), out.size())) return std::nullopt;
    return out;
}

int AviReader::keyFrameAtOrBefore(int index) const {
    if (videoIndex_ < 0 || index < 0) return -1;
    const auto& keys = streams_[videoIndex_].keys;
    auto it = std::upper_bound(keys.begin(), keys.end(), index);
    return it == keys.begin() ? -1 : *(it - 1);
}

bool AviReader::isKeyFrame(int index) const {
    return index >= 0 && index < frameCount_ && keyFrameAtOrBefore(index) == index;
}

int AviReader::previousKeyFrame(int index) const { return keyFrameAtOrBefore(index - 1); }

bool AviReader::readTextSample(int index, char* buffer, size_t bufferSize) {
    if (textIndex_ < 0 || !buffer || bufferSize == 0) return false;
    const Stream& s = streams_[textIndex_];
    if (index < 0 || index >= static_cast<int>(s.samples.size())) return false;
    const Sample& smp = s.samples[index];
    size_t n = std::min<size_t>(smp.size, bufferSize - 1);
    if (!readSample(s, index, reinterpret_cast<uint8_t*>(buffer), n)) return false;
    buffer[n] = '\0';
    return true;
}

bool AviReader::readTimeStamp(int index, SystemTime& time) {
    char text[256];
    if (!readTextSample(index, text, sizeof text)) return false;
    return parseTimeStamp(text, time);
}

const uint8_t* AviReader::getFrame(int index) {
    if (!decoder_ || decoder_->planarOutput() || decoder_->pictureOutput()) return nullptr;
    return decodeUpTo(index) ? frame_.data() : nullptr;
}

bool AviReader::setPlanarFrames(bool on) {
    if (!decoder_) return false;
    lastDecoded_ = -1;
    return decoder_->setPlanarOutput(on);
}

std::optional<PlanarPicture> AviReader::getPlanarFrame(int index) {
    if (!decoder_ || !decoder_->planarOutput() || !decodeUpTo(index)) return std::nullopt;
    return decoder_->planarPicture();
}

bool AviReader::setPictureFrames(bool on) {
    if (!decoder_) return false;
    lastDecoded_ = -1;
    // A plug-in cannot hand out its pictures by reference: getPicture() copies them instead.
    decoder_->setPictureOutput(on);
    return true;
}

std::shared_ptr<const DecodedPicture> AviReader::getPicture(int index) {
    if (!decoder_ || decoder_->planarOutput()) return nullptr;
    if (!decoder_->pictureOutput()) {
        const uint8_t* frame = getFrame(index);
        if (!frame) return nullptr;
        const BitmapInfoHeader& out = decoder_->output();
        return DecodedPicture::fromBottomUp24(out.width, out.height,
                                              {frame + BitmapInfoHeader::kSize, out.sizeImage});
    }
    if (!decodeUpTo(index)) return nullptr;
    return decoder_->latestPicture();
}

std::optional<BitmapInfoHeader> AviReader::decodedFormat() const {
    if (!decoder_) return std::nullopt;
    return decoder_->output();
}

bool AviReader::decodeUpTo(int index) {
    if (!decoder_ || videoIndex_ < 0 || index < 0 || index >= frameCount_) return false;
    if (index == lastDecoded_) return true;
    int start = std::max(keyFrameAtOrBefore(index), 0);
    int from;
    if (lastDecoded_ >= start && lastDecoded_ < index) {
        from = lastDecoded_ + 1;
    } else {
        decoder_->flush();
        from = start;
    }
    uint8_t* bits = frame_.data() + BitmapInfoHeader::kSize;
    for (int i = from; i <= index; ++i) {
        auto size = videoSampleSize(i);
        if (!size) {
            lastDecoded_ = -1;
            return false;
        }
        sampleBuffer_.resize(*size);
        if (!readSample(streams_[videoIndex_], i, sampleBuffer_.data(), *size)) {
            lastDecoded_ = -1;
            return false;
        }
        uint32_t flags = kDecompressHurryUp | (isKeyFrame(i) ? 0 : kDecompressNotKeyFrame);
        if (!decoder_->decompress(sampleBuffer_, bits, flags)) {
            lastDecoded_ = -1;
            return false;
        }
    }
    lastDecoded_ = index;
    return true;
}

uint8_t AviReader::checkAviIndex(const std::filesystem::path& path, uint32_t knownSize) {
    auto f = File::open(path);
    if (!f) return kIndexNotAvi;
    uint32_t id = 0, size = 0;
    uint8_t form[4];
    if (!f->readU32Pair(0, id, size) || id != kRiff || !f->read(8, form, 4) ||
        platform::getU32(form) != kAvi)
        return kIndexNotAvi;
    // The RIFF body as declared, as far as the file holds it.
    const uint64_t end = std::min<uint64_t>(8ull + size, f->size());
    auto header = [&](uint64_t pos, uint32_t& cid, uint32_t& csize) {
        return f->readU32Pair(pos, cid, csize);
    };
    // An index is complete only when it ends within the known size and within the bytes that
    // are really on disk: a caller's size larger than the file does not complete a cut index.
    const uint64_t known = std::min<uint64_t>(knownSize, f->size());
    Chunk c;
    for (uint64_t pos = 12; nextChunk(header, pos, end, c); pos = c.next) {
        if (c.id == kIdx1) return known < c.data + c.declared ? kIndexMissing : kIndexComplete;
        if (c.next <= pos) break;
    }
    return kIndexMissing;
}

}  // namespace fsv::media

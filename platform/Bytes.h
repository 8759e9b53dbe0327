#pragma once
// Little-endian reading and writing of file and wire formats, byte by byte. A ByteReader never
// reads past its data: every read checks the length first and a failed read leaves the reader
// marked bad, so a parser can read a whole record and test ok() once.

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fsv::platform {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const void* data, size_t size)
        : p_(static_cast<const uint8_t*>(data)), size_(size) {}
    explicit ByteReader(std::span<const uint8_t> s) : p_(s.data()), size_(s.size()) {}

    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    size_t size() const { return size_; }
    size_t remaining() const { return ok_ ? size_ - pos_ : 0; }
    const uint8_t* current() const { return p_ + pos_; }

    bool has(size_t n) {
        if (!ok_ || n > size_ - pos_) {
            ok_ = false;
            return false;
        }
        return true;
    }
    bool skip(size_t n) {
        if (!has(n)) return false;
        pos_ += n;
        return true;
    }
    bool seek(size_t pos) {
        if (!ok_ || pos > size_) return ok_ = false;
        pos_ = pos;
        return true;
    }

    uint8_t u8() { return has(1) ? p_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(le(2)); }
    uint32_t u32() { return static_cast<uint32_t>(le(4)); }
    uint64_t u64() { return le(8); }
    int16_t i16() { return static_cast<int16_t>(u16()); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    int64_t i64() { return static_cast<int64_t>(u64()); }

    bool bytes(void* out, size_t n) {
        if (!has(n)) return false;
        std::memcpy(out, p_ + pos_, n);
        pos_ += n;
        return true;
    }
    std::span<const uint8_t> view(size_t n) {
        if (!has(n)) return {};
        auto s = std::span<const uint8_t>(p_ + pos_, n);
        pos_ += n;
        return s;
    }
    // A NUL-terminated text; fails (and marks the reader bad) when no NUL is left in the data.
    std::string cstr() {
        if (!ok_) return {};
        const void* nul = std::memchr(p_ + pos_, 0, size_ - pos_);
        if (!nul) {
            ok_ = false;
            return {};
        }
        size_t len = static_cast<const uint8_t*>(nul) - (p_ + pos_);
        std::string s(reinterpret_cast<const char*>(p_ + pos_), len);
        pos_ += len + 1;
        return s;
    }
    // A fixed-size text field: the text ends at the first NUL or at the field's end.
    std::string fixedText(size_t n) {
        auto s = view(n);
        if (s.empty()) return {};
        size_t len = 0;
        while (len < n && s[len] != 0) ++len;
        return std::string(reinterpret_cast<const char*>(s.data()), len);
    }

private:
    uint64_t le(size_t n) {
        if (!has(n)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }

    const uint8_t* p_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    bool ok_ = true;
};

class ByteWriter {
public:
    std::vector<uint8_t>& data() { return buf_; }
    const std::vector<uint8_t>& data() const { return buf_; }
    std::vector<uint8_t> take() { return std::move(buf_); }
    size_t size() const { return buf_.size(); }

    ByteWriter& u8(uint8_t v) {
        buf_.push_back(v);
        return *this;
    }
    ByteWriter& u16(uint16_t v) { return le(v, 2); }
    ByteWriter& u32(uint32_t v) { return le(v, 4); }
    ByteWriter& u64(uint64_t v) { return le(v, 8); }
    ByteWriter& i16(int16_t v) { return le(static_cast<uint16_t>(v), 2); }
    ByteWriter& i32(int32_t v) { return le(static_cast<uint32_t>(v), 4); }
    ByteWriter& i64(int64_t v) { return le(static_cast<uint64_t>(v), 8); }
    ByteWriter& bytes(const void* p, size_t n) {
        auto b = static_cast<const uint8_t*>(p);
        buf_.insert(buf_.end(), b, b + n);
        return *this;
    }
    ByteWriter& bytes(std::span<const uint8_t> s) { return bytes(s.data(), s.size()); }
    ByteWriter& cstr(std::string_view s) {
        bytes(s.data(), s.size());
        return u8(0);
    }
    // Text into a fixed-size field, padded with NULs. The caller checks that it fits; a text
    // that does not fit is cut here, so callers that must refuse long texts check first.
    ByteWriter& fixedText(std::string_view s, size_t n) {
        size_t len = s.size() < n ? s.size() : n;
        bytes(s.data(), len);
        buf_.insert(buf_.end(), n - len, 0);
        return *this;
    }
    ByteWriter& zeros(size_t n) {
        buf_.insert(buf_.end(), n, 0);
        return *this;
    }
    // Overwrites a 32-bit value at an earlier position (sizes known only at the end).
    void patchU32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) buf_[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }

private:
    ByteWriter& le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) buf_.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    std::vector<uint8_t> buf_;
};

inline void putU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t getU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t getU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace fsv::platform

#include "state/LoginLog.h"

#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/Bytes.h"
#include "platform/System.h"

namespace fsv::state {

std::vector<uint8_t> encodeLoginLog(const std::vector<std::string>& lines) {
    platform::ByteWriter w;
    w.i32(0);
    int32_t count = 0;
    for (const auto& line : lines) {
        if (line.find('\n') != std::string::npos) continue;
        w.bytes(line.data(), line.size()).u8('\n');
        ++count;
    }
    // The count is the number of lines actually written.
    w.patchU32(0, static_cast<uint32_t>(count));
    return w.take();
}

ReadResult<std::vector<std::string>> decodeLoginLog(std::span<const uint8_t> data) {
    ReadResult<std::vector<std::string>> r;
    if (data.empty()) {
        r.status = ReadStatus::Missing;
        return r;
    }
    platform::ByteReader in(data);
    int32_t count = in.i32();
    if (!in.ok()) {
        r.status = ReadStatus::Damaged;
        r.message = "login.log ends before its line count.";
        return r;
    }
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* start = in.current();
        size_t left = in.remaining();
        const void* lf = left ? std::memchr(start, '\n', left) : nullptr;
        if (!lf) {
            r.status = ReadStatus::Damaged;
            r.message = format("login.log ends after %d of its %d lines.", i, count);
            break;
        }
        size_t len = static_cast<const uint8_t*>(lf) - start;
        in.skip(len + 1);
        if (len > 0 && start[len - 1] == '\r') --len;
        r.value.emplace_back(reinterpret_cast<const char*>(start), len);
    }
    return r;
}

std::vector<std::string> loginLogAfterConnect(const std::vector<std::string>& entries,
                                              const std::string& address) {
    std::vector<std::string> out{address};
    for (const auto& e : entries)
        if (e != address) out.push_back(e);
    return out;
}

std::filesystem::path loginLogPath() { return platform::dataFolder() / "login.log"; }

ReadResult<std::vector<std::string>> loadLoginLog(const std::filesystem::path& file) {
    bool missing = false;
    std::string error;
    auto bytes = readWholeFile(file, &missing, &error);
    if (!bytes) {
        ReadResult<std::vector<std::string>> r;
        r.status = missing ? ReadStatus::Missing : ReadStatus::Unreadable;
        if (!missing) r.message = error;
        return r;
    }
    return decodeLoginLog(*bytes);
}

bool saveLoginLog(const std::filesystem::path& file, const std::vector<std::string>& lines,
                  std::string* error) {
    auto bytes = encodeLoginLog(lines);
    return platform::writeFileAtomically(file, bytes.data(), bytes.size(), error);
}

ConnectToCheck checkConnectTo(const ConnectToFields& f) {
    ConnectToCheck c;
    auto port = parsePortField(f.port);
    if (!port) {
        c.message = kPortRangeMessage;
        return c;
    }
    if (f.id.empty()) {
        c.message = kEnterId;
        return c;
    }
    if (f.address.empty()) {
        c.message = kEnterIpAddress;
        return c;
    }
    ConnectRequest r;
    r.kind = 1;
    r.port = *port;
    r.address = f.address;
    r.id = f.id;
    r.password = f.password;
    c.request = std::move(r);
    return c;
}

}  // namespace fsv::state

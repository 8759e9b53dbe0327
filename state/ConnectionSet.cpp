#include "state/ConnectionSet.h"

#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/Bytes.h"

namespace fsv::state {

std::vector<uint8_t> encodeConnectionSet(const std::vector<ConnectRequest>& connections) {
    platform::ByteWriter w;
    w.bytes(kLinkMagic, kLinkMagicSize).i32(static_cast<int32_t>(connections.size()));
    for (const auto& c : connections)
        w.u16(c.kind).cstr(c.address).cstr(c.id).cstr(ScramblePassword(c.password)).u16(c.port);
    return w.take();
}

ReadResult<std::vector<ConnectRequest>> decodeConnectionSet(std::span<const uint8_t> data) {
    ReadResult<std::vector<ConnectRequest>> r;
    platform::ByteReader in(data);
    auto magic = in.view(kLinkMagicSize);
    if (!in.ok() || std::memcmp(magic.data(), kLinkMagic, kLinkMagicSize) != 0) {
        r.status = ReadStatus::WrongFormat;
        r.message = kUnexpectedFileFormat;
        return r;
    }
    int32_t count = in.i32();
    if (!in.ok()) {
        r.status = ReadStatus::Damaged;
        r.message = "The connection set ends before its record count.";
        return r;
    }
    if (count <= 0) {
        r.status = ReadStatus::Empty;
        r.message = kNoConnectionInRecord;
        return r;
    }
    for (int32_t i = 0; i < count; ++i) {
        ConnectRequest c;
        c.kind = in.u16();
        c.address = in.cstr();
        c.id = in.cstr();
        std::string scrambled = in.cstr();
        c.port = in.u16();
        if (!in.ok()) {
            r.status = ReadStatus::Damaged;
            r.message = format("The connection set ends after %d of its %d records.", i, count);
            break;
        }
        if (auto plain = UnscramblePassword(scrambled)) {
            c.password = std::move(*plain);
        } else if (r.status == ReadStatus::Ok) {
            r.status = ReadStatus::Damaged;
            r.message =
                "A password in the connection set is not scrambled text; it was read "
                "as empty.";
        }
        r.value.push_back(std::move(c));
    }
    return r;
}

SaveSet saveConnectionSet(const std::filesystem::path& file,
                          const std::vector<ConnectRequest>& connections, std::string* message) {
    if (connections.empty()) return SaveSet::NothingToSave;
    for (const auto& c : connections) {
        for (const std::string* s : {&c.address, &c.id, &c.password}) {
            if (s->find('\0') != std::string::npos) {
                if (message) *message = kFailedToSaveFile;
                return SaveSet::Failed;
            }
        }
    }
    auto bytes = encodeConnectionSet(connections);
    if (!platform::writeFileAtomically(file, bytes.data(), bytes.size())) {
        if (message) *message = kFailedToSaveFile;
        return SaveSet::Failed;
    }
    return SaveSet::Written;
}

ReadResult<std::vector<ConnectRequest>> loadConnectionSet(const std::filesystem::path& file) {
    auto bytes = readWholeFile(file);
    if (!bytes) {
        ReadResult<std::vector<ConnectRequest>> r;
        r.status = ReadStatus::Unreadable;
        r.message = kReadFileFail;
        return r;
    }
    return decodeConnectionSet(*bytes);
}

}  // namespace fsv::state

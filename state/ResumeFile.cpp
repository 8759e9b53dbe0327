#include "state/ResumeFile.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/Bytes.h"

namespace fsv::state {
namespace fs = std::filesystem;

ConnectRequest toConnectRequest(const ResumeHeader& header) {
    ConnectRequest r;
    r.kind = 1;
    r.port = header.port;
    r.address = header.address;
    r.id = header.id;
    r.password = header.password;
    return r;
}

ReadResult<ResumeData> readResumeData(std::span<const uint8_t> data) {
    ReadResult<ResumeData> r;
    platform::ByteReader in(data);
    auto magic = in.view(kResumeMagicSize);
    auto is = [&](const char* m) {
        return in.ok() && std::memcmp(magic.data(), m, kResumeMagicSize) == 0;
    };
    if (is(kResumeMagic3)) {
        r.value.version = 3;
    } else if (is(kResumeMagic2)) {
        r.value.version = 2;
    } else {
        r.status = ReadStatus::WrongFormat;
        r.message = kUnexpectedFileFormat;
        return r;
    }
    const size_t stride = r.value.version == 3 ? kResumeRecordSize3 : kResumeRecordSize2;

    int32_t count = in.i32();
    ResumeHeader h;
    h.port = in.u16();
    h.address = in.fixedText(kResumeAddressField);
    h.id = in.fixedText(kResumeIdField);
    h.password = in.fixedText(kResumePasswordField);
    if (!in.ok()) {
        r.status = ReadStatus::Damaged;
        r.message = "The resume file ends inside its header.";
        return r;
    }
    r.value.header = std::move(h);

    for (int32_t i = 0; i < count; ++i) {
        if (in.remaining() < stride) {
            r.status = ReadStatus::Damaged;
            r.message = format("The resume file ends after %d of its %d records.", i, count);
            break;
        }
        platform::ByteReader rec(in.view(stride));
        ResumeRecord x;
        x.listFlag = rec.u8();
        x.type = rec.u8();
        x.camera = rec.u16();
        rec.skip(1);
        x.eventKey = rec.fixedText(kResumeKeyField);
        x.path = rec.fixedText(kResumePathField);
        x.firstFrame = rec.u32();
        x.lastFrame = rec.u32();
        if (stride == kResumeRecordSize3) x.dateId = rec.u32();
        r.value.records.push_back(std::move(x));
    }
    return r;
}

namespace {
bool fits(const std::string& text, size_t field, const char* name, std::string* error) {
    if (text.find('\0') != std::string::npos) {
        if (error) *error = format("The %s holds a zero byte.", name);
        return false;
    }
    if (text.size() + 1 > field) {
        if (error)
            *error = format("The %s is too long for a resume file (%zu characters, at most %zu).",
                            name, text.size(), field - 1);
        return false;
    }
    return true;
}
}  // namespace

std::optional<std::vector<uint8_t>> writeResumeData(const ResumeData& data, std::string* error) {
    const auto& h = data.header;
    if (!fits(h.address, kResumeAddressField, "recorder address", error) ||
        !fits(h.id, kResumeIdField, "login ID", error) ||
        !fits(h.password, kResumePasswordField, "password", error))
        return std::nullopt;
    for (const auto& x : data.records) {
        if (x.type == kPlayOnlyType) continue;
        if (!fits(x.eventKey, kResumeKeyField, "event key", error) ||
            !fits(x.path, kResumePathField, "file path", error))
            return std::nullopt;
    }

    platform::ByteWriter w;
    w.bytes(kResumeMagic3, kResumeMagicSize);
    w.i32(0);
    w.u16(h.port);
    w.fixedText(h.address, kResumeAddressField);
    w.fixedText(h.id, kResumeIdField);
    w.fixedText(h.password, kResumePasswordField);
    int32_t count = 0;
    for (const auto& x : data.records) {
        if (x.type == kPlayOnlyType) continue;
        w.u8(x.listFlag).u8(x.type).u16(x.camera).u8(0);
        w.fixedText(x.eventKey, kResumeKeyField);
        w.fixedText(x.path, kResumePathField);
        w.u32(x.firstFrame).u32(x.lastFrame).u32(x.dateId).zeros(16);
        ++count;
    }
    w.patchU32(kResumeMagicSize, static_cast<uint32_t>(count));
    return w.take();
}

fs::path autoResumePath(const fs::path& folder, int connectionNumber) {
    return folder / format("Auto%d.rsm", connectionNumber + 1);
}

fs::path tempResumePath(const fs::path& folder, int connectionNumber) {
    return folder / format("Temp%d.rsm", connectionNumber);
}

ReadResult<ResumeData> loadResumeFile(const fs::path& file) {
    bool missing = false;
    std::string error;
    auto bytes = readWholeFile(file, &missing, &error);
    if (!bytes) {
        ReadResult<ResumeData> r;
        r.status = missing ? ReadStatus::Missing : ReadStatus::Unreadable;
        r.message = error;
        return r;
    }
    return readResumeData(*bytes);
}

bool saveResumeFile(const fs::path& file, const ResumeData& data, std::string* error) {
    auto bytes = writeResumeData(data, error);
    if (!bytes) return false;
    return platform::writeFileAtomically(file, bytes->data(), bytes->size(), error);
}

ResumeWrite writeAutoResumeFile(ResumeLock& lock, const fs::path& folder, int connectionNumber,
                                const std::function<ResumeData()>& collect, std::string* error) {
    // The first of the rewrites asked at one moment writes; the others leave it to that one,
    // which then writes once more for all those asked while it wrote.
    if (lock.asked_.fetch_add(1) > 0) return ResumeWrite::Skipped;
    bool failed = false;
    for (int asked = 1;;) {
        failed = !writeAutoResumeFileNow(lock, folder, connectionNumber, collect, error) || failed;
        const int before = lock.asked_.fetch_sub(asked);
        if (before == asked) break;
        asked = before - asked;
    }
    return failed ? ResumeWrite::Failed : ResumeWrite::Written;
}

bool writeAutoResumeFileNow(ResumeLock& lock, const fs::path& folder, int connectionNumber,
                            const std::function<ResumeData()>& collect, std::string* error) {
    auto held = lock.lock();
    return saveResumeFile(autoResumePath(folder, connectionNumber), collect(), error);
}

ResumeWrite writeAutoResumeFile(ResumeLock& lock, const fs::path& folder, int connectionNumber,
                                const ResumeData& data, std::string* error) {
    return writeAutoResumeFile(
        lock, folder, connectionNumber, [&] { return data; }, error);
}

namespace {
bool copyWhole(const fs::path& from, const fs::path& to, std::string* error) {
    auto bytes = readWholeFile(from, nullptr, error);
    if (!bytes) return false;
    return platform::writeFileAtomically(to, bytes->data(), bytes->size(), error);
}
}  // namespace

bool saveAutoResumeFileAs(ResumeLock& lock, const fs::path& folder, int connectionNumber,
                          const fs::path& destination, std::string* error) {
    auto held = lock.lock();
    return copyWhole(autoResumePath(folder, connectionNumber), destination, error);
}

std::optional<fs::path> keepAutoResumeFileAsTemp(ResumeLock& lock, const fs::path& folder,
                                                 int connectionNumber, std::string* error) {
    auto held = lock.lock();
    fs::path temp = tempResumePath(folder, connectionNumber);
    if (!copyWhole(autoResumePath(folder, connectionNumber), temp, error)) return std::nullopt;
    return temp;
}

bool moveResumeFile(const fs::path& from, const fs::path& to, std::string* error) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return true;
    if (ec != std::errc::cross_device_link) {
        if (error) *error = from.string() + ": " + ec.message();
        return false;
    }
    if (!copyWhole(from, to, error)) return false;
    fs::remove(from, ec);
    return true;
}

void deleteAutoResumeFile(ResumeLock& lock, const fs::path& folder, int connectionNumber) {
    if (connectionNumber < 0) return;
    auto held = lock.lock();
    std::error_code ec;
    fs::remove(autoResumePath(folder, connectionNumber), ec);
}

std::vector<fs::path> scanUnfinishedWork(const fs::path& folder, UserPort& user) {
    std::vector<fs::path> queued;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // What a write cut short by a crash left behind: the automatic file itself was never
        // replaced by it.
        if (name.compare(0, 4, "Auto") == 0 && name.find(".rsm.tmp") != std::string::npos) {
            std::error_code removeError;
            fs::remove(it->path(), removeError);
            continue;
        }
        if (name.size() < 8 || name.compare(0, 4, "Auto") != 0 ||
            name.compare(name.size() - 4, 4, ".rsm") != 0)
            continue;
        std::error_code sizeError;
        if (!it->is_regular_file(sizeError)) continue;
        uintmax_t size = it->file_size(sizeError);
        if (sizeError) continue;
        if (size <= kResumeHeaderSize) {
            std::error_code removeError;
            fs::remove(it->path(), removeError);
            continue;
        }
        queued.push_back(it->path());
    }
    if (queued.empty()) return queued;
    // Connection order: Auto2 before Auto10.
    std::sort(queued.begin(), queued.end(), [](const fs::path& a, const fs::path& b) {
        auto an = a.filename().string(), bn = b.filename().string();
        return an.size() != bn.size() ? an.size() < bn.size() : an < bn;
    });
    int answer = user.messageBox(kUnfinishedWorkQuestion, mb::kYesNo | mb::kIconQuestion, true);
    if (answer == mb::kIdYes) return queued;
    for (const auto& p : queued) {
        std::error_code removeError;
        fs::remove(p, removeError);
    }
    return {};
}

}  // namespace fsv::state

#include "recordings/download/StorageLayout.h"

#include <array>
#include <fstream>
#include <mutex>
#include <system_error>

#include "platform/Bytes.h"
#include "platform/Shared.h"
#include "platform/System.h"

namespace fsv::download {

namespace fs = std::filesystem;

static std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string makeOutputPath(const PathInputs& in) {
    const bool audio = in.queue == QueueKind::Audio;
    std::string path = withSlash(in.root);
    path += format(audio ? "Aud%.2d/" : "Cam%.2d/", in.channelCode);
    path += in.date.size() >= 4 ? in.date.substr(in.date.size() - 4) : in.date;
    if (in.queue == QueueKind::Video && in.lastFrame <= kClipLastFrameLimit)
        path += "/Clip";
    else if (in.dateId != 0)
        path += format("/Dst%02u", in.dateId);
    else
        path += "/Event";
    path += in.date;
    path += in.time;
    path += format(audio ? "%.3d.wav" : "%.3d.avi", in.channelCode);
    return path;
}

void createFolders(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::error_code ec;
        fs::create_directory(path.substr(0, pos + 1), ec);
    }
}

FreeSpaceFn systemFreeSpace() {
    return [](const fs::path& p) { return platform::freeDiskSpace(p); };
}

static bool roomFor(const FreeSpaceFn& freeSpace, const fs::path& p, uint64_t need) {
    // A disk whose free space cannot be told counts as full: nothing is written blindly.
    return spaceSuffices(freeSpace(p).value_or(0), need);
}

std::string checkStreamDisk(const std::string& path, uint64_t need, UserPort& port,
                            const FreeSpaceFn& freeSpace) {
    std::string candidate = path;
    const std::string name = fs::path(path).filename().string();
    const std::string needText = format("Total need %s", SizeText(need).c_str());
    while (!roomFor(freeSpace, candidate, need)) {
        port.messageBox(format("Destination disk drive doesn't have enough space. %s\n%s",
                               needText.c_str(), candidate.c_str()),
                        mb::kIconStop, true);
        fs::path folder = port.chooseFolder(fs::path(candidate).parent_path(), needText);
        if (folder.empty()) return {};
        candidate = withSlash(folder.string()) + name;
    }
    return candidate;
}

std::string chooseDestination(const std::string& start, uint64_t need, UserPort& port,
                              const FreeSpaceFn& freeSpace) {
    const std::string needText = format("Total need %s", SizeText(need).c_str());
    std::string last = start;
    for (;;) {
        fs::path folder = port.chooseFolder(last, needText);
        if (folder.empty()) return {};
        std::string candidate = withSlash(folder.string());
        if (roomFor(freeSpace, candidate, need)) return candidate;
        port.messageBox(
            format("Destination disk drive doesn't have enough space.\n%s", needText.c_str()),
            mb::kIconStop, true);
        last = candidate;
    }
}

AviCompleteness checkAviCompleteness(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return AviCompleteness::NotAvi;
    std::error_code ec;
    const uint64_t length = fs::file_size(file, ec);
    if (ec) return AviCompleteness::NotAvi;

    std::array<uint8_t, 12> head{};
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) return AviCompleteness::NotAvi;
    platform::ByteReader r(head.data(), head.size());
    std::string id = r.fixedText(4);
    const uint64_t riffEnd = 8 + static_cast<uint64_t>(r.u32());
    std::string form = r.fixedText(4);
    if (id != "RIFF" || form != "AVI ") return AviCompleteness::NotAvi;

    // Walk the chunks and lists at the top level of the RIFF form looking for the index.
    uint64_t pos = 12;
    while (pos + 8 <= length && pos + 8 <= riffEnd) {
        std::array<uint8_t, 8> chunk{};
        in.seekg(static_cast<std::streamoff>(pos));
        if (!in.read(reinterpret_cast<char*>(chunk.data()), chunk.size())) break;
        platform::ByteReader c(chunk.data(), chunk.size());
        std::string chunkId = c.fixedText(4);
        const uint64_t size = c.u32();
        const uint64_t dataStart = pos + 8;
        if (chunkId == "idx1")
            return length < dataStart + size ? AviCompleteness::Incomplete
                                             : AviCompleteness::Complete;
        pos = dataStart + size + (size & 1);
    }
    return AviCompleteness::Incomplete;
}

static uint64_t existingLength(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return 0;
    uint64_t n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

// What a run of the same work leaves behind when it is cut short: an empty file (the transfer
// had not begun), an AVI file without its whole index, or a WAVE file shorter than the
// recording.
static bool unfinishedRecording(const fs::path& p, AviCompleteness check, uint64_t length,
                                uint64_t recordingSize) {
    if (length == 0) return true;
    if (p.extension() == ".avi") return check == AviCompleteness::Incomplete;
    if (p.extension() != ".wav" || (recordingSize && length >= recordingSize)) return false;
    std::ifstream in(p, std::ios::binary);
    std::array<char, 12> head{};
    if (!in.read(head.data(), head.size())) return false;
    return std::string(head.data(), 4) == "RIFF" && std::string(head.data() + 8, 4) == "WAVE";
}

bool isOutputPathOf(const std::string& path, const PathInputs& in, std::string* why) {
    auto refuse = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    PathInputs bare = in;
    bare.root.assign(1, '/');
    const std::string tail = makeOutputPath(bare).substr(1);  // "Cam02/1201/Event...002.avi"
    if (path.size() <= tail.size() || path.compare(path.size() - tail.size(), tail.size(), tail))
        return refuse(format("its name is not the download's (%s)", tail.c_str()));
    const std::string root = path.substr(0, path.size() - tail.size());
    const fs::path rootPath(root);
    if (!rootPath.is_absolute() || rootPath.lexically_normal().string() != root)
        return refuse(format("its folder %s is not a plain absolute path", root.c_str()));
    std::error_code ec;
    if (!fs::is_directory(rootPath, ec))
        return refuse(format("its destination folder %s does not exist", root.c_str()));
    return true;
}

// One existing-file question at a time for the whole program.
static std::mutex& questionLock() {
    static std::mutex m;
    return m;
}

FilePlan planOutputFile(const FileCheckInputs& in, UserPort& port) {
    FilePlan plan;
    plan.path = in.path;
    std::error_code ec;
    if (in.appendFlag) {
        // A link (even one to nowhere) or anything but a plain file is never written through.
        const auto status = fs::symlink_status(in.path, ec);
        if (fs::is_symlink(status) || (fs::exists(status) && !fs::is_regular_file(status))) {
            port.messageBox(format(kRefusedFileText, in.path.c_str()), mb::kIconStop);
            plan.outcome = FilePlan::Outcome::Abort;
            return plan;
        }
    }
    const bool exists = fs::exists(in.path, ec);
    if (!exists || (in.alwaysOverwrite && !in.appendFlag)) return plan;  // Create

    const uint64_t length = existingLength(in.path);
    ExistingFileAnswer answer = ExistingFileAnswer::Resume;
    if (!in.appendFlag) {
        std::lock_guard lock(questionLock());
        answer = port.askExistingFile(in.path, length != in.recordingSize);
    }
    switch (answer) {
        case ExistingFileAnswer::SaveAs: {
            fs::path chosen = port.saveFileDialog(in.path, "AVI File(*.AVI)||", "avi");
            if (chosen.empty()) {
                plan.outcome = FilePlan::Outcome::Abort;
                return plan;
            }
            plan.path = chosen.string();
            return plan;
        }
        case ExistingFileAnswer::Overwrite:
            return plan;
        case ExistingFileAnswer::Resume: {
            const AviCompleteness check = checkAviCompleteness(in.path);
            if (in.mode == 11 && check == AviCompleteness::Incomplete && length > 0) {
                plan.outcome = FilePlan::Outcome::Resume;
                plan.offset = length;
                return plan;
            }
            if (in.mode == 10 && check == AviCompleteness::Complete) {
                plan.outcome = FilePlan::Outcome::Append;
                return plan;
            }
            // Work taken up from a resume file replaces only what an earlier run of that very
            // work left: the file's name is the work's (checked when the work was rebuilt), so
            // what is left to check is that it is an unfinished recording. Anything else stays.
            if (in.appendFlag && !unfinishedRecording(in.path, check, length, in.recordingSize)) {
                port.messageBox(format(kRefusedFileText, in.path.c_str()), mb::kIconStop);
                plan.outcome = FilePlan::Outcome::Abort;
                return plan;
            }
            fs::remove(in.path, ec);
            return plan;
        }
        case ExistingFileAnswer::Abort:
        default:
            plan.outcome = FilePlan::Outcome::Abort;
            return plan;
    }
}

}  // namespace fsv::download

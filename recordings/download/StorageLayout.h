#pragma once
// Where a downloaded recording lands below the chosen folder, the folders made for it, the
// free-space rule, and the decision taken when the file is already there.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/UserPort.h"

namespace fsv::platform {
class Event;
}

namespace fsv::download {

// The three kinds of queue a work item can sit in; they differ in folder, stems and tail.
enum class QueueKind : uint8_t { Video, File, Audio };

inline constexpr uint32_t kWholeRecordingLastFrame = 0xFFFFFFFE;
// A video-queue item whose last frame is at most this is a clip of its recording.
inline constexpr uint32_t kClipLastFrameLimit = 9000;

struct PathInputs {
    std::string root;  // the chosen folder; a trailing '/' is added when missing
    QueueKind queue = QueueKind::Video;
    uint16_t channelCode = 0;  // camera code, or the audio channel's code
    std::string date;          // YYYYMMDD
    std::string time;          // HHMMSS
    uint32_t dateId = 0;
    uint32_t lastFrame = kWholeRecordingLastFrame;
};

// root + "Cam%.2d/" (or "Aud%.2d/") + MMDD + stem + date + time + "%.3d.avi" (or ".wav"), the
// stem being "/Clip" (video queue, last frame <= 9000), "/Dst%02d" (date id not 0) or "/Event".
std::string makeOutputPath(const PathInputs& in);

// Whether `path` is where the storage layout puts the download described by `in` (its root
// ignored) below some destination folder: the folder must be an existing, plain absolute path
// (no "." or ".." parts) and the rest exactly the layout's name. Work taken up from a resume file
// writes only to such paths. False with `why` saying what is wrong.
bool isOutputPathOf(const std::string& path, const PathInputs& in, std::string* why = nullptr);

// Creates, one level at a time, every folder named by the path up to one of its '/' (the
// leading '/' of an absolute path excepted). Folders that exist or cannot be made are passed by.
void createFolders(const std::string& path);

// The free space has to be strictly greater than what is needed.
inline bool spaceSuffices(uint64_t freeBytes, uint64_t need) { return freeBytes > need; }

using FreeSpaceFn = std::function<std::optional<uint64_t>(const std::filesystem::path&)>;
FreeSpaceFn systemFreeSpace();

// The disk check of one stream: returns `path` when its disk has room for `need` bytes;
// otherwise tells the user, offers the folder dialog (starting in the file's folder) and tries
// the chosen folder with the same file name, until one suffices or the dialog is cancelled
// (empty result).
std::string checkStreamDisk(const std::string& path, uint64_t need, UserPort& port,
                            const FreeSpaceFn& freeSpace);

// The same rule for the destination folder chosen when work starts: the folder (with a
// trailing '/') or empty when cancelled. `start` is the first folder tried.
std::string chooseDestination(const std::string& start, uint64_t need, UserPort& port,
                              const FreeSpaceFn& freeSpace);

// Result of the completeness check of an existing file.
enum class AviCompleteness : int { NotAvi = 0, Complete = 10, Incomplete = 11 };
// "RIFF" with form type "AVI ": Complete when it holds an "idx1" chunk that ends within the
// file, Incomplete otherwise; NotAvi for anything else (also a file that cannot be read).
AviCompleteness checkAviCompleteness(const std::filesystem::path& file);

// What a stream does with its output file before it asks the recorder for anything.
struct FilePlan {
    enum class Outcome {
        Create,  // start the file anew (mode 11 creates/replaces it; mode 10 leaves it to
                 // the AVI writer)
        Resume,  // mode 11: open for writing at the end; `offset` is the existing length
        Append,  // mode 10: continue the existing AVI file
        Abort,   // end the stream without a request
    };
    Outcome outcome = Outcome::Create;
    std::string path;     // may differ from the asked-for path after "Save As"
    uint64_t offset = 0;  // the resume offset for Outcome::Resume
};

struct FileCheckInputs {
    std::string path;
    uint8_t mode = 11;  // 10 download and play, 11 file download
    uint64_t recordingSize = 0;
    bool appendFlag = false;       // a resumed work item: resume without asking
    bool alwaysOverwrite = false;  // the setting "Always overwrite files"
};

inline constexpr const char* kRefusedFileText =
    "Refused: %s is not an unfinished recording of this work; it is left as it is.";

// The existing-file decision. Asks through `port` when the file exists (Resume offered only
// when its length differs from the recording size), handles Save As with the save dialog,
// checks the file for Resume and deletes it when it cannot be continued. A resumed item
// (appendFlag) deletes only an unfinished recording (an empty file, an AVI file without its
// whole index, a WAVE file shorter than the recording) and never follows a link: anything else
// is refused with kRefusedFileText (Abort).
FilePlan planOutputFile(const FileCheckInputs& in, UserPort& port);

}  // namespace fsv::download

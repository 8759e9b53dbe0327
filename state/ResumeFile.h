#pragma once
// Resume files (*.rsm): the login data of one connection and its unfinished work, so that the
// work can be taken up again after a lost connection, after the end of the program, or on
// another day.
//
// The file is read and written here as a plain value (ResumeData) by free functions; the
// download code builds the value from its queues and rebuilds its queues from it.
//
// Layout (little-endian; strings are fixed fields, zero-terminated and zero-filled):
//   0   15  "KorFSV_Resume3" + NUL (written), or "KorFSV_Resume2" + NUL (read only)
//   15   4  record count, signed
//   19   2  recorder port
//   21  16  recorder address      (at most 15 characters)
//   37  32  login ID              (at most 31)
//   69  32  password, plain       (at most 31)
//   101     records, 308 bytes each (version 3) or 288 bytes (version 2)
// Record (version 3):
//   0    1  list flag: 1 = found by channel number, 0 = a camera's download item
//   1    1  work type: the stream mode (10 video, 11 file transfer); 12 is never written
//   2    2  camera number (channel number when the list flag is 1)
//   4    1  zero
//   5   15  event key YYYYMMDDHHMMSS + NUL
//   20 260  output path (at most 259 characters)
//   280  4  first frame (0 for a whole recording)
//   284  4  last frame (0xFFFFFFFE for a whole recording)
//   288  4  date id of the event's day
//   292 16  zero
// A version-2 record is the first 288 bytes; its date id reads as 0.
//
// The date id is the work item's own: the rebuild finds a day by its date text and its date
// id, and a recorder that numbers its days (newer protocol) has no day with id 0, so writing 0
// would silently drop the resumed work.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Shared.h"
#include "platform/UserPort.h"
#include "state/StateFiles.h"

namespace fsv::state {

inline constexpr char kResumeMagic3[] = "KorFSV_Resume3";
inline constexpr char kResumeMagic2[] = "KorFSV_Resume2";
inline constexpr size_t kResumeMagicSize = 15;
inline constexpr size_t kResumeHeaderSize = 101;
inline constexpr size_t kResumeRecordSize3 = 308;
inline constexpr size_t kResumeRecordSize2 = 288;
inline constexpr size_t kResumeAddressField = 16;
inline constexpr size_t kResumeIdField = 32;
inline constexpr size_t kResumePasswordField = 32;
inline constexpr size_t kResumeKeyField = 15;
inline constexpr size_t kResumePathField = 260;
inline constexpr uint32_t kWholeRecordingLastFrame = 0xFFFFFFFE;
inline constexpr uint8_t kPlayOnlyType = 12;  // never persisted

inline constexpr char kResumeFilter[] = "FSV Resume File(*.RSM)|*.rsm|";
inline constexpr char kResumeExtension[] = "rsm";
inline constexpr char kUnfinishedWorkQuestion[] =
    "Last time have unfinished work.\nDo you want to continue?";
inline constexpr char kSaveUnfinishedQuestion[] = "Save the unfinished work as a resume file?";
inline constexpr char kClosedByRemote[] = "%s (%s) is closed by remote site!";

struct ResumeHeader {
    uint16_t port = kDefaultPort;
    std::string address;
    std::string id;
    std::string password;

    bool operator==(const ResumeHeader&) const = default;
};

struct ResumeRecord {
    uint8_t listFlag = 0;
    uint8_t type = 0;
    uint16_t camera = 0;
    std::string eventKey;  // YYYYMMDDHHMMSS
    std::string path;
    uint32_t firstFrame = 0;
    uint32_t lastFrame = kWholeRecordingLastFrame;
    uint32_t dateId = 0;

    bool operator==(const ResumeRecord&) const = default;
};

struct ResumeData {
    int version = 3;  // of the file it was read from; files are always written as 3
    ResumeHeader header;
    std::vector<ResumeRecord> records;
};

// The login data of a resume file as a request for the programmatic connect.
ConnectRequest toConnectRequest(const ResumeHeader& header);

// Reads version 3 and version 2. A wrong magic gives WrongFormat ("Unexpected file format!").
// Only as many records as the count says are read; data that end before that keep the
// complete records (Damaged). A header cut short is Damaged with no records.
ReadResult<ResumeData> readResumeData(std::span<const uint8_t> data);
// The bytes of a version-3 file. Records of type 12 (play only) are left out. A text that does
// not fit its field (address 15, ID 31, password 31, event key 14, path 259 characters) or that
// holds a zero byte is refused: nullopt with `error` naming the field.
std::optional<std::vector<uint8_t>> writeResumeData(const ResumeData& data,
                                                    std::string* error = nullptr);

// "Auto<k+1>.rsm" in `folder` for the connection numbered k (from 0).
std::filesystem::path autoResumePath(const std::filesystem::path& folder, int connectionNumber);
// "Temp<k>.rsm": the copy kept when the recorder closed connection k (k itself, not k+1).
std::filesystem::path tempResumePath(const std::filesystem::path& folder, int connectionNumber);

// Reads a resume file. Missing: the file does not exist; Unreadable: it cannot be read.
ReadResult<ResumeData> loadResumeFile(const std::filesystem::path& file);
// Writes a whole resume file through a temporary file renamed over the old one.
bool saveResumeFile(const std::filesystem::path& file, const ResumeData& data,
                    std::string* error = nullptr);

enum class ResumeWrite { Written, Skipped, Failed };

// The lock over one connection's automatic file, and the count of rewrites asked for and not
// yet done. Every writer, copier and deleter waits for the lock; rewrites asked at the same
// moment from several threads are coalesced (writeAutoResumeFile).
class ResumeLock {
  public:
    std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }

  private:
    friend ResumeWrite writeAutoResumeFile(ResumeLock&, const std::filesystem::path&, int,
                                           const std::function<ResumeData()>&, std::string*);
    std::mutex mutex_;
    std::atomic<int> asked_{0};
};

// Rewrites the automatic file of connection k from the work `collect` returns; `collect` runs
// while the lock is held, so the file always matches one consistent snapshot. A rewrite asked
// while another is under way on another thread is Skipped: that one writes once more after its
// own, so the last write always collects the work as it stands after the last change. Each
// write waits for the lock (a rewrite that gave up while a take-up or a copy held it could be
// the last one, and the file would keep finished work). Failed with `error` set when the file
// could not be written (the old file then stays as it was).
ResumeWrite writeAutoResumeFile(ResumeLock& lock, const std::filesystem::path& folder,
                                int connectionNumber, const std::function<ResumeData()>& collect,
                                std::string* error = nullptr);
ResumeWrite writeAutoResumeFile(ResumeLock& lock, const std::filesystem::path& folder,
                                int connectionNumber, const ResumeData& data,
                                std::string* error = nullptr);
// The same rewrite, never left to another: waits for the lock, collects and writes. For a
// rewrite that must be the last word, such as the one after a change that a rewrite under way
// may have collected too early. False with `error` set when the file could not be written.
bool writeAutoResumeFileNow(ResumeLock& lock, const std::filesystem::path& folder,
                            int connectionNumber, const std::function<ResumeData()>& collect,
                            std::string* error = nullptr);

// Copies the automatic file of connection k to `destination` (overwriting), waiting for the
// lock: the user keeps the work under a name of their choosing.
bool saveAutoResumeFileAs(ResumeLock& lock, const std::filesystem::path& folder,
                          int connectionNumber, const std::filesystem::path& destination,
                          std::string* error = nullptr);
// The recorder closed connection k: copies its automatic file to Temp<k>.rsm under the lock,
// before the connection's end deletes the automatic file. Returns the temporary path.
std::optional<std::filesystem::path> keepAutoResumeFileAsTemp(ResumeLock& lock,
                                                              const std::filesystem::path& folder,
                                                              int connectionNumber,
                                                              std::string* error = nullptr);
// Moves a kept temporary file to the name the user chose (rename, or copy and delete across
// file systems).
bool moveResumeFile(const std::filesystem::path& from, const std::filesystem::path& to,
                    std::string* error = nullptr);
// An orderly end of connection k deletes its automatic file, waiting for the lock. A
// connection without a number (-1) has none.
void deleteAutoResumeFile(ResumeLock& lock, const std::filesystem::path& folder,
                          int connectionNumber);

// Start-up: lists "Auto*.rsm" in `folder`, deletes those under 102 bytes (a header without
// records) and what interrupted writes left behind, and asks kUnfinishedWorkQuestion (direct
// Yes/No box, question icon) when any are left. Yes returns them in connection order (Auto2
// before Auto10) for loading one after another; No deletes them.
std::vector<std::filesystem::path> scanUnfinishedWork(const std::filesystem::path& folder,
                                                      UserPort& user);

}  // namespace fsv::state

#pragma once
// The archive's files beside its catalog: hashing, putting a fetched file into place,
// taking up what a killed run left between the two steps, verifying, exporting and pruning.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/Catalog.h"

namespace fsv::archive {

// The file's SHA-256 (lower-case hex) and size; nullopt when it cannot be read.
struct FileHash {
    std::string sha256;
    uint64_t bytes = 0;
};
std::optional<FileHash> hashFile(const std::filesystem::path& file);

// Flushes `from` to disk (unless the caller did) and renames it to `to` (making its folders),
// then flushes the folder so the rename itself survives a crash. False with why.
bool placeFile(const std::filesystem::path& from, const std::filesystem::path& to,
               std::string* error, bool flushed = false);

// The archive's own name for a recorder's folder: the book name with '/' , '\\' and control
// characters replaced and "." / ".." refused (prefixed with '_').
std::string folderName(const std::string& recorder);

// Adds one fetched file to the archive in two steps: checkFetched (size, hash, flush to disk;
// on any thread) and commitFetched (noted as pending, renamed to `dir/row.path`, its row
// committed; on the catalog's writer). `row` gets hash and size. False with why; the fetched
// file is then removed (it is fetched again by the next run). `sha256` is the hash taken while
// the file was written; without it the file is read back and hashed.
bool checkFetched(const std::filesystem::path& fetched, uint64_t expectedBytes, RecordingRow& row,
                  std::string* error, const std::string& sha256 = {}, bool flush = true);
bool commitFetched(Catalog& catalog, const std::filesystem::path& dir,
                   const std::filesystem::path& fetched, RecordingRow& row, int64_t now,
                   std::string* error);
// Puts fetched files into the archive for several recorders at once and flushes them together.
// place() notes a file as pending and renames it to `dir/row.path` on the caller's thread; the
// sealer's thread commits its row once a flush of the archive's whole file system (syncfs) that
// began after the rename has ended. Files that arrive while one flush runs share the next: one
// flush and one journal commit for all of them, in place of a file's and its folder's for each.
// Until its flush has ended a row is only pending, and recoverPending checks a pending file's
// hash, so a row still never names a file that is not whole on the disk. The file need not be
// flushed before (checkFetched with `flush` false).
//
// Threads: place() on any thread; one thread of its own commits, through the catalog's writer
// (it waits for the writer while holding no lock). `lock_` guards the files waiting and the
// stop. The destructor seals what was placed, then ends the thread; the writer must outlive it.
struct Sealed {
    bool ok = false;
    std::string error;  // why not, when not ok
};
class Sealer {
  public:
    Sealer(CatalogWriter& writer, std::filesystem::path dir);
    ~Sealer();
    Sealer(const Sealer&) = delete;
    Sealer& operator=(const Sealer&) = delete;

    // Ready at once when the file could not be noted or moved (it is then removed, to be
    // fetched again by the next run); otherwise once its row is committed or its flush failed
    // (the row then stays pending, for the next run or verify to take up).
    std::future<Sealed> place(const std::filesystem::path& fetched, RecordingRow row, int64_t now);

  private:
    struct Placed {
        std::string path;
        int64_t now = 0;
        std::promise<Sealed> done;
    };
    void loop();
    bool flushAll();
    void commit(std::vector<Placed>& batch, bool flushed);

    CatalogWriter& writer_;
    const std::filesystem::path dir_;
    int dirFd_ = -1;
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<Placed> placed_;
    bool stop_ = false;
    std::thread thread_;
};
// Both steps at once.
bool archiveFile(Catalog& catalog, const std::filesystem::path& dir,
                 const std::filesystem::path& fetched, uint64_t expectedBytes, RecordingRow& row,
                 int64_t now, std::string* error);

// What a run killed between renaming a file into place and committing its row left behind:
// pending files that are in place and whole become rows, the others are removed. Returns how
// many were committed.
int recoverPending(Catalog& catalog, const std::filesystem::path& dir);

struct VerifyReport {
    int checked = 0;
    std::vector<std::string> missing, changed, untracked;  // paths relative to the archive
    bool clean() const { return missing.empty() && changed.empty() && untracked.empty(); }
};
// Rehashes every recording of the catalog and looks for files it does not know (the catalog
// itself and the incoming folder aside). Files found unchanged get their verification time.
VerifyReport verify(Catalog& catalog, const std::filesystem::path& dir, int64_t now);

// Makes a stamped copy of the recording `input` at `output` (whose folder exists); false with
// why.
using Stamper = std::function<bool(const std::filesystem::path& input,
                                   const std::filesystem::path& output, std::string* error)>;

// The folder of an export that holds the stamped copies, below it the same relative paths.
inline constexpr const char* kStampedFolder = "stamped";

struct ExportedFile {
    RecordingRow row;
    // The stamped copy (relative to the export folder), when stamps were asked for and the
    // recording is a camera's; empty otherwise.
    std::string stampedPath;
    uint64_t stampedBytes = 0;
    std::string stampedSha256;
};
struct ExportResult {
    std::vector<ExportedFile> copied;
    std::string error;  // set when the export stopped
};
// Copies `rows` below `out` (same relative paths), checking each copy's hash against the
// catalog; with `stamp`, also a stamped copy of each camera recording below out/stamped/. Then
// writes manifest.json, manifest.csv and SHA256SUMS, which cover every file written.
ExportResult exportRecordings(const std::vector<RecordingRow>& rows,
                              const std::filesystem::path& dir, const std::filesystem::path& out,
                              const Stamper& stamp = {});

// A text field for a CSV line: quoted when it holds a comma, quote or line break.
std::string csvField(const std::string& text);

}  // namespace fsv::archive

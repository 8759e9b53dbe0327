#pragma once
// The archive's catalog: DIR/catalog.sqlite, in WAL mode so that readers (find, the viewer)
// never block the run that writes. It knows the recorders, their cameras and audio channels,
// and every recording whose file lies complete in the archive. A recording is first noted as
// pending (its file is being put into place), then moved into the recordings table in one
// transaction once the file is there: a recordings row never names a partial file.
//
// A Catalog is used by one thread at a time; CatalogWriter gives the writes a thread of their
// own.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive/Sqlite.h"

namespace fsv::archive {

inline constexpr char kCatalogFile[] = "catalog.sqlite";
// Files are fetched into this folder of the archive and renamed into place once complete.
inline constexpr char kIncomingFolder[] = ".incoming";

enum class ChannelKind : int { Camera = 0, Audio = 1 };

struct RecordingRow {
    int64_t id = 0;
    std::string recorder;  // the address book's name of the recorder
    ChannelKind kind = ChannelKind::Camera;
    int code = 0;  // camera (or audio channel) code
    std::string cameraName;
    std::string eventKey;  // YYYYMMDDHHMMSS
    uint32_t dateId = 0;
    std::string start;  // "YYYY-MM-DD HH:MM:SS"
    std::string path;   // relative to the archive folder
    uint64_t bytes = 0;
    std::string sha256;  // lower-case hex
    int64_t archivedAt = 0;
    std::optional<int64_t> verifiedAt;
};

struct FindFilter {
    std::optional<std::string> recorder;
    std::optional<int> code;
    std::optional<ChannelKind> kind;
    std::string from, to;  // "YYYY-MM-DD HH:MM:SS" bounds on the start; empty: open
};

// "YYYYMMDDHHMMSS" as "YYYY-MM-DD HH:MM:SS" (empty when the key is not 14 digits).
std::string startOfKey(const std::string& eventKey);

class Catalog {
  public:
    static std::filesystem::path fileIn(const std::filesystem::path& dir) {
        return dir / kCatalogFile;
    }
    // Opens the catalog of `dir`. Writing creates it (and the folder) and brings its schema up
    // to date; reading wants an existing catalog of a schema this program knows.
    bool open(const std::filesystem::path& dir, bool write, std::string* error);
    int schemaVersion();

    // The id of the recorder (by its address book name), added or brought up to date.
    std::optional<int64_t> recorder(const std::string& name, const std::string& address, int port,
                                    const std::string& recorderName);
    std::optional<int64_t> channel(int64_t recorderId, ChannelKind kind, int code,
                                   const std::string& name);
    // The recordings of a recorder in the catalog, as channelKey()s: what a run leaves out.
    std::set<std::string> archivedKeys(const std::string& recorder);
    static std::string channelKey(ChannelKind kind, int code, const std::string& eventKey);

    // The two steps of adding a recording; `row.recorder` and the channel must exist.
    bool addPending(const RecordingRow& row);
    bool commitPending(const std::string& path, int64_t archivedAt);
    bool dropPending(const std::string& path);
    std::vector<RecordingRow> pending();

    std::vector<RecordingRow> find(const FindFilter& filter);
    bool remove(int64_t id);
    bool markVerified(int64_t id, int64_t when);
    std::string lastError() const { return db_.lastError(); }

  private:
    std::optional<int64_t> recorderId(const std::string& name);
    std::vector<RecordingRow> rows(const char* sql, const FindFilter* filter);

    Database db_;
};

// The catalog's writes on one thread: each job runs there with the write connection, and
// call() waits for its result. Destroying the writer runs the jobs queued and ends the thread.
class CatalogWriter {
  public:
    CatalogWriter() = default;
    ~CatalogWriter();
    bool open(const std::filesystem::path& dir, std::string* error);

    template <typename F>
    auto call(F f) -> decltype(f(std::declval<Catalog&>())) {
        using R = decltype(f(std::declval<Catalog&>()));
        auto task = std::make_shared<std::packaged_task<R()>>([this, f] { return f(catalog_); });
        auto result = task->get_future();
        post([task] { (*task)(); });
        return result.get();
    }

  private:
    void post(std::function<void()> job);
    void loop();

    Catalog catalog_;
    std::mutex lock_;  // guards jobs_ and stop_
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace fsv::archive

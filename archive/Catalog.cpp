#include "archive/Catalog.h"

#include "archive/Schema.h"

namespace fsv::archive {

std::string startOfKey(const std::string& k) {
    if (k.size() != 14 || k.find_first_not_of("0123456789") != std::string::npos) return {};
    return k.substr(0, 4) + "-" + k.substr(4, 2) + "-" + k.substr(6, 2) + " " + k.substr(8, 2) +
           ":" + k.substr(10, 2) + ":" + k.substr(12, 2);
}

bool Catalog::open(const std::filesystem::path& dir, bool write, std::string* error) {
    const std::string file = fileIn(dir).string();
    if (!write && !std::filesystem::exists(file)) {
        if (error) *error = "no catalog in " + dir.string();
        return false;
    }
    std::error_code ec;
    if (write) std::filesystem::create_directories(dir, ec);  // a new archive
    if (!db_.open(file, write, !write, error)) return false;
    if (write) {
        // WAL: readers go on while the run writes. NORMAL: a commit is not flushed by itself;
        // a killed process loses nothing, a power cut at most the last rows, never the order.
        // A row still never names a partial file: the file and its folder are flushed before
        // the row is written. A lost row leaves an untracked file that the next run replaces.
        if (!db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON",
                      error))
            return false;
        return migrate(db_, error);
    }
    const int version = schemaVersion();
    if (version < 1 || version > latestSchemaVersion()) {
        if (error)
            *error = "the catalog in " + dir.string() + " has schema " + std::to_string(version) +
                     ", this program reads 1 to " + std::to_string(latestSchemaVersion());
        return false;
    }
    return true;
}

int Catalog::schemaVersion() {
    Statement s(db_, "PRAGMA user_version");
    return s.step() ? static_cast<int>(s.integer(0)) : -1;
}

std::optional<int64_t> Catalog::recorderId(const std::string& name) {
    Statement s(db_, "SELECT id FROM recorders WHERE name = ?");
    s.bind(1, name);
    if (s.step()) return s.integer(0);
    return std::nullopt;
}

std::optional<int64_t> Catalog::recorder(const std::string& name, const std::string& address,
                                         int port, const std::string& recorderName) {
    Statement s(db_,
                "INSERT INTO recorders (name, address, port, recorder_name) VALUES (?, ?, ?, ?) "
                "ON CONFLICT(name) DO UPDATE SET address = excluded.address, port = "
                "excluded.port, recorder_name = excluded.recorder_name");
    s.bind(1, name).bind(2, address).bind(3, port).bind(4, recorderName);
    if (!s.run()) return std::nullopt;
    return recorderId(name);
}

std::optional<int64_t> Catalog::channel(int64_t recorderId, ChannelKind kind, int code,
                                        const std::string& name) {
    Statement s(db_,
                "INSERT INTO cameras (recorder_id, kind, code, name) VALUES (?, ?, ?, ?) "
                "ON CONFLICT(recorder_id, kind, code) DO UPDATE SET name = excluded.name");
    s.bind(1, recorderId).bind(2, static_cast<int64_t>(kind)).bind(3, code).bind(4, name);
    if (!s.run()) return std::nullopt;
    Statement q(db_, "SELECT id FROM cameras WHERE recorder_id = ? AND kind = ? AND code = ?");
    q.bind(1, recorderId).bind(2, static_cast<int64_t>(kind)).bind(3, code);
    if (q.step()) return q.integer(0);
    return std::nullopt;
}

std::string Catalog::channelKey(ChannelKind kind, int code, const std::string& eventKey) {
    return std::to_string(static_cast<int>(kind)) + ":" + std::to_string(code) + ":" + eventKey;
}

std::set<std::string> Catalog::archivedKeys(const std::string& recorder) {
    std::set<std::string> out;
    Statement s(db_,
                "SELECT c.kind, c.code, r.event_key FROM recordings r "
                "JOIN cameras c ON c.id = r.camera_id JOIN recorders d ON d.id = r.recorder_id "
                "WHERE d.name = ?");
    s.bind(1, recorder);
    while (s.step())
        out.insert(channelKey(static_cast<ChannelKind>(s.integer(0)),
                              static_cast<int>(s.integer(1)), s.text(2)));
    return out;
}

bool Catalog::addPending(const RecordingRow& row) {
    Statement s(db_,
                "INSERT OR REPLACE INTO pending (path, recorder_id, camera_id, event_key, "
                "date_id, start_time, bytes, sha256) "
                "SELECT ?, d.id, c.id, ?, ?, ?, ?, ? FROM recorders d JOIN cameras c "
                "ON c.recorder_id = d.id WHERE d.name = ? AND c.kind = ? AND c.code = ?");
    s.bind(1, row.path)
        .bind(2, row.eventKey)
        .bind(3, static_cast<int64_t>(row.dateId))
        .bind(4, row.start)
        .bind(5, static_cast<int64_t>(row.bytes))
        .bind(6, row.sha256)
        .bind(7, row.recorder)
        .bind(8, static_cast<int64_t>(row.kind))
        .bind(9, row.code);
    return s.run() && db_.changes() == 1;
}

bool Catalog::commitPending(const std::string& path, int64_t archivedAt) {
    Transaction t(db_);
    if (!t.begun()) return false;
    Statement ins(db_,
                  "INSERT OR REPLACE INTO recordings (recorder_id, camera_id, event_key, "
                  "date_id, start_time, path, bytes, sha256, archived_at) "
                  "SELECT recorder_id, camera_id, event_key, date_id, start_time, path, bytes, "
                  "sha256, ? FROM pending WHERE path = ?");
    ins.bind(1, archivedAt).bind(2, path);
    if (!ins.run() || db_.changes() != 1) return false;
    Statement del(db_, "DELETE FROM pending WHERE path = ?");
    del.bind(1, path);
    return del.run() && t.commit();
}

bool Catalog::dropPending(const std::string& path) {
    Statement s(db_, "DELETE FROM pending WHERE path = ?");
    s.bind(1, path);
    return s.run();
}

namespace {
constexpr const char* kSelect =
    "SELECT r.id, d.name, c.kind, c.code, c.name, r.event_key, r.date_id, r.start_time, r.path, "
    "r.bytes, r.sha256, r.archived_at, r.verified_at FROM recordings r "
    "JOIN recorders d ON d.id = r.recorder_id JOIN cameras c ON c.id = r.camera_id "
    "WHERE (?1 IS NULL OR d.name = ?1) AND (?2 IS NULL OR c.code = ?2) "
    "AND (?3 IS NULL OR c.kind = ?3) AND (?4 IS NULL OR r.start_time >= ?4) "
    "AND (?5 IS NULL OR r.start_time <= ?5) "
    "ORDER BY d.name, c.kind, c.code, r.start_time";
constexpr const char* kSelectPending =
    "SELECT 0, d.name, c.kind, c.code, c.name, p.event_key, p.date_id, p.start_time, p.path, "
    "p.bytes, p.sha256, 0, NULL FROM pending p "
    "JOIN recorders d ON d.id = p.recorder_id JOIN cameras c ON c.id = p.camera_id";
}  // namespace

std::vector<RecordingRow> Catalog::rows(const char* sql, const FindFilter* f) {
    std::vector<RecordingRow> out;
    Statement s(db_, sql);
    if (f) {
        if (f->recorder) s.bind(1, *f->recorder);
        if (f->code) s.bind(2, *f->code);
        if (f->kind) s.bind(3, static_cast<int64_t>(*f->kind));
        if (!f->from.empty()) s.bind(4, f->from);
        if (!f->to.empty()) s.bind(5, f->to);
    }
    while (s.step()) {
        RecordingRow r;
        r.id = s.integer(0);
        r.recorder = s.text(1);
        r.kind = static_cast<ChannelKind>(s.integer(2));
        r.code = static_cast<int>(s.integer(3));
        r.cameraName = s.text(4);
        r.eventKey = s.text(5);
        r.dateId = static_cast<uint32_t>(s.integer(6));
        r.start = s.text(7);
        r.path = s.text(8);
        r.bytes = static_cast<uint64_t>(s.integer(9));
        r.sha256 = s.text(10);
        r.archivedAt = s.integer(11);
        if (!s.isNull(12)) r.verifiedAt = s.integer(12);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<RecordingRow> Catalog::pending() { return rows(kSelectPending, nullptr); }

std::vector<RecordingRow> Catalog::find(const FindFilter& filter) { return rows(kSelect, &filter); }

bool Catalog::remove(int64_t id) {
    Statement s(db_, "DELETE FROM recordings WHERE id = ?");
    s.bind(1, id);
    return s.run();
}

bool Catalog::markVerified(int64_t id, int64_t when) {
    Statement s(db_, "UPDATE recordings SET verified_at = ? WHERE id = ?");
    s.bind(1, when).bind(2, id);
    return s.run();
}

CatalogWriter::~CatalogWriter() {
    {
        std::lock_guard lock(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool CatalogWriter::open(const std::filesystem::path& dir, std::string* error) {
    if (!catalog_.open(dir, true, error)) return false;
    thread_ = std::thread([this] { loop(); });
    return true;
}

void CatalogWriter::post(std::function<void()> job) {
    {
        std::lock_guard lock(lock_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void CatalogWriter::loop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace fsv::archive

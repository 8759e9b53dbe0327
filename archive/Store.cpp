#include "archive/Store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/Sha256.h"

namespace fsv::archive {

namespace fs = std::filesystem;
using platform::Sha256;

std::optional<FileHash> hashFile(const fs::path& file) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return std::nullopt;
    Sha256 hash;
    FileHash out;
    std::vector<char> buffer(1 << 16);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
        hash.update(buffer.data(), n);
        out.bytes += n;
    }
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) return std::nullopt;
    out.sha256 = hash.hex();
    return out;
}

namespace {

bool syncPath(const fs::path& path, bool directory) {
    const int fd = ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

bool placeFile(const fs::path& from, const fs::path& to, std::string* error, bool flushed) {
    std::error_code ec;
    if (!flushed && !syncPath(from, false)) {
        if (error) *error = "cannot flush " + from.string();
        return false;
    }
    fs::create_directories(to.parent_path(), ec);
    fs::rename(from, to, ec);
    if (ec) {
        if (error)
            *error = "cannot move " + from.string() + " to " + to.string() + ": " + ec.message();
        return false;
    }
    syncPath(to.parent_path(), true);
    return true;
}

std::string folderName(const std::string& recorder) {
    std::string out;
    for (char c : recorder)
        out += (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
    if (out.empty() || out == "." || out == ".." || out[0] == '.') out = "_" + out;
    return out;
}

bool checkFetched(const fs::path& fetched, uint64_t expectedBytes, RecordingRow& row,
                  std::string* error, const std::string& sha256, bool flush) {
    std::error_code ec;
    auto fail = [&](const std::string& why) {
        fs::remove(fetched, ec);
        if (error) *error = why;
        return false;
    };
    FileHash hash;
    if (!sha256.empty()) {
        hash.sha256 = sha256;
        hash.bytes = fs::file_size(fetched, ec);
        if (ec) return fail("cannot read " + fetched.string());
    } else if (auto read = hashFile(fetched)) {
        hash = *read;
    } else {
        return fail("cannot read " + fetched.string());
    }
    if (hash.bytes != expectedBytes)
        return fail("size " + std::to_string(hash.bytes) + " instead of " +
                    std::to_string(expectedBytes) + " bytes: " + fetched.string());
    if (flush && !syncPath(fetched, false)) return fail("cannot flush " + fetched.string());
    row.sha256 = hash.sha256;
    row.bytes = hash.bytes;
    return true;
}

bool commitFetched(Catalog& catalog, const fs::path& dir, const fs::path& fetched,
                   RecordingRow& row, int64_t now, std::string* error) {
    std::error_code ec;
    row.archivedAt = now;
    if (!catalog.addPending(row)) {
        fs::remove(fetched, ec);
        if (error) *error = "catalog: " + catalog.lastError();
        return false;
    }
    std::string why;
    if (!placeFile(fetched, dir / row.path, &why, true)) {
        catalog.dropPending(row.path);
        fs::remove(fetched, ec);
        if (error) *error = why;
        return false;
    }
    if (!catalog.commitPending(row.path, now)) {
        if (error) *error = "catalog: " + catalog.lastError();
        return false;  // stays pending: the next run or verify takes it up
    }
    return true;
}

Sealer::Sealer(CatalogWriter& writer, fs::path dir)
    : writer_(writer),
      dir_(std::move(dir)),
      dirFd_(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      thread_([this] { loop(); }) {}

Sealer::~Sealer() {
    {
        std::lock_guard lock(lock_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    if (dirFd_ >= 0) ::close(dirFd_);
}

std::future<Sealed> Sealer::place(const fs::path& fetched, RecordingRow row, int64_t now) {
    std::promise<Sealed> done;
    auto result = done.get_future();
    auto fail = [&](std::string why) {
        std::error_code ec;
        fs::remove(fetched, ec);
        done.set_value({false, std::move(why)});
        return std::move(result);
    };
    row.archivedAt = now;
    std::string why;
    auto note = [&](Catalog& c) {
        if (c.addPending(row)) return true;
        why = "catalog: " + c.lastError();
        return false;
    };
    if (!writer_.call(note)) return fail(why);
    const fs::path to = dir_ / row.path;
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    fs::rename(fetched, to, ec);
    if (ec) {
        writer_.call([&](Catalog& c) { return c.dropPending(row.path); });
        return fail("cannot move " + fetched.string() + " to " + to.string() + ": " + ec.message());
    }
    {
        std::lock_guard lock(lock_);
        placed_.push_back({row.path, now, std::move(done)});
    }
    wake_.notify_one();
    return result;
}

void Sealer::loop() {
    for (;;) {
        std::vector<Placed> batch;
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [&] { return stop_ || !placed_.empty(); });
            if (placed_.empty()) return;  // stopping, and nothing left to seal
            batch.swap(placed_);
        }
        commit(batch, flushAll());
    }
}

// Everything written to the archive's file system so far, with the renames, on the disk.
bool Sealer::flushAll() { return dirFd_ >= 0 && ::syncfs(dirFd_) == 0; }

void Sealer::commit(std::vector<Placed>& batch, bool flushed) {
    std::vector<Sealed> results(batch.size());
    if (flushed) {
        writer_.call([&](Catalog& c) {
            for (size_t i = 0; i < batch.size(); ++i)
                results[i] = c.commitPending(batch[i].path, batch[i].now)
                                 ? Sealed{true, {}}
                                 : Sealed{false, "catalog: " + c.lastError()};
            return true;
        });
    } else {
        // The rows stay pending: the next run or verify takes them up.
        for (size_t i = 0; i < batch.size(); ++i)
            results[i] = {false, "cannot flush " + (dir_ / batch[i].path).string()};
    }
    for (size_t i = 0; i < batch.size(); ++i) batch[i].done.set_value(std::move(results[i]));
}

bool archiveFile(Catalog& catalog, const fs::path& dir, const fs::path& fetched,
                 uint64_t expectedBytes, RecordingRow& row, int64_t now, std::string* error) {
    return checkFetched(fetched, expectedBytes, row, error) &&
           commitFetched(catalog, dir, fetched, row, now, error);
}

int recoverPending(Catalog& catalog, const fs::path& dir) {
    int committed = 0;
    std::error_code ec;
    for (auto& p : catalog.pending()) {
        const auto hash = hashFile(dir / p.path);
        if (hash && hash->sha256 == p.sha256 && hash->bytes == p.bytes) {
            if (catalog.commitPending(p.path, std::time(nullptr))) ++committed;
            continue;
        }
        // Never renamed into place, or not whole: fetched again by the next run.
        if (hash) fs::remove(dir / p.path, ec);
        catalog.dropPending(p.path);
    }
    return committed;
}

VerifyReport verify(Catalog& catalog, const fs::path& dir, int64_t now) {
    VerifyReport report;
    std::set<std::string> known;
    for (auto& row : catalog.find({})) {
        known.insert(row.path);
        ++report.checked;
        const auto hash = hashFile(dir / row.path);
        if (!hash)
            report.missing.push_back(row.path);
        else if (hash->sha256 != row.sha256 || hash->bytes != row.bytes)
            report.changed.push_back(row.path);
        else
            catalog.markVerified(row.id, now);
    }
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), dir, ec).generic_string();
        if (it.depth() == 0 && (rel == kIncomingFolder || rel.rfind(kCatalogFile, 0) == 0)) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        if (it->is_directory()) continue;
        if (!known.count(rel)) report.untracked.push_back(rel);
    }
    return report;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

namespace {

// Copies one file, hashing the bytes as they are written; the copy's hash, or nullopt.
std::optional<std::string> copyHashed(const fs::path& from, const fs::path& to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) return std::nullopt;
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) {
        std::fclose(in);
        return std::nullopt;
    }
    Sha256 hash;
    std::vector<char> buffer(1 << 16);
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        ok = std::fwrite(buffer.data(), 1, n, out) == n;
        hash.update(buffer.data(), n);
    }
    ok = ok && !std::ferror(in);
    std::fclose(in);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) return std::nullopt;
    return hash.hex();
}

}  // namespace

ExportResult exportRecordings(const std::vector<RecordingRow>& rows, const fs::path& dir,
                              const fs::path& out, const Stamper& stamp) {
    ExportResult result;
    std::error_code ec;
    fs::create_directories(out, ec);
    for (auto& row : rows) {
        const auto hash = copyHashed(dir / row.path, out / row.path);
        if (!hash) {
            result.error = "cannot copy " + row.path;
            return result;
        }
        if (*hash != row.sha256) {
            result.error = row.path + " does not match its catalog hash (run fsv archive verify)";
            return result;
        }
        ExportedFile file{row, {}, 0, {}};
        if (stamp && row.kind == ChannelKind::Camera) {
            // Stamped from the copy just checked, not from the archive that may change.
            const std::string stamped = std::string(kStampedFolder) + "/" + row.path;
            fs::create_directories((out / stamped).parent_path(), ec);
            std::string why;
            if (!stamp(out / row.path, out / stamped, &why)) {
                result.error = "cannot stamp " + row.path + (why.empty() ? "" : ": " + why);
                return result;
            }
            const auto h = hashFile(out / stamped);
            if (!h) {
                result.error = "cannot read " + stamped;
                return result;
            }
            file.stampedPath = stamped;
            file.stampedBytes = h->bytes;
            file.stampedSha256 = h->sha256;
        }
        result.copied.push_back(std::move(file));
    }
    nlohmann::json manifest = nlohmann::json::array();
    std::ofstream csv(out / "manifest.csv");
    std::ofstream sums(out / "SHA256SUMS");
    csv << "recorder,kind,camera,camera_name,start,event_key,path,bytes,sha256,stamped_path,"
           "stamped_bytes,stamped_sha256\n";
    for (auto& f : result.copied) {
        const RecordingRow& r = f.row;
        const char* kind = r.kind == ChannelKind::Audio ? "audio" : "camera";
        nlohmann::json entry{{"recorder", r.recorder}, {"kind", kind},
                             {"camera", r.code},       {"camera_name", r.cameraName},
                             {"start", r.start},       {"event_key", r.eventKey},
                             {"path", r.path},         {"bytes", r.bytes},
                             {"sha256", r.sha256},     {"stamped", nullptr}};
        if (!f.stampedPath.empty())
            entry["stamped"] = {
                {"path", f.stampedPath}, {"bytes", f.stampedBytes}, {"sha256", f.stampedSha256}};
        manifest.push_back(entry);
        csv << csvField(r.recorder) << ',' << kind << ',' << r.code << ',' << csvField(r.cameraName)
            << ',' << r.start << ',' << r.eventKey << ',' << csvField(r.path) << ',' << r.bytes
            << ',' << r.sha256 << ',' << csvField(f.stampedPath) << ',';
        if (!f.stampedPath.empty()) csv << f.stampedBytes;
        csv << ',' << f.stampedSha256 << '\n';
        sums << r.sha256 << "  " << r.path << '\n';
    }
    // The stamped copies after the recordings, so that the list reads as two parts.
    for (auto& f : result.copied)
        if (!f.stampedPath.empty()) sums << f.stampedSha256 << "  " << f.stampedPath << '\n';
    std::ofstream(out / "manifest.json") << manifest.dump(2) << '\n';
    csv.close();
    sums.close();
    if (!csv || !sums) result.error = "cannot write the manifest in " + out.string();
    return result;
}

}  // namespace fsv::archive

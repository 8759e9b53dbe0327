// fsv archive run|verify|find|prune|export --archive DIR ...
// A fleet's recordings kept in an archive folder with a catalog (DIR/catalog.sqlite): `run`
// fetches what is missing (ArchiveRun.cpp); the others work offline on the folder.
//   verify: rehashes every file against the catalog; missing, changed and untracked files are
//           listed and make the exit status 1.
//   find:   the catalog's recordings by recorder, camera and period, as a table or JSON.
//   prune:  the recordings that started more than N days ago; removed only with --yes.
//   export: copies of the chosen recordings with manifest.json, manifest.csv and SHA256SUMS;
//           with --stamp also stamped copies (made by Framestamp) under OUT/stamped/.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "ArchiveRun.h"
#include "CommandSupport.h"
#include "Commands.h"
#include "Stamping.h"
#include "archive/Catalog.h"
#include "archive/Store.h"
#include "platform/Text.h"

namespace {

namespace fs = std::filesystem;
namespace ar = fsv::archive;

struct Selection {
    std::string archive;
    std::string recorder;
    std::vector<int> cameras;
    std::string from, to;
    bool json = false;
};

void addArchiveOption(CLI::App* cmd, std::string& archive) {
    cmd->add_option("--archive", archive, "the archive folder")->required();
}

// The catalog of --archive, written by verify and prune, only read otherwise.
bool openCatalog(const std::string& archive, bool write, ar::Catalog& catalog,
                 const std::string& command) {
    std::string error;
    if (!fs::exists(ar::Catalog::fileIn(archive))) {
        fsv::cli::printError(command + ": no archive in " + archive);
        return false;
    }
    if (catalog.open(archive, write, &error)) return true;
    fsv::cli::printError(command + ": " + error);
    return false;
}

// The rows the selection names; false after printing why.
bool select(const Selection& s, ar::Catalog& catalog, std::vector<ar::RecordingRow>& rows,
            const std::string& command) {
    ar::FindFilter f;
    if (!s.recorder.empty()) f.recorder = s.recorder;
    auto moment = [&](const std::string& text, bool end, std::string& out) {
        if (text.empty()) return true;
        std::string date, time;
        if (!fsv::cli::parseMoment(text, end, date, time)) {
            fsv::cli::printError(command + ": --from and --to want \"YYYY-MM-DD HH:MM:SS\"");
            return false;
        }
        out = ar::startOfKey(date + time);
        return true;
    };
    if (!moment(s.from, false, f.from) || !moment(s.to, true, f.to)) return false;
    if (s.cameras.empty()) {
        rows = catalog.find(f);
        return true;
    }
    f.kind = ar::ChannelKind::Camera;
    for (int code : s.cameras) {
        f.code = code;
        auto some = catalog.find(f);
        rows.insert(rows.end(), some.begin(), some.end());
    }
    return true;
}

void addSelection(CLI::App* cmd, const std::shared_ptr<Selection>& s) {
    addArchiveOption(cmd, s->archive);
    cmd->add_option("--recorder", s->recorder, "the recorder's address book name");
    cmd->add_option("--camera", s->cameras, "camera codes, comma-separated")->delimiter(',');
    cmd->add_option("--from", s->from, "recordings starting at or after \"YYYY-MM-DD HH:MM:SS\"");
    cmd->add_option("--to", s->to, "recordings starting at or before \"YYYY-MM-DD HH:MM:SS\"");
}

nlohmann::json toJson(const ar::RecordingRow& r) {
    nlohmann::json j{{"recorder", r.recorder},
                     {"kind", r.kind == ar::ChannelKind::Audio ? "audio" : "camera"},
                     {"camera", r.code},
                     {"camera_name", fsv::platform::toUtf8(r.cameraName)},
                     {"start", r.start},
                     {"event_key", r.eventKey},
                     {"date_id", r.dateId},
                     {"path", r.path},
                     {"bytes", r.bytes},
                     {"sha256", r.sha256},
                     {"archived_at", r.archivedAt}};
    j["verified_at"] = r.verifiedAt ? nlohmann::json(*r.verifiedAt) : nlohmann::json(nullptr);
    return j;
}

int runVerify(const std::string& archive, bool json) {
    ar::Catalog catalog;
    if (!openCatalog(archive, true, catalog, "fsv archive verify")) return 2;
    ar::recoverPending(catalog, fs::absolute(archive));
    const auto report = ar::verify(catalog, archive, static_cast<int64_t>(std::time(nullptr)));
    if (json) {
        fsv::cli::printJson({{"checked", report.checked},
                             {"missing", report.missing},
                             {"changed", report.changed},
                             {"untracked", report.untracked},
                             {"clean", report.clean()}});
    } else {
        for (auto& p : report.missing) std::printf("missing    %s\n", p.c_str());
        for (auto& p : report.changed) std::printf("changed    %s\n", p.c_str());
        for (auto& p : report.untracked) std::printf("untracked  %s\n", p.c_str());
        std::printf("%d checked: %zu missing, %zu changed, %zu untracked\n", report.checked,
                    report.missing.size(), report.changed.size(), report.untracked.size());
    }
    return report.clean() ? 0 : 1;
}

int runFind(const Selection& s) {
    ar::Catalog catalog;
    if (!openCatalog(s.archive, false, catalog, "fsv archive find")) return 2;
    std::vector<ar::RecordingRow> rows;
    if (!select(s, catalog, rows, "fsv archive find")) return 2;
    if (s.json) {
        nlohmann::json all = nlohmann::json::array();
        for (auto& r : rows) all.push_back(toJson(r));
        fsv::cli::printJson(all, 2);
        return 0;
    }
    std::printf("%-20s %-6s %-19s %12s  %s\n", "RECORDER", "CAMERA", "START", "BYTES", "PATH");
    for (auto& r : rows)
        std::printf(
            "%-20s %-6s %-19s %12llu  %s\n", fsv::platform::terminalText(r.recorder).c_str(),
            ((r.kind == ar::ChannelKind::Audio ? "A" : "") + std::to_string(r.code)).c_str(),
            r.start.c_str(), static_cast<unsigned long long>(r.bytes),
            fsv::platform::terminalText(r.path).c_str());
    std::printf("%zu recordings\n", rows.size());
    return 0;
}

int runPrune(const std::string& archive, int keepDays, bool yes) {
    ar::Catalog catalog;
    if (!openCatalog(archive, yes, catalog, "fsv archive prune")) return 2;
    const std::time_t cutoff = std::time(nullptr) - static_cast<std::time_t>(keepDays) * 86400;
    std::tm tm{};
    localtime_r(&cutoff, &tm);
    char before[32];
    std::strftime(before, sizeof before, "%Y-%m-%d %H:%M:%S", &tm);
    ar::FindFilter f;
    f.to = before;
    int removed = 0;
    uint64_t bytes = 0;
    for (auto& r : catalog.find(f)) {
        if (r.start >= before) continue;
        bytes += r.bytes;
        if (!yes) {
            std::printf("would remove %s\n", fsv::platform::terminalText(r.path).c_str());
            ++removed;
            continue;
        }
        // The row goes first: a file without a row is found by verify, never the reverse.
        if (!catalog.remove(r.id)) {
            fsv::cli::printError("fsv archive prune: " + catalog.lastError());
            return 1;
        }
        std::error_code ec;
        fs::remove(fs::path(archive) / r.path, ec);
        std::printf("removed %s\n", fsv::platform::terminalText(r.path).c_str());
        ++removed;
    }
    std::printf("%s %d recordings (%s) that started before %s%s\n",
                yes ? "removed" : "would remove", removed, fsv::SizeText(bytes).c_str(), before,
                yes ? "" : "; add --yes to remove them");
    return 0;
}

int runExport(const Selection& s, const std::string& out, bool stamp) {
    ar::Catalog catalog;
    if (!openCatalog(s.archive, false, catalog, "fsv archive export")) return 2;
    std::vector<ar::RecordingRow> rows;
    if (!select(s, catalog, rows, "fsv archive export")) return 2;
    if (rows.empty()) {
        fsv::cli::printError("fsv archive export: no recording in the archive matches");
        return 1;
    }
    ar::Stamper stamper;
    if (stamp) stamper = fsv::cli::framestampStamper(fsv::cli::framestampProgram());
    const auto result = ar::exportRecordings(rows, s.archive, out, stamper);
    if (!result.error.empty()) {
        fsv::cli::printError("fsv archive export: " + result.error);
        return 1;
    }
    size_t stamped = 0;
    for (auto& f : result.copied) stamped += !f.stampedPath.empty();
    std::printf("%zu recordings exported to %s", result.copied.size(), out.c_str());
    if (stamp)
        std::printf(", %zu stamped copies in %s/%s", stamped, out.c_str(), ar::kStampedFolder);
    std::printf(" (check with: cd %s && sha256sum -c SHA256SUMS)\n", out.c_str());
    return 0;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto* archive = app.add_subcommand("archive", "keep a fleet of recorders archived");
    archive->require_subcommand(1);

    auto run = std::make_shared<fsv::cli::ArchiveRunArgs>();
    auto* r = archive->add_subcommand("run", "fetch what the archive does not hold yet");
    addArchiveOption(r, run->archive);
    r->add_option("names", run->names, "address book names of recorders");
    r->add_option("--group", run->group, "every recorder of this address book group");
    r->add_flag("--all", run->all, "every recorder of the address book");
    r->add_option("--since", run->since, "the window: the last 2d, 12h, 90m ...");
    r->add_option("--from", run->from, "the window's start: \"YYYY-MM-DD HH:MM:SS\"");
    r->add_option("--to", run->to, "the window's end: \"YYYY-MM-DD HH:MM:SS\"");
    r->add_option("--jobs", run->jobs, "recorders worked at once (default 4)")
        ->check(CLI::Range(1, 256));
    r->add_option("--limit-rate", run->limitRate,
                  "KB/s (1 KB = 1024 bytes) that each recorder sends at most; 0: no limit")
        ->check(CLI::Range(int64_t{0}, int64_t{1} << 40));
    r->add_flag("--audio", run->audio, "the audio channels' recordings as well");
    r->add_flag("--json", run->json, "one JSON line per step, file and recorder summary");
    fsv::cli::addWaitOption(r, run->waitSeconds);
    fsv::cli::addPlainLoginOption(r, run->noPlainLogin);
    r->callback([run] { fsv::cli::setExitCode(fsv::cli::runArchive(*run)); });

    auto verifyDir = std::make_shared<std::string>();
    auto verifyJson = std::make_shared<bool>(false);
    auto* v = archive->add_subcommand("verify", "rehash every file against the catalog");
    addArchiveOption(v, *verifyDir);
    v->add_flag("--json", *verifyJson, "the report as JSON");
    v->callback([=] { fsv::cli::setExitCode(runVerify(*verifyDir, *verifyJson)); });

    auto find = std::make_shared<Selection>();
    auto* f = archive->add_subcommand("find", "the archived recordings of a selection");
    addSelection(f, find);
    f->add_flag("--json", find->json, "the rows as JSON");
    f->callback([find] { fsv::cli::setExitCode(runFind(*find)); });

    auto pruneDir = std::make_shared<std::string>();
    auto keepDays = std::make_shared<int>(0);
    auto yes = std::make_shared<bool>(false);
    auto* p = archive->add_subcommand("prune", "remove recordings older than N days");
    addArchiveOption(p, *pruneDir);
    p->add_option("--keep-days", *keepDays, "days of recordings to keep")
        ->required()
        ->check(CLI::Range(0, 100000));
    p->add_flag("--yes", *yes, "remove them (without it only lists them)");
    p->callback([=] { fsv::cli::setExitCode(runPrune(*pruneDir, *keepDays, *yes)); });

    auto exp = std::make_shared<Selection>();
    auto out = std::make_shared<std::string>();
    auto* e = archive->add_subcommand("export", "copies with manifests and SHA256SUMS");
    addSelection(e, exp);
    e->add_option("out", *out, "the folder to export into")->required();
    auto stamp = std::make_shared<bool>(false);
    e->add_flag("--stamp", *stamp,
                "stamped copies as well (date and time drawn on every frame, by Framestamp)");
    e->callback([=] { fsv::cli::setExitCode(runExport(*exp, *out, *stamp)); });
});

}  // namespace

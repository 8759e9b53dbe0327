#include "client/Persistence.h"

#include <system_error>

#include "state/ConnectionSet.h"

namespace fsv::client {

namespace fs = std::filesystem;

namespace {

state::ResumeHeader headerOf(const net::ServerSession& session) {
    state::ResumeHeader h;
    h.port = session.port();
    h.address = session.address();
    h.id = session.id();
    h.password = session.password();
    return h;
}

}  // namespace

ConnectRequest requestOf(const net::ServerSession& session) {
    ConnectRequest r;
    r.kind = session.kind();
    r.port = session.port();
    r.address = session.address();
    r.id = session.id();
    r.password = session.password();
    return r;
}

std::string skippedWorkText(const fs::path& file, const std::vector<std::string>& skipped) {
    constexpr size_t kShown = 10;  // a box, not a log: the rest is counted
    std::string text = format("Some work of %s was left out:", file.filename().string().c_str());
    for (size_t i = 0; i < skipped.size() && i < kShown; ++i) text += "\n" + skipped[i];
    if (skipped.size() > kShown) text += format("\n... and %zu more", skipped.size() - kShown);
    return text;
}

Persistence::Persistence(fs::path dataFolder, bool autoResume, UserPort& port,
                         SessionRegistry& sessions)
    : dataFolder_(std::move(dataFolder)),
      autoResume_(autoResume),
      port_(port),
      sessions_(sessions) {}

std::vector<fs::path> Persistence::scanAtStart() {
    return state::scanUnfinishedWork(dataFolder_, port_);
}

// ---- the automatic resume file ---------------------------------------------------------------

void Persistence::saveAuto(SessionEntry& s, bool wait) {
    if (!autoResume_) return;
    download::DownloadSession* queues = s.queues;
    const int number = s.session->connectionNumber();
    if (!queues || number < 0) return;
    const state::ResumeHeader header = headerOf(*s.session);
    std::string error;
    auto collect = [&] { return resumeDataOf(header, queues->unfinished()); };
    bool failed = false;
    if (wait) {
        // A rewrite running now may have collected the work before it changed: this one waits
        // for it and writes last.
        failed = !state::writeAutoResumeFileNow(s.resumeLock, dataFolder_, number, collect, &error);
    } else {
        failed = state::writeAutoResumeFile(s.resumeLock, dataFolder_, number, collect, &error) ==
                 state::ResumeWrite::Failed;
    }
    if (failed && !error.empty()) port_.messageBox(error, mb::kIconStop, false);
}

void Persistence::deleteAuto(SessionEntry& s, int number) {
    state::deleteAutoResumeFile(s.resumeLock, dataFolder_, number);
}

bool Persistence::isAutomaticFile(const fs::path& file) const {
    bool automatic = false;
    sessions_.locked([&](const SessionRegistry::Entries& all) {
        std::error_code ec;
        for (auto& s : all) {
            const int number = s->session->connectionNumber();
            if (number >= 0 && fs::equivalent(file, state::autoResumePath(dataFolder_, number), ec))
                automatic = true;
        }
    });
    return automatic;
}

// ---- unfinished work of a session that ends ------------------------------------------------

bool Persistence::writeUnfinished(SessionEntry& s, const std::vector<download::WorkItem>& items,
                                  const fs::path& path) {
    const state::ResumeData data = resumeDataOf(headerOf(*s.session), items);
    if (data.records.empty()) return false;
    std::string error;
    if (!state::saveResumeFile(path, data, &error)) {
        port_.messageBox(error, mb::kIconStop, false);
        return false;
    }
    return true;
}

fs::path Persistence::keepDroppedWork(SessionEntry& s) {
    const fs::path temp = state::tempResumePath(dataFolder_, s.session->connectionNumber());
    return writeUnfinished(s, s.leftAtDrop, temp) ? temp : fs::path();
}

void Persistence::offerDroppedWork(const fs::path& temp, const std::string& text, bool stalled) {
    if (temp.empty()) {
        port_.messageBox(text, stalled ? mb::kIconWarning : mb::kIconInformation, false);
        return;
    }
    std::error_code ec;
    const int answer = port_.messageBox(text + "\n" + state::kSaveUnfinishedQuestion,
                                        mb::kYesNo | mb::kIconQuestion, true);
    fs::path chosen;
    if (answer == mb::kIdYes)
        chosen = port_.saveFileDialog(dataFolder_, state::kResumeFilter, state::kResumeExtension);
    if (chosen.empty()) {
        fs::remove(temp, ec);
        return;
    }
    // The work is never thrown away because the chosen name cannot take it: the temporary file
    // stays, and the user learns where.
    std::string error;
    if (!state::moveResumeFile(temp, chosen, &error))
        port_.messageBox(
            format(kResumeFileKept, chosen.string().c_str(), error.c_str(), temp.string().c_str()),
            mb::kIconWarning, false);
}

// ---- taking up a resume file ---------------------------------------------------------------

std::optional<state::ResumeData> Persistence::readResumeFile(const fs::path& file) {
    auto loaded = state::loadResumeFile(file);
    // A file that cannot be read is passed by without a word.
    if (loaded.status == state::ReadStatus::Missing ||
        loaded.status == state::ReadStatus::Unreadable)
        return std::nullopt;
    // A file cut short may still name work that was never read: it stays as it is.
    if (loaded.status != state::ReadStatus::Ok) {
        port_.messageBox(loaded.message, mb::kIconStop, false);
        return std::nullopt;
    }
    return std::move(loaded.value);
}

void Persistence::handOver(SessionEntry& s, const fs::path& file) {
    // The connection's automatic file is written with the work before the file it came from
    // goes, so that at every moment one of them describes it. When the two are one file, it is
    // simply rewritten.
    saveAuto(s, true);
    const fs::path own = state::autoResumePath(dataFolder_, s.session->connectionNumber());
    std::error_code ec;
    if (!file.empty() && !fs::equivalent(file, own, ec)) fs::remove(file, ec);
}

void Persistence::finishTakeUp(const fs::path& file, const RebuiltWork& rebuilt) {
    // Taken up, even when none of its records found its recording; the user hears which were
    // left out, in one box for the file.
    if (!rebuilt.skipped.empty())
        port_.messageBox(skippedWorkText(file, rebuilt.skipped), mb::kIconWarning, false);
    // With work queued, handOver has dealt with the file; without, it is spent.
    if (rebuilt.items.empty()) {
        std::error_code ec;
        fs::remove(file, ec);
    }
}

// ---- connection sets -----------------------------------------------------------------------

bool Persistence::saveConnectionSet(const fs::path& file) {
    // The list cannot change while it is written.
    state::SaveSet saved = state::SaveSet::Failed;
    std::string message;
    sessions_.locked([&](const SessionRegistry::Entries& all) {
        std::vector<ConnectRequest> requests;
        for (auto& s : all) requests.push_back(requestOf(*s->session));
        saved = state::saveConnectionSet(file, requests, &message);
    });
    switch (saved) {
        case state::SaveSet::Written:
            return true;
        case state::SaveSet::NothingToSave:
            return false;  // no file, no word
        case state::SaveSet::Failed:
            port_.messageBox(message.empty() ? state::kFailedToSaveFile : message, mb::kIconStop,
                             false);
            return false;
    }
    return false;
}

std::optional<std::vector<ConnectRequest>> Persistence::readConnectionSet(const fs::path& file) {
    auto loaded = state::loadConnectionSet(file);
    switch (loaded.status) {
        case state::ReadStatus::Ok:
        case state::ReadStatus::Damaged:  // the complete records are connected
            return std::move(loaded.value);
        case state::ReadStatus::Missing:
            loaded.message = state::kReadFileFail;
            [[fallthrough]];
        default:
            port_.messageBox(loaded.message, mb::kIconStop, false);
            return std::nullopt;
    }
}

}  // namespace fsv::client

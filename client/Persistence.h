#pragma once
// What the controller keeps on disk for its sessions: each session's automatic resume file
// (rewritten as its work moves on, deleted with the session), the unfinished work of a session
// that ends (a chosen resume file, or the temporary file of a recorder that closed the link and
// the question where to keep it), the scan of an earlier run's files at start-up, reading a
// resume file to take up, and the saved connection sets.
//
// Locking: it takes the session-list lock (SessionRegistry) only in the calls that say so and
// never while it holds a session's resume lock; a session's resume lock comes before the locks
// of its queues (the work is collected under it).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "client/ResumeWork.h"
#include "client/SessionRegistry.h"
#include "platform/Shared.h"
#include "platform/UserPort.h"
#include "recordings/download/Work.h"
#include "state/ResumeFile.h"

namespace fsv::client {

// The resume file of a dropped recorder could not be moved to the chosen name (that name, the
// reason, the file that keeps the work).
inline constexpr const char* kResumeFileKept =
    "The unfinished work could not be saved as %s (%s).\nIt is kept in %s.";

// What a session was opened with: a saved connection set lists these.
ConnectRequest requestOf(const net::ServerSession& session);

// The box that tells which records of a resume file were left out (at most ten named).
std::string skippedWorkText(const std::filesystem::path& file,
                            const std::vector<std::string>& skipped);

class Persistence {
  public:
    // `autoResume` off: the automatic files are neither written nor deleted (an owner that
    // keeps track of unfinished work itself).
    Persistence(std::filesystem::path dataFolder, bool autoResume, UserPort& port,
                SessionRegistry& sessions);

    const std::filesystem::path& dataFolder() const { return dataFolder_; }

    // Start-up: the earlier run's automatic files to take up (the question asked; small and
    // declined files deleted).
    std::vector<std::filesystem::path> scanAtStart();

    // Rewrites the session's automatic file from its queues. Without `wait` a rewrite asked
    // while another is under way is left to that one, which writes once more after it; with
    // `wait` it waits for the one under way and writes last.
    void saveAuto(SessionEntry& s, bool wait = false);
    // The session ends: its automatic file goes (`number`: its connection number).
    void deleteAuto(SessionEntry& s, int number);
    // Whether `file` is the automatic file of a session in the list (takes the list's lock).
    bool isAutomaticFile(const std::filesystem::path& file) const;

    // `items` of the session as a resume file at `path`; false when there was nothing to keep
    // or it could not be written (the error was shown).
    bool writeUnfinished(SessionEntry& s, const std::vector<download::WorkItem>& items,
                         const std::filesystem::path& path);
    // A recorder closed the link: the work it left (`leftAtDrop`) as the temporary resume file
    // of its connection number; the file, or empty when there was nothing to keep.
    std::filesystem::path keepDroppedWork(SessionEntry& s);
    // After the session ended: `text` tells the user that the recorder closed the link; with
    // work kept in `temp`, it asks whether to save it and moves the file to the chosen name
    // (or deletes it).
    void offerDroppedWork(const std::filesystem::path& temp, const std::string& text, bool stalled);

    // A resume file to take up: its contents, or nothing when it is not usable (a file that
    // is there but damaged gets its message).
    std::optional<state::ResumeData> readResumeFile(const std::filesystem::path& file);
    // The work of `file` went into the session's queues: the automatic file is written with it
    // first, then `file` goes unless it is that automatic file.
    void handOver(SessionEntry& s, const std::filesystem::path& file);
    // A resume file taken up: which records were left out is told, and a file none of whose
    // work was queued is spent.
    void finishTakeUp(const std::filesystem::path& file, const RebuiltWork& rebuilt);

    // Writes the connected recorders in list order (takes the list's lock while it writes);
    // false and no file when there is none, or the error was shown.
    bool saveConnectionSet(const std::filesystem::path& file);
    // The requests of a saved set (the complete records of a damaged one); nothing, with the
    // message shown, when the file cannot be used.
    std::optional<std::vector<ConnectRequest>> readConnectionSet(const std::filesystem::path& file);

  private:
    std::filesystem::path dataFolder_;
    bool autoResume_;
    UserPort& port_;
    SessionRegistry& sessions_;
};

}  // namespace fsv::client

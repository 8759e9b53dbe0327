#pragma once
// The UserPort of a front end that drains a NotificationQueue: the one place where questions
// are queued. Deferred boxes and the panel messages a front end acts on are queued as typed
// notifications; a question is queued and its worker waits for the front end's answer or the
// global exit event, whichever comes first, so shutting down never hangs on a question nobody
// answers. Once the program exits, deferred boxes are dropped and questions get their "no"
// answer at once. A front end that can answer on the asking thread itself (a question from its
// own UI thread) does so through answerAtOnce.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "client/Notifications.h"
#include "platform/Event.h"

namespace fsv::client {

struct Answer {
    BoxAnswer box = BoxAnswer::No;
    ExistingFileAnswer existingFile = ExistingFileAnswer::Abort;
    std::vector<std::filesystem::path> paths;  // the chosen file or folder; empty: cancelled
    int choice = -1;                           // Action: the choice; -1 cancelled
    uint32_t first = 0, last = 0;              // FrameRange: 1-based; last 0 cancelled
};

class QueuedUserPort : public UserPort {
  public:
    QueuedUserPort(NotificationQueue& queue, platform::Event& exitEvent);

    // The front end's answer to question `id`; ignored when nobody waits for it any more.
    void answer(uint64_t id, Answer answer);
    // Whether a worker still waits for question `id` (a question drained after the exit event
    // need not be shown).
    bool waiting(uint64_t id) const;
    // From here on deferred boxes are dropped; the exit event has the same effect.
    void setExiting() { exiting_ = true; }
    bool exiting() const { return exiting_ || exit_.isSet(); }

    int messageBox(const std::string& text, unsigned type, bool direct = false) override;
    void post(PanelMessage message, intptr_t wParam, intptr_t lParam) override;
    ExistingFileAnswer askExistingFile(const std::filesystem::path& path,
                                       bool offerResume) override;
    std::filesystem::path chooseFolder(const std::filesystem::path& start,
                                       const std::string& text) override;
    std::filesystem::path saveFileDialog(const std::filesystem::path& start,
                                         const std::string& filter,
                                         const std::string& defaultExtension) override;
    std::filesystem::path openFileDialog(const std::filesystem::path& start,
                                         const std::string& filter) override;
    std::vector<std::filesystem::path> openFilesDialog(const std::filesystem::path& start,
                                                       const std::string& filter) override;
    int askAction(bool periodAllowed) override;
    bool askFrameRange(uint32_t frameCount, uint32_t& start, uint32_t& end) override;

  protected:
    // The answer given on the asking thread, without the queue; nullopt queues the question.
    virtual std::optional<Answer> answerAtOnce(const Question&) { return std::nullopt; }

  private:
    struct Pending {
        uint64_t id = 0;
        platform::Event done{platform::Event::Reset::Manual};
        Answer answer;
    };
    // Queues `q` and waits; the default Answer when the program exits first.
    Answer ask(Question q);
    std::filesystem::path onePath(Question q);

    NotificationQueue& queue_;
    platform::Event& exit_;
    std::atomic<bool> exiting_{false};
    mutable std::mutex mutex_;
    uint64_t nextId_ = 1;
    std::vector<std::shared_ptr<Pending>> pending_;
};

}  // namespace fsv::client

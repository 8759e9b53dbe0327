#pragma once
// The UserPort of the desktop program. Deferred boxes and the panel's messages go into the
// controller's notification queue; a question from a worker is queued too and waits for the
// answer or for the program's exit, never for the answer alone. Questions asked on the UI
// thread itself are answered there at once.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "client/QueuedUserPort.h"
#include "platform/Event.h"
#include "platform/UserPort.h"

namespace fsv::app {

class QtUserPort : public UserPort {
  public:
    // `context` lives on the UI thread.
    QtUserPort(QObject* context, client::NotificationQueue& queue, platform::Event& exit);

    // From here on deferred boxes are dropped and questions answer "no" at once.
    void setExiting() { queued_.setExiting(); }
    bool exiting() const { return queued_.exiting(); }
    // The window questions are shown over.
    void setWindow(QWidget* window) { window_ = window; }

    // Asks `q` on the UI thread, over the window (the drained question of a worker).
    client::Answer answerHere(const client::Question& q);
    // A worker's question drained from the queue: asked here and answered to its worker,
    // unless nobody waits for it any more.
    void answerQueued(const client::Question& q);

    int messageBox(const std::string& text, unsigned type, bool direct = false) override;
    // Passes on to the queued port, which keeps what the windows act on as typed notifications.
    void post(PanelMessage message, intptr_t first, intptr_t second) override;
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

  private:
    bool onUiThread() const;
    std::filesystem::path onePath(const client::Question& q);

    QObject* context_;
    client::QueuedUserPort queued_;
    QPointer<QWidget> window_;
};

}  // namespace fsv::app

#pragma once
// The UserPort of the desktop program. Deferred boxes and the panel's messages are queued onto
// the UI thread; a question from a worker waits for the answer or for the program's exit,
// never for the answer alone. Questions asked on the UI thread itself are answered at once.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>

#include "platform/Event.h"
#include "platform/UserPort.h"
#include "ui/ViewerBackend.h"

namespace fsv::app {

class QtUserPort : public UserPort {
  public:
    // `notify` runs on the UI thread (message boxes and the recorder-closed message go to the
    // main window through it); `context` lives on the UI thread.
    QtUserPort(QObject* context, platform::Event& exit,
               std::function<void(const ui::ViewerNotice&)> notify);

    // From here on deferred boxes are dropped and questions answer "no" at once.
    void setExiting() { exiting_.store(true); }
    bool exiting() const { return exiting_.load(); }
    // The window questions are shown over.
    void setWindow(QWidget* window) { window_ = window; }

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

  private:
    // Runs `ask` on the UI thread and returns its answer, or `onExit` when the program exits
    // first.
    template <class T>
    T askOnUi(std::function<T()> ask, T onExit);
    bool onUiThread() const;

    QObject* context_;
    platform::Event& exit_;
    std::function<void(const ui::ViewerNotice&)> notify_;
    std::atomic<bool> exiting_{false};
    QPointer<QWidget> window_;
};

}  // namespace fsv::app

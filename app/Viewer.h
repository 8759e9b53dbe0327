#pragma once
// The running program: the backend over the core and the main window, placed and sized from
// the settings files, and the start-up question about unfinished work.

#include <QObject>
#include <QSize>
#include <memory>

#include "app/CoreBackend.h"
#include "ui/mainwindow/MainWindow.h"

class QScreen;

namespace fsv::app {

class Viewer : public QObject {
    Q_OBJECT
  public:
    explicit Viewer(net::SessionTiming timing = {});
    ~Viewer() override;

    // Sizes, places and shows the main window; the unfinished-work question follows once the
    // window is up.
    void start();

    ui::MainWindow& window() { return *window_; }
    CoreBackend& backend() { return *backend_; }

  Q_SIGNALS:
    // The main window drew itself for the first time.
    void drawn();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void resumeUnfinishedWork();

    std::unique_ptr<CoreBackend> backend_;
    std::unique_ptr<ui::MainWindow> window_;
    bool drawn_ = false;
};

}  // namespace fsv::app

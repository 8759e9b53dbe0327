#pragma once
// The download list ("DownLoad List"): one row per work item being downloaded or played, with
// its ratio. While the window is visible the ratios are recomputed every 2 seconds; F5 in the
// list fills it again. Rows come from DownloadRows; its notices are queued to this window.

#include <QTimer>
#include <QWidget>

#include "ui/models/DownloadRows.h"

class QTreeWidget;

namespace fsv::ui {

class DownloadListWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRatioPeriodMs = 2000;
    static constexpr int kRatioColumn = 4;
    static constexpr int kKeyRole = Qt::UserRole;  // the row's event key
    static constexpr int kSlotRole = Qt::UserRole + 1;

    DownloadListWindow(DownloadRows& rows, const download::WorkList* progress,
                       QWidget* parent = nullptr);
    ~DownloadListWindow() override;

    QTreeWidget& list() { return *list_; }
    bool ratioTimerRunning() const { return timer_.isActive(); }

  public Q_SLOTS:
    void fill();          // the whole list again (F5, and each time the window is shown)
    void updateRatios();  // the timer's tick

  protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

  private:
    DownloadRows& rows_;
    const download::WorkList* progress_;
    QTreeWidget* list_;
    QTimer timer_;
};

}  // namespace fsv::ui

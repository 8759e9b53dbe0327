#pragma once
// The event list window: the recorder drop-down over the tree of the chosen recorder's channels,
// days and events (EventTreeModel), the refresh command and the Normal/Advanced view. Clicking
// an event's row (or pressing Space on it) selects or clears it through the event list.
// "&Period..." asks for the events of a period; "&Download" starts work on what is selected.
// Both are the window's download controls: they stay off while a start of work runs.
//
// The window never reads the event list on another thread: what changed arrives through the
// slots below, called on the UI thread.

#include <QWidget>
#include <functional>

#include "recordings/EventList.h"
#include "ui/models/EventTreeModel.h"

class QComboBox;
class QTreeView;
class QPushButton;
class QLabel;

namespace fsv {
class UserPort;
}

namespace fsv::ui {

class EventListWindow : public QWidget {
    Q_OBJECT
  public:
    // `port` answers "Download again?" for a downloaded event; may be null (then it stays).
    EventListWindow(EventList& list, UserPort* port, QWidget* parent = nullptr);

    // Asks the recorder for the events of a day not loaded yet (the date query); true when it
    // went out. Without one a day that is not loaded stays empty.
    class DayOpener {
      public:
        virtual ~DayOpener() = default;
        virtual bool openDay(int recorder, int channel, int day) = 0;
    };
    void setDayOpener(DayOpener* opener) { dayOpener_ = opener; }

    EventTreeModel& model() { return *model_; }
    QTreeView& tree() { return *tree_; }
    QComboBox& recorders() { return *recorders_; }
    int shownRecorder() const;
    bool waiting() const { return waiting_; }
    bool advancedView() const { return advanced_; }
    // The download controls: off while a start of work runs.
    void setDownloadControlsEnabled(bool enabled);

  public Q_SLOTS:
    void showRecorder(int recorder);
    // Normal view: times only; Advanced view: the recording sizes as well.
    void setAdvancedView(bool advanced);
    // What the event list tells (see EventListListener).
    void onRefresh();
    void onRecordersChanged();
    void onRowChanged(const QString& key, int mark);
    void onTitle(const QString& title);
    void onEventRemoved();    // an event of the shown day was removed
    void onWaiting(bool on);  // the waiting state for a day's events, entered or left
    void onControlsEnabled(bool enabled);

  Q_SIGNALS:
    // The user asked to read the shown recorder again (the event list was told already).
    void refreshRequested(int recorder);
    // The period selection dialog for the shown recorder (-1: none shown).
    void periodRequested(int recorder);
    // Start work on the events selected here.
    void startRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fillRecorders();
    void toggle(const QModelIndex& index);
    void dayExpanded(const QModelIndex& index);
    void setWaiting(bool on);

    EventList& list_;
    UserPort* port_;
    DayOpener* dayOpener_ = nullptr;
    EventTreeModel* model_;
    QComboBox* recorders_;
    QTreeView* tree_;
    QPushButton* refresh_;
    QPushButton* view_;
    QPushButton* period_;
    QPushButton* download_;
    QLabel* state_;
    bool waiting_ = false;
    bool advanced_ = false;
};

}  // namespace fsv::ui

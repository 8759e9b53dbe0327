#pragma once
// The period selection dialog: a recorder, its cameras and audio channels, and a period. OK asks
// the recorder for every day of the period not loaded yet (on a worker thread, so the window
// stays responsive; a recorder that stops answering leads to the Retry/Cancel question after
// the time-out) and then selects every event inside the period.

#include <QDialog>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/Event.h"
#include "recordings/EventList.h"
#include "recordings/PeriodQuery.h"
#include "recordings/RecorderCatalog.h"

class QComboBox;
class QGroupBox;
class QDateEdit;
class QTimeEdit;
class QTreeWidget;
class QPushButton;

namespace fsv::ui {

class PeriodDialog : public QDialog {
    Q_OBJECT
  public:
    PeriodDialog(EventList& list, DateQueryWaiter& waiter, QWidget* parent = nullptr);
    ~PeriodDialog() override;

    // The catalog of a connection number (the recorder's position in the event list).
    std::function<std::shared_ptr<RecorderCatalog>(int)> catalogOf;
    // Events were selected: start work on them. False when the work was declined (nothing
    // selected, Cancel, the channel limit): the dialog comes back.
    std::function<bool()> onSelected;
    // How long each wait for a reply lasts before the question.
    std::chrono::milliseconds replyTimeout{30000};

    // Fills the recorders and shows the dialog.
    void openFor(int recorder = -1);
    // The program ends: a query in progress stops without a message.
    void abort();

    bool busy() const { return worker_.joinable() && !finished_; }
    const PeriodSummary& lastSummary() const { return summary_; }
    void setPeriod(const QDateTime& start, const QDateTime& end);
    // Marks a channel row (by its row in the camera list).
    void setChannelChosen(int row, bool chosen);

  Q_SIGNALS:
    void queryFinished(int outcome);

  private:
    class Port;
    QGroupBox* makeTimeBox();
    void fillChannels();
    void accept() override;
    void finish();
    void setControlsEnabled(bool on);
    void toggleRow(int row);

    EventList& list_;
    DateQueryWaiter& waiter_;
    platform::Event exit_{platform::Event::Reset::Manual};
    std::unique_ptr<Port> port_;
    std::thread worker_;
    std::atomic<bool> finished_{true};
    PeriodSummary summary_;
    int channelsOf_ = -1;  // the recorder whose channels the list shows
    QComboBox* servers_;
    QTreeWidget* cameras_;
    QPushButton* all_;
    QDateEdit* startDate_;
    QTimeEdit* startTime_;
    QDateEdit* endDate_;
    QTimeEdit* endTime_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace fsv::ui

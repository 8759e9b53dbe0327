#pragma once
// The period selection dialog: a recorder, its cameras and audio channels, and a period. OK asks
// the recorder for every day of the period not loaded yet and then selects every event inside
// the period. The query runs underneath (PeriodQueries), away from the UI thread, so the window
// stays responsive; a recorder that stops answering leads to the Retry/Cancel question after
// the time-out, asked on the UI thread like every worker's question. The dialog owns no thread.

#include <QDialog>
#include <chrono>
#include <functional>

#include "recordings/EventList.h"
#include "recordings/PeriodQuery.h"
#include "ui/PeriodQueries.h"

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
    PeriodDialog(EventList& list, PeriodQueries& queries, QWidget* parent = nullptr);
    ~PeriodDialog() override;

    // Events were selected: start work on them. False when the work was declined (nothing
    // selected, Cancel, the channel limit): the dialog comes back.
    std::function<bool()> onSelected;
    // How long each wait for a reply lasts before the question.
    std::chrono::milliseconds replyTimeout{30000};

    // Fills the recorders and shows the dialog.
    void openFor(int recorder = -1);
    // The program ends: a query in progress stops without a message.
    void abort();

    bool busy() const { return busy_; }
    const PeriodSummary& lastSummary() const { return summary_; }
    void setPeriod(const QDateTime& start, const QDateTime& end);
    // Marks a channel row (by its row in the camera list).
    void setChannelChosen(int row, bool chosen);
    // Cancel while the query runs ends it without a question.
    void reject() override;

  Q_SIGNALS:
    void queryFinished(int outcome);

  private:
    QGroupBox* makeTimeBox();
    void fillChannels();
    void accept() override;
    void finish(const PeriodSummary& summary);
    void setControlsEnabled(bool on);
    void toggleRow(int row);

    EventList& list_;
    PeriodQueries& queries_;
    bool busy_ = false;
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

#include "ui/dialogs/PeriodDialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/UserPort.h"
#include "ui/Prompts.h"
#include "ui/models/EventTreeModel.h"

namespace fsv::ui {

namespace {
constexpr int kMarkData = Qt::UserRole;
constexpr int kChannelData = Qt::UserRole + 1;
}  // namespace

PeriodDialog::PeriodDialog(EventList& list, PeriodQueries& queries, QWidget* parent)
    : QDialog(parent), list_(list), queries_(queries) {
    setObjectName("periodDialog");
    setWindowTitle(QString());
    setAccessibleName(tr("Select a period"));

    auto* serverBox = new QGroupBox(tr("Select Server"), this);
    servers_ = new QComboBox(serverBox);
    servers_->setObjectName("serverCombo");
    servers_->setAccessibleName(tr("Select Server"));
    servers_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    (new QVBoxLayout(serverBox))->addWidget(servers_);

    cameras_ = new QTreeWidget(this);
    cameras_->setObjectName("cameraList");
    cameras_->setAccessibleName(tr("Select Camera(s)"));
    cameras_->setRootIsDecorated(false);
    cameras_->setColumnCount(1);
    cameras_->setHeaderLabels({tr("Select Camera(s)")});
    cameras_->header()->setMinimumSectionSize(
        cameras_->fontMetrics().horizontalAdvance(tr("Select Camera(s)")) + 15);
    all_ = new QPushButton(tr("Select &All Cameras"), this);
    all_->setObjectName("selectAllButton");

    QGroupBox* timeBox = makeTimeBox();

    ok_ = new QPushButton(tr("&OK"), this);
    ok_->setObjectName("okButton");
    ok_->setDefault(true);
    cancel_ = new QPushButton(tr("&Cancel"), this);
    cancel_->setObjectName("cancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* left = new QVBoxLayout;
    left->addWidget(cameras_, 1);
    left->addWidget(all_);
    auto* right = new QVBoxLayout;
    right->addWidget(serverBox);
    right->addWidget(timeBox);
    right->addStretch(1);
    right->addLayout(buttons);
    auto* lay = new QHBoxLayout(this);
    lay->addLayout(left, 1);
    lay->addLayout(right);

    connect(servers_, &QComboBox::activated, this, [this] { fillChannels(); });
    connect(cameras_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { toggleRow(cameras_->indexOfTopLevelItem(item)); });
    connect(all_, &QPushButton::clicked, this, [this] {
        for (int i = 0; i < cameras_->topLevelItemCount(); ++i) setChannelChosen(i, true);
    });
    connect(ok_, &QPushButton::clicked, this, &PeriodDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &PeriodDialog::reject);
}

// The period: a start and an end, each a date and a time; today's whole day to begin with.
QGroupBox* PeriodDialog::makeTimeBox() {
    auto* timeBox = new QGroupBox(tr("Time Period"), this);
    startDate_ = new QDateEdit(timeBox);
    startDate_->setObjectName("startDate");
    startDate_->setCalendarPopup(true);
    startTime_ = new QTimeEdit(timeBox);
    startTime_->setObjectName("startTime");
    startTime_->setDisplayFormat("HH:mm:ss");
    endDate_ = new QDateEdit(timeBox);
    endDate_->setObjectName("endDate");
    endDate_->setCalendarPopup(true);
    endTime_ = new QTimeEdit(timeBox);
    endTime_->setObjectName("endTime");
    endTime_->setDisplayFormat("HH:mm:ss");
    startDate_->setAccessibleName(tr("Start date"));
    startTime_->setAccessibleName(tr("Start time"));
    endDate_->setAccessibleName(tr("End date"));
    endTime_->setAccessibleName(tr("End time"));
    const QDate today = QDate::currentDate();
    startDate_->setDate(today);
    endDate_->setDate(today);
    startTime_->setTime(QTime(0, 0, 0));
    endTime_->setTime(QTime(23, 59, 59));
    auto* grid = new QGridLayout(timeBox);
    grid->addWidget(new QLabel(tr("Start Time:"), timeBox), 0, 0);
    grid->addWidget(startDate_, 0, 1);
    grid->addWidget(startTime_, 0, 2);
    grid->addWidget(new QLabel(tr("End Time:"), timeBox), 1, 0);
    grid->addWidget(endDate_, 1, 1);
    grid->addWidget(endTime_, 1, 2);
    return timeBox;
}

// The query's end never reaches a dialog that is gone (its callback checks).
PeriodDialog::~PeriodDialog() { abort(); }

void PeriodDialog::abort() {
    if (busy_) queries_.cancelPeriodQuery();
}

void PeriodDialog::reject() {
    abort();
    QDialog::reject();
}

void PeriodDialog::openFor(int recorder) {
    const int keep = recorder >= 0 ? recorder : servers_->currentData().toInt();
    servers_->clear();
    for (auto& row : list_.recorders())
        servers_->addItem(QString::fromStdString(row.text), row.position);
    const int i = servers_->findData(keep);
    servers_->setCurrentIndex(i >= 0 ? i : (servers_->count() ? 0 : -1));
    fillChannels();
    show();
    raise();
}

void PeriodDialog::fillChannels() {
    // The same recorder again keeps the channels chosen before (Retry shows the previous
    // values).
    const int recorder = servers_->currentIndex() < 0 ? -1 : servers_->currentData().toInt();
    std::vector<int> chosen;
    if (recorder == channelsOf_)
        for (int i = 0; i < cameras_->topLevelItemCount(); ++i)
            if (cameras_->topLevelItem(i)->data(0, kMarkData).toInt() == 1)
                chosen.push_back(cameras_->topLevelItem(i)->data(0, kChannelData).toInt());
    cameras_->clear();
    channelsOf_ = recorder;
    if (recorder < 0) return;
    for (auto& ch : list_.channels(recorder)) {
        auto* item = new QTreeWidgetItem(cameras_, {QString::fromStdString(ch.name)});
        const bool on = std::find(chosen.begin(), chosen.end(), ch.position) != chosen.end();
        item->setData(0, kChannelData, ch.position);
        item->setData(0, kMarkData, on ? 1 : 0);
        item->setIcon(0, EventTreeModel::markIcon(on ? 1 : 0));
    }
}

void PeriodDialog::setChannelChosen(int row, bool chosen) {
    auto* item = cameras_->topLevelItem(row);
    if (!item) return;
    item->setData(0, kMarkData, chosen ? 1 : 0);
    item->setIcon(0, EventTreeModel::markIcon(chosen ? 1 : 0));
}

void PeriodDialog::toggleRow(int row) {
    auto* item = cameras_->topLevelItem(row);
    if (item) setChannelChosen(row, item->data(0, kMarkData).toInt() == 0);
}

void PeriodDialog::setPeriod(const QDateTime& start, const QDateTime& end) {
    startDate_->setDate(start.date());
    startTime_->setTime(start.time());
    endDate_->setDate(end.date());
    endTime_->setTime(end.time());
}

void PeriodDialog::setControlsEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{servers_, cameras_, all_, startDate_,
                                                      startTime_, endDate_, endTime_, ok_})
        w->setEnabled(on);
}

void PeriodDialog::accept() {
    if (busy_ || servers_->currentIndex() < 0) return;
    const int recorder = servers_->currentData().toInt();
    std::vector<int> channels;
    for (int i = 0; i < cameras_->topLevelItemCount(); ++i) {
        auto* item = cameras_->topLevelItem(i);
        if (item->data(0, kMarkData).toInt() == 1)
            channels.push_back(item->data(0, kChannelData).toInt());
    }
    Period period{startDate_->date().toString("yyyyMMdd").toStdString(),
                  startTime_->time().toString("HHmmss").toStdString(),
                  endDate_->date().toString("yyyyMMdd").toStdString(),
                  endTime_->time().toString("HHmmss").toStdString()};
    // The days are asked for underneath; the event list window waits with the dialog.
    QPointer<PeriodDialog> self(this);
    const bool started = queries_.startPeriodQuery(recorder, channels, period, replyTimeout,
                                                   [self](const PeriodSummary& s) {
                                                       if (self) self->finish(s);
                                                   });
    if (!started) return;
    busy_ = true;
    setControlsEnabled(false);
    setCursor(Qt::WaitCursor);
}

void PeriodDialog::finish(const PeriodSummary& summary) {
    busy_ = false;
    summary_ = summary;
    unsetCursor();
    setControlsEnabled(true);
    const auto outcome = summary_.outcome;
    if (outcome == PeriodOutcome::Exiting) {
        Q_EMIT queryFinished(static_cast<int>(outcome));
        return;
    }
    hide();
    list_.setControlsEnabled(false);
    if (outcome == PeriodOutcome::Selected) {
        if (onSelected && !onSelected()) show();
    } else if (outcome == PeriodOutcome::NoMatch || outcome == PeriodOutcome::AlreadySelected) {
        if (Prompts::box(parentWidget(), PeriodQuery::message(summary_),
                         {BoxButtons::RetryCancel, BoxIcon::Information}) == BoxAnswer::Retry)
            show();
    }
    list_.setControlsEnabled(true);
    Q_EMIT queryFinished(static_cast<int>(outcome));
}

}  // namespace fsv::ui

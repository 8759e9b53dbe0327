#include "ui/lists/EventListWindow.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "platform/UserPort.h"
#include "ui/lists/AccessibleWindows.h"

namespace fsv::ui {

EventListWindow::EventListWindow(EventList& list, UserPort* port, QWidget* parent)
    : QWidget(parent), list_(list), port_(port), model_(new EventTreeModel(list, this)) {
    markListWindow(this, "Event List");
    setObjectName("eventListWindow");
    setWindowTitle("      ");
    recorders_ = new QComboBox(this);
    recorders_->setObjectName("recorderCombo");
    recorders_->setAccessibleName(tr("Recorder"));
    recorders_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    refresh_ = new QPushButton(tr("&Refresh"), this);
    refresh_->setObjectName("refreshButton");
    refresh_->setAccessibleName(tr("Refresh"));
    view_ = new QPushButton(tr("Advanced View"), this);
    view_->setObjectName("viewButton");
    view_->setAccessibleName(tr("Normal or advanced view"));
    view_->setCheckable(true);
    period_ = new QPushButton(tr("&Period..."), this);
    period_->setObjectName("periodButton");
    period_->setAccessibleName(tr("Select a period"));
    download_ = new QPushButton(tr("&Download"), this);
    download_->setObjectName("downloadButton");
    download_->setAccessibleName(tr("Download the selected events"));
    state_ = new QLabel(this);
    state_->setObjectName("stateLabel");

    tree_ = new QTreeView(this);
    tree_->setObjectName("eventTree");
    tree_->setAccessibleName(tr("Recordings"));
    tree_->setModel(model_);
    tree_->setUniformRowHeights(true);  // a day of thousands of events lays out at once
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(EventTreeModel::NameColumn, QHeaderView::Stretch);
    tree_->setColumnHidden(EventTreeModel::SizeColumn, true);
    tree_->viewport()->installEventFilter(this);
    auto* space = new QAction(tree_);
    space->setShortcut(Qt::Key_Space);
    space->setShortcutContext(Qt::WidgetShortcut);
    tree_->addAction(space);
    connect(space, &QAction::triggered, this, [this] { toggle(tree_->currentIndex()); });

    auto* top = new QHBoxLayout;
    top->addWidget(recorders_, 1);
    top->addWidget(refresh_);
    top->addWidget(view_);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(top);
    lay->addWidget(tree_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(state_, 1);
    bottom->addWidget(period_);
    bottom->addWidget(download_);
    lay->addLayout(bottom);

    connect(recorders_, &QComboBox::activated, this,
            [this](int i) { showRecorder(recorders_->itemData(i).toInt()); });
    connect(refresh_, &QPushButton::clicked, this, [this] {
        const int r = shownRecorder();
        if (r >= 0 && list_.refreshShownRecorder()) Q_EMIT refreshRequested(r);
    });
    connect(view_, &QPushButton::toggled, this, &EventListWindow::setAdvancedView);
    connect(period_, &QPushButton::clicked, this,
            [this] { Q_EMIT periodRequested(shownRecorder()); });
    connect(download_, &QPushButton::clicked, this, [this] {
        if (!waiting_) Q_EMIT startRequested();
    });
    connect(tree_, &QTreeView::expanded, this, &EventListWindow::dayExpanded);
    connect(tree_, &QTreeView::doubleClicked, this, &EventListWindow::toggle);
    connect(model_, &EventTreeModel::dayWanted, this, [this](int r, int c, int d) {
        list_.setShown(r, c, d);
        if (!dayOpener_) return;
        setWaiting(true);
        if (!dayOpener_->openDay(r, c, d)) setWaiting(false);
    });
    fillRecorders();
    resize(320, 480);
}

bool EventListWindow::eventFilter(QObject* watched, QEvent* event) {
    // The state icon is the row's check box: a click on it selects or clears the event.
    if (watched == tree_->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        const QModelIndex i = tree_->indexAt(at);
        const QRect r = tree_->visualRect(i);
        if (i.isValid() && i.column() == 0 && at.x() < r.left() + 20) toggle(i);
    }
    return QWidget::eventFilter(watched, event);
}

int EventListWindow::shownRecorder() const {
    const int i = recorders_->currentIndex();
    return i < 0 ? -1 : recorders_->itemData(i).toInt();
}

void EventListWindow::fillRecorders() {
    const int shown = shownRecorder();
    recorders_->clear();
    for (auto& row : list_.recorders())
        recorders_->addItem(QString::fromStdString(row.text), row.position);
    if (recorders_->count() == 0) {
        onControlsEnabled(true);
        tree_->setRootIndex(model_->index(0, 0).parent());
        tree_->setVisible(false);
        setWindowTitle("      ");
        return;
    }
    tree_->setVisible(true);
    const int again = recorders_->findData(shown);
    // A refresh of a recorder that has gone will not end: its controls come back now.
    if (again < 0 && shown >= 0) onControlsEnabled(true);
    showRecorder(recorders_->itemData(again >= 0 ? again : 0).toInt());
}

void EventListWindow::showRecorder(int recorder) {
    const int i = recorders_->findData(recorder);
    if (i < 0) return;
    recorders_->setCurrentIndex(i);
    if (model_->canFetchMore({})) model_->fetchMore({});
    const QModelIndex root = model_->recorderIndex(recorder);
    tree_->setRootIndex(root);
    if (model_->canFetchMore(root)) model_->fetchMore(root);
    list_.setShown(recorder);
    setWindowTitle(recorders_->itemText(i));
}

void EventListWindow::setAdvancedView(bool advanced) {
    advanced_ = advanced;
    view_->setChecked(advanced);
    tree_->setColumnHidden(EventTreeModel::SizeColumn, !advanced);
    if (advanced) tree_->resizeColumnToContents(EventTreeModel::SizeColumn);
}

void EventListWindow::toggle(const QModelIndex& index) {
    if (!index.isValid() || model_->level(index) != EventTreeModel::Level::Event) return;
    if (!isEnabled() || waiting_) return;
    const int mark = index.data(EventTreeModel::MarkRole).toInt();
    int requested = -1;
    if (mark == kMarkNone) requested = kMarkSelected;
    else if (mark == kMarkSelected) requested = kMarkNone;
    else if (mark == kMarkDownloaded) requested = kMarkDownloaded;
    if (requested < 0) return;  // queued work is not the user's to change here
    list_.actOnEvent(model_->ref(index), requested, port_);
}

void EventListWindow::dayExpanded(const QModelIndex& index) {
    if (model_->level(index) != EventTreeModel::Level::Day) return;
    const auto r = model_->ref(index);
    list_.setShown(r.recorder, r.channel, r.day);
    if (!advanced_) return;
    tree_->resizeColumnToContents(EventTreeModel::SizeColumn);
}

void EventListWindow::setWaiting(bool on) {
    waiting_ = on;
    tree_->setCursor(on ? Qt::BusyCursor : Qt::ArrowCursor);
    state_->setText(on ? QString::fromUtf8(kGettingInformationText) : QString());
}

void EventListWindow::onRefresh() {
    model_->refresh();
    if (advanced_) tree_->resizeColumnToContents(EventTreeModel::SizeColumn);
}

void EventListWindow::onRecordersChanged() {
    model_->recordersChanged();
    fillRecorders();
}

void EventListWindow::onRowChanged(const QString& key, int mark) {
    model_->markChanged(key.toStdString(), mark);
}

void EventListWindow::onTitle(const QString& title) { setWindowTitle(title); }

void EventListWindow::onEventRemoved() { model_->refresh(); }

void EventListWindow::onWaiting(bool on) { setWaiting(on); }

void EventListWindow::onControlsEnabled(bool enabled) {
    recorders_->setEnabled(enabled);
    refresh_->setEnabled(enabled);
    tree_->setEnabled(enabled);
}

void EventListWindow::setDownloadControlsEnabled(bool enabled) {
    period_->setEnabled(enabled);
    download_->setEnabled(enabled);
}

}  // namespace fsv::ui

#include "framestamp/SaveAviDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QRadioButton>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

namespace fsv::framestamp {

CSaveAviDlg::CSaveAviDlg(const QString& defaultName, const StampOptions& options, QWidget* parent)
    : QFileDialog(parent), options_(options) {
    // Our own dialog, so that the options can sit in it.
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setDefaultSuffix(QStringLiteral("AVI"));
    setNameFilter(qtFileFilter(QStringLiteral("AVI Files (*.avi)|*.avi||")));
    selectFile(defaultName);

    auto* save = new QGroupBox(QStringLiteral("Select Save Option"), this);
    date_ = new QCheckBox(QStringLiteral("Show Date on AVI file"), save);
    time_ = new QCheckBox(QStringLiteral("Show Time on AVI file"), save);
    auto* saveLayout = new QVBoxLayout(save);
    saveLayout->addWidget(date_);
    saveLayout->addWidget(time_);

    auto* colour = new QGroupBox(QStringLiteral("Select Text Color for Date/Time"), this);
    black_ = new QRadioButton(QStringLiteral("Black"), colour);
    white_ = new QRadioButton(QStringLiteral("White"), colour);
    auto* colourLayout = new QVBoxLayout(colour);
    colourLayout->addWidget(black_);
    colourLayout->addWidget(white_);

    auto* row = new QHBoxLayout;
    row->addWidget(save);
    row->addWidget(colour);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addLayout(row, grid->rowCount(), 0, 1, grid->columnCount());
    else
        layout()->addItem(row);

    // Names wide, the other columns as wide as their contents.
    if (auto* list = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        list->header()->setStretchLastSection(false);
        list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    if (auto* split = findChild<QSplitter*>(QStringLiteral("splitter")))
        split->setSizes({140, 560});

    showOptions();
    connect(date_, &QCheckBox::toggled, this, [this](bool on) {
        options_.showDate = on;
        checksChanged();
    });
    connect(time_, &QCheckBox::toggled, this, [this](bool on) {
        options_.showTime = on;
        checksChanged();
    });
    connect(black_, &QRadioButton::clicked, this, [this] { options_.textColour = kBlack; });
    connect(white_, &QRadioButton::clicked, this, [this] { options_.textColour = kWhite; });
}

void CSaveAviDlg::showOptions() {
    date_->setChecked(options_.showDate);
    time_->setChecked(options_.showTime);
    black_->setChecked(options_.textColour == kBlack);
    white_->setChecked(options_.textColour != kBlack);
    checksChanged();
}

void CSaveAviDlg::checksChanged() {
    const bool any = options_.showDate || options_.showTime;
    black_->setEnabled(any);
    white_->setEnabled(any);
}

}  // namespace fsv::framestamp

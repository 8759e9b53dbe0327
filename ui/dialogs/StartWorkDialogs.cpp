#include "ui/dialogs/StartWorkDialogs.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/Prompts.h"

namespace fsv::ui {

using download::Action;

namespace {

QHBoxLayout* okCancel(QDialog* d) {
    auto* ok = new QPushButton(QObject::tr("&OK"), d);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QObject::tr("&Cancel"), d);
    cancel->setObjectName("cancelButton");
    QObject::connect(ok, &QPushButton::clicked, d, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, d, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

}  // namespace

ActionDialog::ActionDialog(int selectedEvents, QWidget* parent) : QDialog(parent) {
    setObjectName("actionDialog");
    setAccessibleName("What to do with the selected events");
    auto* group = new QGroupBox("ToDo...", this);
    auto* col = new QVBoxLayout(group);
    // Qt shows "&&" as one "&", as the system's own texts mean it.
    const std::pair<Action, const char*> choices[] = {
        {Action::DownloadAndPlay, "Download && Play"},
        {Action::DownloadAndPlayPeriod, "Download && Play (Period)"},
        {Action::JustPlay, "Just Play"},
        {Action::JustDownload, "Just Download"},
    };
    for (auto& [a, text] : choices) {
        auto* b = new QRadioButton(QString::fromUtf8(text), group);
        b->setObjectName(QString("action%1").arg(static_cast<int>(a)));
        buttons_[static_cast<int>(a)] = b;
        col->addWidget(b);
    }
    buttons_[static_cast<int>(Action::DownloadAndPlay)]->setChecked(true);
    buttons_[static_cast<int>(Action::DownloadAndPlayPeriod)]->setEnabled(selectedEvents == 1);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(group);
    lay->addLayout(okCancel(this));
}

QRadioButton* ActionDialog::button(Action a) const { return buttons_[static_cast<int>(a)]; }

Action ActionDialog::action() const {
    for (int i = 0; i < 4; ++i)
        if (buttons_[i]->isChecked()) return static_cast<Action>(i);
    return Action::DownloadAndPlay;
}

std::optional<Action> ActionDialog::ask(QWidget* parent, int selectedEvents, bool hasAudio) {
    if (selectedEvents <= 0) return std::nullopt;
    if (hasAudio) return Action::JustDownload;
    ActionDialog d(selectedEvents, parent);
    if (d.exec() != QDialog::Accepted) return std::nullopt;
    return d.action();
}

FrameRangeDialog::FrameRangeDialog(uint32_t frameCount, QWidget* parent)
    : QDialog(parent), frameCount_(frameCount) {
    setObjectName("frameRangeDialog");
    auto* group = new QGroupBox("Select Download Period...", this);
    start_ = new QLineEdit("1", group);
    start_->setObjectName("startFrame");
    end_ = new QLineEdit(QString::number(frameCount), group);
    end_->setObjectName("endFrame");
    for (auto* e : {start_, end_}) {
        e->setMaxLength(4);
        e->setValidator(new QIntValidator(1, static_cast<int>(std::min(frameCount, 9999u)), e));
    }
    start_->setAccessibleName("Start Frame");
    end_->setAccessibleName("End Frame");
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel("Start Frame:", group), 0, 0);
    grid->addWidget(start_, 0, 1);
    grid->addWidget(new QLabel("End Frame:", group), 1, 0);
    grid->addWidget(end_, 1, 1);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(group);
    lay->addLayout(okCancel(this));
}

void FrameRangeDialog::accept() {
    // Numbers outside 1 … frame count are the fields' own refusal: the dialog stays.
    if (!start_->hasAcceptableInput() || !end_->hasAcceptableInput()) return;
    download::FrameRange r;
    switch (download::checkFrameRange(start_->text().toUInt(), end_->text().toUInt(), frameCount_,
                                      &r)) {
        case download::FrameRangeCheck::Ok:
            range_ = r;
            QDialog::accept();
            return;
        case download::FrameRangeCheck::EndBeforeStart:
            Prompts::box(this, download::kEndBeforeStartText, {BoxButtons::Ok, BoxIcon::Stop});
            return;
        case download::FrameRangeCheck::OutOfRange: return;
    }
}

ExistingFileDialog::ExistingFileDialog(const QString& path, bool offerResume, QWidget* parent)
    : QDialog(parent) {
    setObjectName("existingFileDialog");
    auto* text = new QLabel(kExistingFileText, this);
    auto* shown = new QLineEdit(path, this);
    shown->setObjectName("pathEdit");
    shown->setReadOnly(true);
    shown->setAccessibleName("File");
    const std::pair<ExistingFileAnswer, const char*> choices[] = {
        {ExistingFileAnswer::SaveAs, "&Save As"},
        {ExistingFileAnswer::Overwrite, "&Overwrite"},
        {ExistingFileAnswer::Resume, "&Resume"},
        {ExistingFileAnswer::Abort, "&Abort"},
    };
    auto* row = new QHBoxLayout;
    for (auto& [a, label] : choices) {
        auto* b = new QPushButton(label, this);
        b->setObjectName(QString("answer%1").arg(static_cast<int>(a)));
        buttons_[static_cast<int>(a)] = b;
        connect(b, &QPushButton::clicked, this, [this, a = a] {
            answer_ = a;
            done(a == ExistingFileAnswer::Abort ? Rejected : Accepted);
        });
        row->addWidget(b);
    }
    button(ExistingFileAnswer::Resume)->setVisible(offerResume);
    button(ExistingFileAnswer::Resume)->setEnabled(offerResume);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(text);
    lay->addWidget(shown);
    lay->addLayout(row);
}

ExistingFileAnswer ExistingFileDialog::ask(QWidget* parent, const QString& path,
                                           bool offerResume) {
    ExistingFileDialog d(path, offerResume, parent);
    d.exec();
    return d.answer();
}

QPushButton* ExistingFileDialog::button(ExistingFileAnswer a) const {
    return buttons_[static_cast<int>(a)];
}

}  // namespace fsv::ui

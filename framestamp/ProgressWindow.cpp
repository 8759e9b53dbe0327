#include "framestamp/ProgressWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace fsv::framestamp {

ExportProgressWindow::ExportProgressWindow(const QString& input, const QString& output,
                                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Export New AVI File..."));
    setModal(false);
    auto* grid = new QGridLayout(this);
    auto* inputCaption = new QLabel(QStringLiteral("Import AVI File:"), this);
    input_ = new QLabel(input, this);
    auto* outputCaption = new QLabel(QStringLiteral("Framestamp Path:"), this);
    output_ = new QLabel(output, this);
    for (QLabel* l : {input_, output_}) {
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setMinimumWidth(360);
    }
    inputCaption->setBuddy(input_);
    outputCaption->setBuddy(output_);
    bar_ = new QProgressBar(this);
    bar_->setAccessibleName(QStringLiteral("Export progress"));
    cancelButton_ = new QPushButton(QStringLiteral("&Cancel"), this);
    grid->addWidget(inputCaption, 0, 0);
    grid->addWidget(input_, 0, 1);
    grid->addWidget(outputCaption, 1, 0);
    grid->addWidget(output_, 1, 1);
    grid->addWidget(bar_, 2, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    grid->addLayout(buttons, 3, 0, 1, 2);
    connect(cancelButton_, &QPushButton::clicked, this, &ExportProgressWindow::reject);
}

void ExportProgressWindow::setRange(int total) { bar_->setRange(0, total > 0 ? total : 1); }

void ExportProgressWindow::setValue(int done) { bar_->setValue(done); }

void ExportProgressWindow::reject() {
    cancel_ = true;
    QDialog::reject();
}

}  // namespace fsv::framestamp

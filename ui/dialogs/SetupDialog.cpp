#include "ui/dialogs/SetupDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace fsv::ui {

namespace {
QCheckBox* check(QWidget* parent, const char* object, const char* text, bool on) {
    auto* c = new QCheckBox(QString::fromLatin1(text), parent);
    c->setObjectName(QString::fromLatin1(object));
    c->setAccessibleName(QString::fromLatin1(text).remove(QLatin1Char('&')));
    c->setChecked(on);
    return c;
}
}  // namespace

SetupDialog::SetupDialog(QWidget* parent, state::Settings current, std::filesystem::path ini)
    : QDialog(parent), ini_(std::move(ini)), settings_(std::move(current)) {
    setObjectName(QStringLiteral("setupDialog"));
    setWindowTitle(QStringLiteral("Setup"));
    setAccessibleName(QStringLiteral("Setup"));

    auto* download = new QGroupBox(QStringLiteral("Download..."), this);
    overwrite_ = check(download, "overwriteCheck", "Always &overwrite files", settings_.overwrite);
    tell_ =
        check(download, "tellCheck", "Always &tell me when download is finished", settings_.tell);
    auto* dl = new QVBoxLayout(download);
    dl->addWidget(overwrite_);
    dl->addWidget(tell_);

    auto* caption = new QGroupBox(QStringLiteral("Channel Text..."), this);
    channelNum_ = check(caption, "channelNumCheck", "Show Channel &Number", settings_.channelNum);
    serverName_ = check(caption, "serverNameCheck", "Show &Server Name", settings_.serverName);
    cameraName_ = check(caption, "cameraNameCheck", "Show &Camera Name", settings_.cameraName);
    auto* cl = new QVBoxLayout(caption);
    cl->addWidget(channelNum_);
    cl->addWidget(serverName_);
    cl->addWidget(cameraName_);

    auto* panel = new QGroupBox(QStringLiteral("Panel Resolution..."), this);
    resolution_ = new QComboBox(panel);
    resolution_->setObjectName(QStringLiteral("resolutionCombo"));
    resolution_->setAccessibleName(QStringLiteral("Panel Resolution"));
    resolution_->addItems(
        {QStringLiteral("800 x 600"), QStringLiteral("1024 x 768"), QStringLiteral("1280 x 1024")});
    resolution_->setCurrentIndex(state::panelChoiceFor(settings_.panelWidth));
    // Everything else of the dialog holds as soon as OK is pressed; the size does not.
    auto* later = new QLabel(QStringLiteral("Takes effect at the next start."), panel);
    later->setObjectName(QStringLiteral("resolutionNote"));
    resolution_->setAccessibleDescription(later->text());
    auto* pl = new QVBoxLayout(panel);
    pl->addWidget(resolution_);
    pl->addWidget(later);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SetupDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SetupDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(download);
    layout->addWidget(caption);
    layout->addWidget(panel);
    layout->addWidget(buttons);
}

void SetupDialog::accept() {
    settings_.overwrite = overwrite_->isChecked();
    settings_.tell = tell_->isChecked();
    settings_.channelNum = channelNum_->isChecked();
    settings_.serverName = serverName_->isChecked();
    settings_.cameraName = cameraName_->isChecked();
    const auto size = state::panelSizeFor(resolution_->currentIndex());
    settings_.panelWidth = size.width;
    settings_.panelHeight = size.height;
    // The new panel size takes effect at the next start.
    state::writeSettings(ini_, settings_);
    QDialog::accept();
}

}  // namespace fsv::ui

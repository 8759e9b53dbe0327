#pragma once
// "Setup": the download and channel-caption options and the panel resolution, kept in
// FarsightViewer.ini. The dialog shows the settings in force; OK writes what the controls hold
// to the file, and settings() then gives them.

#include <QDialog>
#include <filesystem>

#include "state/Settings.h"

class QCheckBox;
class QComboBox;

namespace fsv::ui {

class SetupDialog : public QDialog {
    Q_OBJECT
  public:
    SetupDialog(QWidget* parent, state::Settings current,
                std::filesystem::path ini = state::settingsPath());
    const state::Settings& settings() const { return settings_; }

  public Q_SLOTS:
    void accept() override;

  private:
    std::filesystem::path ini_;
    state::Settings settings_;
    QCheckBox* overwrite_;
    QCheckBox* tell_;
    QCheckBox* channelNum_;
    QCheckBox* serverName_;
    QCheckBox* cameraName_;
    QComboBox* resolution_;
};

}  // namespace fsv::ui

#pragma once
// CSaveAviDlg: the save dialog of Framestamp with its stamping options below the file list:
// "Show Date on AVI file", "Show Time on AVI file", and the text colour ("Black"/"White"), whose
// buttons are enabled only while the date or the time is shown.

#include <QFileDialog>

#include "framestamp/StampExport.h"

class QCheckBox;
class QRadioButton;

namespace fsv::framestamp {

class CSaveAviDlg : public QFileDialog {
    Q_OBJECT
  public:
    CSaveAviDlg(const QString& defaultName, const StampOptions& options, QWidget* parent = nullptr);

    const StampOptions& options() const { return options_; }
    QCheckBox* dateBox() const { return date_; }
    QCheckBox* timeBox() const { return time_; }
    QRadioButton* blackButton() const { return black_; }
    QRadioButton* whiteButton() const { return white_; }

  private:
    void showOptions();
    void checksChanged();

    StampOptions options_;
    QCheckBox* date_;
    QCheckBox* time_;
    QRadioButton* black_;
    QRadioButton* white_;
};

}  // namespace fsv::framestamp

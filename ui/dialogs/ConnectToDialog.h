#pragma once
// "Connect To...": the recorder's address (the recent ones from login.log), ID, password and
// port; "..." picks a server from the address book. Accepting writes login.log and leaves the
// request for the caller to connect with.

#include <QDialog>

#include "platform/Shared.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace fsv::ui {

class ConnectToDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ConnectToDialog(QWidget* parent);
    ConnectRequest request() const { return request_; }

  public Q_SLOTS:
    void accept() override;

  private:
    void pickFromBook();

    QComboBox* address_;
    QLineEdit* id_;
    QLineEdit* password_;
    QLineEdit* port_;
    QPushButton* connect_;
    ConnectRequest request_;
};

}  // namespace fsv::ui

#pragma once
// The address book: groups and servers in a tree, a details pane, and the operations New
// Group, New Server, Delete and Connect. Manage mode edits the book (written after every
// change); select mode is read-only and hands the chosen server back to its caller.

#include <QDialog>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/Shared.h"
#include "state/AddressBook.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace fsv::ui {

class AddressBookDialog : public QDialog {
    Q_OBJECT
  public:
    enum class Mode { Manage, Select };
    // `connect` is the interactive connect (manage mode): false stops a group connect.
    AddressBookDialog(QWidget* parent, Mode mode,
                      std::function<bool(const ConnectRequest&)> connect,
                      std::filesystem::path file = state::addressBookPath());

    // Select mode: the chosen server; its address is empty when none was chosen.
    ConnectRequest selection() const { return selection_; }
    const state::AddressBook& book() const { return book_; }

  public Q_SLOTS:
    void reject() override;  // Close / OK, and Escape

  private:
    // Building the window, step by step.
    void makeWidgets();
    void layOut();
    void applyMode();
    void connectControls();
    void loadBook();
    void populate(std::optional<state::BookItem> select);
    void showDetails(std::optional<state::BookItem> item);
    bool commitDetails();
    void write();
    void newGroup();
    void newServer();
    void removeSelected();
    void connectSelected();
    void currentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void labelEdited(QTreeWidgetItem* item);
    QTreeWidgetItem* itemFor(state::BookItem item) const;
    static std::optional<state::BookItem> bookItemOf(const QTreeWidgetItem* item);

    Mode mode_;
    std::function<bool(const ConnectRequest&)> connect_;
    std::filesystem::path file_;
    state::AddressBook book_;
    bool dirty_ = false;  // changed since the last write
    bool populating_ = false;
    std::optional<state::BookItem> shown_;  // whose details the pane holds
    ConnectRequest selection_;

    QTreeWidget* tree_;
    QLabel* nameLabel_;
    QLineEdit* name_;
    QLabel* addressLabel_;
    QLineEdit* address_;
    QLabel* idLabel_;
    QLineEdit* id_;
    QLabel* passwordLabel_;
    QLineEdit* password_;
    QLabel* portLabel_;
    QLineEdit* port_;
    QPushButton* newGroup_;
    QPushButton* newServer_;
    QPushButton* delete_;
    QPushButton* connectButton_;
    QPushButton* close_;
};

}  // namespace fsv::ui

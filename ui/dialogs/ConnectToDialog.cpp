#include "ui/dialogs/ConnectToDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/UserPort.h"
#include "state/LoginLog.h"
#include "ui/Prompts.h"
#include "ui/dialogs/AddressBookDialog.h"

namespace fsv::ui {

namespace {
QLineEdit* lineEdit(QWidget* parent, const char* object, const char* name, int limit) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(object));
    e->setAccessibleName(QString::fromLatin1(name));
    e->setMaxLength(limit);
    return e;
}
}  // namespace

ConnectToDialog::ConnectToDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("connectToDialog"));
    setWindowTitle(QStringLiteral("Connect To..."));
    setAccessibleName(QStringLiteral("Connect To..."));

    address_ = new QComboBox(this);
    address_->setObjectName(QStringLiteral("addressCombo"));
    address_->setAccessibleName(QStringLiteral("IP Address"));
    address_->setEditable(true);
    address_->setInsertPolicy(QComboBox::NoInsert);
    address_->setMinimumWidth(200);
    auto* book = new QPushButton(QStringLiteral("..."), this);
    book->setObjectName(QStringLiteral("bookButton"));
    book->setAccessibleName(QStringLiteral("Pick from the address book"));
    book->setToolTip(QStringLiteral("Pick from the address book"));
    book->setMaximumWidth(40);
    id_ = lineEdit(this, "idEdit", "ID", int(state::kConnectToFieldLimit));
    id_->setText(QStringLiteral("Guest"));
    password_ = lineEdit(this, "passwordEdit", "Password", int(state::kConnectToFieldLimit));
    password_->setEchoMode(QLineEdit::Password);
    port_ = lineEdit(this, "portEdit", "Port", 5);
    port_->setValidator(new QIntValidator(0, 99999, port_));
    port_->setText(QString::number(kDefaultPort));
    auto* defaultPort = new QPushButton(QStringLiteral("&Default"), this);
    defaultPort->setObjectName(QStringLiteral("defaultPortButton"));
    defaultPort->setAccessibleName(QStringLiteral("Default port"));
    connect(defaultPort, &QPushButton::clicked, this,
            [this] { port_->setText(QString::number(kDefaultPort)); });

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(address_, 1);
    addressRow->addWidget(book);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(port_, 1);
    portRow->addWidget(defaultPort);

    auto* form = new QFormLayout;
    auto addRow = [&](const char* text, QWidget* buddy, QLayout* row) {
        auto* label = new QLabel(QString::fromLatin1(text), this);
        label->setBuddy(buddy);
        if (row)
            form->addRow(label, row);
        else
            form->addRow(label, buddy);
    };
    addRow("IP &Address", address_, addressRow);
    addRow("&ID", id_, nullptr);
    addRow("Pass&word", password_, nullptr);
    addRow("P&ort", port_, portRow);

    auto* buttons = new QDialogButtonBox(this);
    connect_ = buttons->addButton(QStringLiteral("&Connect"), QDialogButtonBox::AcceptRole);
    connect_->setObjectName(QStringLiteral("connectButton"));
    connect_->setAccessibleName(QStringLiteral("Connect"));
    connect_->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ConnectToDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ConnectToDialog::reject);
    connect(book, &QPushButton::clicked, this, &ConnectToDialog::pickFromBook);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    // The recent addresses, most recent first; a damaged log keeps what was read before.
    auto log = state::loadLoginLog(state::loginLogPath());
    for (const auto& line : log.value) address_->addItem(QString::fromStdString(line));
    if (address_->count() > 0) address_->setCurrentIndex(0);
    address_->setFocus();
}

void ConnectToDialog::accept() {
    state::ConnectToFields fields;
    fields.address = address_->currentText().toStdString();
    fields.id = id_->text().toStdString();
    fields.password = password_->text().toStdString();
    fields.port = port_->text().toStdString();
    auto check = state::checkConnectTo(fields);
    if (!check.request) {
        Prompts::box(this, check.message, {BoxButtons::Ok, BoxIcon::Stop});
        if (check.message == state::kPortRangeMessage)
            port_->setFocus();
        else if (check.message == state::kEnterId)
            id_->setFocus();
        else
            address_->setFocus();
        return;
    }
    request_ = *check.request;
    std::vector<std::string> entries;
    for (int i = 0; i < address_->count(); ++i)
        entries.push_back(address_->itemText(i).toStdString());
    // A log that cannot be written does not stop the connect.
    state::saveLoginLog(state::loginLogPath(),
                        state::loginLogAfterConnect(entries, fields.address));
    QDialog::accept();
}

void ConnectToDialog::pickFromBook() {
    hide();
    auto* book = new AddressBookDialog(parentWidget(), AddressBookDialog::Mode::Select, {});
    book->setAttribute(Qt::WA_DeleteOnClose);
    connect(book, &QDialog::finished, this, [this, book] {
        const ConnectRequest r = book->selection();
        if (!r.address.empty()) {
            address_->setCurrentText(QString::fromStdString(r.address));
            id_->setText(QString::fromStdString(r.id));
            password_->setText(QString::fromStdString(r.password));
            port_->setText(QString::number(r.port));
        }
        show();
        if (!r.address.empty())
            connect_->setFocus();
        else
            address_->setFocus();
    });
    book->open();
}

}  // namespace fsv::ui

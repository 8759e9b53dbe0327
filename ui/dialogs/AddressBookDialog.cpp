#include "ui/dialogs/AddressBookDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/UserPort.h"
#include "ui/Prompts.h"

namespace fsv::ui {

using state::BookItem;

namespace {
constexpr int kGroupRole = Qt::UserRole;
constexpr int kEntryRole = Qt::UserRole + 1;

QLineEdit* field(QWidget* parent, const char* object, const char* name, int limit) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(object));
    e->setAccessibleName(QString::fromLatin1(name));
    e->setMaxLength(limit);
    return e;
}
QPushButton* button(QWidget* parent, const char* object, const char* text, const char* name) {
    auto* b = new QPushButton(QString::fromLatin1(text), parent);
    b->setObjectName(QString::fromLatin1(object));
    b->setAccessibleName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}
std::string textOf(const QLineEdit* e) { return e->text().toStdString(); }
}  // namespace

AddressBookDialog::AddressBookDialog(QWidget* parent, Mode mode,
                                     std::function<bool(const ConnectRequest&)> connect,
                                     std::filesystem::path file)
    : QDialog(parent), mode_(mode), connect_(std::move(connect)), file_(std::move(file)) {
    setObjectName(QStringLiteral("addressBookDialog"));
    setWindowTitle(QStringLiteral("Address Book"));
    setAccessibleName(QStringLiteral("Address Book"));

    makeWidgets();
    layOut();
    applyMode();
    connectControls();
    loadBook();
    populate(BookItem{0, 0});
}

// The tree, the detail fields with their labels, and the buttons.
void AddressBookDialog::makeWidgets() {
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("bookTree"));
    tree_->setAccessibleName(QStringLiteral("Groups and servers"));
    tree_->setHeaderHidden(true);
    tree_->setMinimumSize(220, 260);

    nameLabel_ = new QLabel(this);
    nameLabel_->setObjectName(QStringLiteral("nameLabel"));
    nameLabel_->setWordWrap(true);
    const int limit = int(state::kBookFieldLimit);
    name_ = field(this, "nameEdit", "Name", limit);
    address_ = field(this, "addressEdit", "Address", limit);
    id_ = field(this, "idEdit", "ID", limit);
    password_ = field(this, "passwordEdit", "Password", limit);
    password_->setEchoMode(QLineEdit::Password);
    port_ = field(this, "portEdit", "Port", 5);
    addressLabel_ = new QLabel(QStringLiteral("&Address:"), this);
    idLabel_ = new QLabel(QStringLiteral("&ID:"), this);
    passwordLabel_ = new QLabel(QStringLiteral("Pass&word:"), this);
    portLabel_ = new QLabel(QStringLiteral("P&ort:"), this);
    nameLabel_->setBuddy(name_);
    addressLabel_->setBuddy(address_);
    idLabel_->setBuddy(id_);
    passwordLabel_->setBuddy(password_);
    portLabel_->setBuddy(port_);

    newGroup_ = button(this, "newGroupButton", "New &Group", "New Group");
    newServer_ = button(this, "newServerButton", "New &Server", "New Server");
    delete_ = button(this, "deleteButton", "&Delete", "Delete");
    connectButton_ = button(this, "connectButton", "&Connect", "Connect");
    close_ = button(this, "closeButton", mode_ == Mode::Select ? "OK" : "Close",
                    mode_ == Mode::Select ? "OK" : "Close");
    close_->setDefault(mode_ == Mode::Select);
}

// The tree on the left, the details on the right, the buttons below.
void AddressBookDialog::layOut() {
    auto* details = new QGridLayout;
    details->addWidget(nameLabel_, 0, 0, 1, 2);
    details->addWidget(name_, 1, 0, 1, 2);
    details->addWidget(addressLabel_, 2, 0);
    details->addWidget(address_, 2, 1);
    details->addWidget(idLabel_, 3, 0);
    details->addWidget(id_, 3, 1);
    details->addWidget(passwordLabel_, 4, 0);
    details->addWidget(password_, 4, 1);
    details->addWidget(portLabel_, 5, 0);
    details->addWidget(port_, 5, 1);
    details->setRowStretch(6, 1);
    details->setColumnMinimumWidth(1, 180);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newGroup_);
    buttons->addWidget(newServer_);
    buttons->addWidget(delete_);
    buttons->addStretch(1);
    buttons->addWidget(connectButton_);
    buttons->addWidget(close_);

    auto* top = new QHBoxLayout;
    top->addWidget(tree_, 1);
    top->addLayout(details, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);
}

// Choosing a server shows read-only details and only OK; editing allows renaming in the tree
// and Delete on it.
void AddressBookDialog::applyMode() {
    if (mode_ == Mode::Select) {
        for (QLineEdit* e : {name_, address_, id_, password_, port_}) e->setReadOnly(true);
        for (QPushButton* b : {delete_, connectButton_, newGroup_, newServer_}) b->hide();
    } else {
        tree_->setEditTriggers(QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::SelectedClicked);
        auto* del = new QShortcut(QKeySequence::Delete, tree_);
        del->setContext(Qt::WidgetShortcut);
        QObject::connect(del, &QShortcut::activated, this, &AddressBookDialog::removeSelected);
    }
}

void AddressBookDialog::connectControls() {
    QObject::connect(newGroup_, &QPushButton::clicked, this, &AddressBookDialog::newGroup);
    QObject::connect(newServer_, &QPushButton::clicked, this, &AddressBookDialog::newServer);
    QObject::connect(delete_, &QPushButton::clicked, this, &AddressBookDialog::removeSelected);
    QObject::connect(connectButton_, &QPushButton::clicked, this,
                     &AddressBookDialog::connectSelected);
    QObject::connect(close_, &QPushButton::clicked, this, &AddressBookDialog::reject);
    QObject::connect(tree_, &QTreeWidget::currentItemChanged, this,
                     &AddressBookDialog::currentChanged);
    QObject::connect(tree_, &QTreeWidget::itemChanged, this, &AddressBookDialog::labelEdited);
}

// A book that cannot be read whole says so; what was read stays usable.
void AddressBookDialog::loadBook() {
    auto r = state::loadAddressBook(file_);
    if (r.status == state::ReadStatus::WrongFormat) {
        Prompts::box(this, state::kUnexpectedFileFormat, {BoxButtons::Ok, BoxIcon::Stop});
    } else {
        if (r.status == state::ReadStatus::Damaged || r.status == state::ReadStatus::Unreadable)
            Prompts::box(this, r.message, {BoxButtons::Ok, BoxIcon::Stop});
        if (r.usable()) book_ = std::move(r.value);
    }
}

std::optional<BookItem> AddressBookDialog::bookItemOf(const QTreeWidgetItem* item) {
    if (!item) return std::nullopt;
    return BookItem{item->data(0, kGroupRole).toInt(), item->data(0, kEntryRole).toInt()};
}

QTreeWidgetItem* AddressBookDialog::itemFor(BookItem item) const {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = tree_->topLevelItem(i);
        if (bookItemOf(top) == item) return top;
        for (int j = 0; j < top->childCount(); ++j)
            if (bookItemOf(top->child(j)) == item) return top->child(j);
    }
    return nullptr;
}

void AddressBookDialog::populate(std::optional<BookItem> select) {
    populating_ = true;
    tree_->clear();
    const QIcon groupIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon serverIcon = style()->standardIcon(QStyle::SP_ComputerIcon);
    const auto& groups = book_.groups();
    auto make = [&](QTreeWidgetItem* item, BookItem b, const std::string& name, bool group) {
        item->setText(0, QString::fromStdString(name));
        item->setIcon(0, group ? groupIcon : serverIcon);
        item->setData(0, kGroupRole, b.group);
        item->setData(0, kEntryRole, b.entry);
        if (mode_ == Mode::Manage) item->setFlags(item->flags() | Qt::ItemIsEditable);
    };
    // Named groups and the root group's entries share the top level, in list order.
    for (int g = 1; g < int(groups.size()); ++g) {
        auto* top = new QTreeWidgetItem(tree_);
        make(top, BookItem{g, -1}, groups[size_t(g)].name, true);
        for (int e = 0; e < int(groups[size_t(g)].entries.size()); ++e)
            make(new QTreeWidgetItem(top), BookItem{g, e},
                 groups[size_t(g)].entries[size_t(e)].name, false);
    }
    for (int e = 0; e < int(groups[0].entries.size()); ++e)
        make(new QTreeWidgetItem(tree_), BookItem{0, e}, groups[0].entries[size_t(e)].name, false);
    populating_ = false;

    QTreeWidgetItem* current = select ? itemFor(*select) : nullptr;
    if (!current && tree_->topLevelItemCount() > 0) current = tree_->topLevelItem(0);
    shown_.reset();
    populating_ = true;
    tree_->setCurrentItem(current);
    if (current && current->parent()) current->parent()->setExpanded(true);
    populating_ = false;
    showDetails(bookItemOf(current));
}

void AddressBookDialog::showDetails(std::optional<BookItem> item) {
    shown_ = item;
    const bool manage = mode_ == Mode::Manage;
    const state::AddressBookEntry* entry = item ? book_.entry(*item) : nullptr;
    const bool server = entry != nullptr;
    for (QWidget* w : std::initializer_list<QWidget*>{addressLabel_, address_, idLabel_, id_,
                                                      passwordLabel_, password_, portLabel_, port_})
        w->setVisible(server);
    address_->setText(server ? QString::fromStdString(entry->address) : QString());
    id_->setText(server ? QString::fromStdString(entry->id) : QString());
    password_->setText(server ? QString::fromStdString(entry->password) : QString());
    port_->setText(QString::number(server ? entry->port : kDefaultPort));
    if (!item) {
        nameLabel_->setText(QString::fromLatin1(state::kEmptyBookText));
        nameLabel_->setMinimumHeight(manage ? 120 : 0);
        name_->hide();
        name_->clear();
        connectButton_->setEnabled(false);
        delete_->setEnabled(false);
        return;
    }
    nameLabel_->setMinimumHeight(0);
    nameLabel_->setText(server ? QStringLiteral("Server &Name:") : QStringLiteral("Group &Name:"));
    name_->show();
    name_->setText(QString::fromStdString(book_.nameOf(*item)));
    const auto* group = book_.group(item->group);
    connectButton_->setEnabled(server || (group && !group->entries.empty()));
    delete_->setEnabled(true);
}

bool AddressBookDialog::commitDetails() {
    if (!shown_ || !book_.valid(*shown_) || mode_ == Mode::Select || name_->isHidden()) return true;
    state::BookDetails d{textOf(name_), textOf(address_), textOf(id_), textOf(password_),
                         textOf(port_)};
    const BookItem item = *shown_;
    auto r = book_.commit(item, d);
    if (r.changed) {
        dirty_ = true;
        if (QTreeWidgetItem* t = itemFor(item)) {
            populating_ = true;
            t->setText(0, QString::fromStdString(book_.nameOf(item)));
            populating_ = false;
        }
        write();
    }
    if (r.ok) return true;
    Prompts::box(this, r.message, {BoxButtons::Ok, BoxIcon::Stop});
    populating_ = true;
    tree_->setCurrentItem(itemFor(item));
    populating_ = false;
    // An empty field gets its stored text back; a refused port keeps what was typed.
    QLineEdit* bad = port_;
    if (r.message == state::kEnterName) {
        bad = name_;
        name_->setText(QString::fromStdString(book_.nameOf(item)));
    } else if (r.message == state::kEnterAddress) {
        bad = address_;
        address_->setText(QString::fromStdString(book_.entry(item)->address));
    }
    bad->setFocus();
    bad->selectAll();
    return false;
}

void AddressBookDialog::write() {
    std::string error;
    if (state::saveAddressBook(file_, book_, &error)) {
        dirty_ = false;
        return;
    }
    // The book in memory stays as it is; the next change tries again.
    Prompts::box(this, file_.string() + "\n" + error, {BoxButtons::Ok, BoxIcon::Stop});
}

void AddressBookDialog::currentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (populating_) return;
    if (!commitDetails()) {
        populating_ = true;
        tree_->setCurrentItem(previous);
        populating_ = false;
        return;
    }
    showDetails(bookItemOf(current));
}

void AddressBookDialog::newGroup() {
    if (!commitDetails()) return;
    const BookItem item = book_.newGroup();
    dirty_ = true;
    write();
    populate(item);
    if (QTreeWidgetItem* t = itemFor(item)) tree_->editItem(t, 0);
}

void AddressBookDialog::newServer() {
    if (!commitDetails()) return;
    const BookItem item = book_.newServer(shown_);
    dirty_ = true;
    write();
    populate(item);
    if (QTreeWidgetItem* t = itemFor(item)) tree_->editItem(t, 0);
}

void AddressBookDialog::labelEdited(QTreeWidgetItem* item) {
    if (populating_ || !item) return;
    const auto b = bookItemOf(item);
    if (!b) return;
    const std::string old = book_.nameOf(*b);
    const std::string typed = item->text(0).toStdString();
    auto r = book_.editLabel(*b, typed, false);
    switch (r.outcome) {
        case state::LabelEdit::Unchanged:
            return;
        case state::LabelEdit::Removed:
            dirty_ = true;
            write();
            populate(std::nullopt);
            return;
        case state::LabelEdit::Refused: {
            Prompts::box(this, r.message, {BoxButtons::Ok, BoxIcon::Stop});
            populating_ = true;
            item->setText(0, QString::fromStdString(old));
            populating_ = false;
            QTimer::singleShot(0, this, [this, b] {
                if (QTreeWidgetItem* t = itemFor(*b)) tree_->editItem(t, 0);
            });
            return;
        }
        case state::LabelEdit::Accepted:
            dirty_ = true;
            if (shown_ == b) name_->setText(QString::fromStdString(typed));
            write();
            return;
    }
}

void AddressBookDialog::removeSelected() {
    const auto item = bookItemOf(tree_->currentItem());
    if (!item || !book_.valid(*item)) return;
    const char* question =
        item->isGroup() ? state::kDeleteGroupQuestion : state::kDeleteServerQuestion;
    if (Prompts::box(this, question, {BoxButtons::YesNo, BoxIcon::Question}) != BoxAnswer::Yes)
        return;
    book_.remove(*item);
    dirty_ = true;
    write();
    populate(std::nullopt);
}

void AddressBookDialog::connectSelected() {
    if (!commitDetails()) return;
    const auto item = bookItemOf(tree_->currentItem());
    if (!item) return;
    const auto requests = book_.connectRequests(*item);
    // The dialog goes first, so that the connect's status and messages are not behind it.
    QDialog::accept();
    for (const auto& r : requests)
        if (!connect_ || !connect_(r)) break;
}

void AddressBookDialog::reject() {
    if (!commitDetails()) return;
    if (dirty_) write();
    if (mode_ == Mode::Select) {
        const state::AddressBookEntry* e = shown_ ? book_.entry(*shown_) : nullptr;
        if (e)
            selection_ = state::toConnectRequest(*e);
        else
            Prompts::box(this, state::kNothingSelected, {BoxButtons::Ok, BoxIcon::Information});
        QDialog::accept();
        return;
    }
    QDialog::reject();
}

}  // namespace fsv::ui

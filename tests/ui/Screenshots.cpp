// viewer-screenshots OUTDIR HOST:PORT [HOST:PORT...]: drives the viewer's real windows (connects
// to each recorder through "Connect To...", opens the dialogs) and writes one PNG per window.
// scripts/screenshots.sh runs it under Xvfb with a fresh data folder and recorder-sim.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdio>

#include "app/Viewer.h"
#include "ui/dialogs/AddressBookDialog.h"
#include "ui/dialogs/ConnectToDialog.h"
#include "ui/dialogs/SetupDialog.h"

using namespace fsv::ui;

namespace {

template <class T>
T* shown(QWidget& parent) {
    for (T* d : parent.findChildren<T*>())
        if (d->isVisible()) return d;
    return nullptr;
}

bool save(QWidget* w, const QString& dir, const char* name) {
    QTest::qWait(300);  // let layouts and fonts settle
    const QString path = dir + QLatin1Char('/') + QLatin1String(name);
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: viewer-screenshots OUTDIR HOST:PORT [HOST:PORT...]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    fsv::app::Viewer viewer;
    viewer.start();
    MainWindow& w = viewer.window();
    if (!QTest::qWaitForWindowExposed(&w, 10000)) return 1;
    auto* connectButton = w.findChild<QToolButton*>(QStringLiteral("connectButton"));

    int wanted = 0;
    for (int i = 2; i < argc; ++i) {
        const QString target = QString::fromLocal8Bit(argv[i]);
        const auto colon = target.lastIndexOf(QLatin1Char(':'));
        connectButton->click();
        ConnectToDialog* d = nullptr;
        if (!QTest::qWaitFor([&] { return (d = shown<ConnectToDialog>(w)) != nullptr; }, 5000))
            return 1;
        d->findChild<QComboBox*>(QStringLiteral("addressCombo"))
            ->setCurrentText(target.left(colon));
        d->findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText(target.mid(colon + 1));
        d->findChild<QLineEdit*>(QStringLiteral("idEdit"))->setText(QStringLiteral("admin"));
        d->findChild<QLineEdit*>(QStringLiteral("passwordEdit"))->setText(QStringLiteral("pw"));
        if (i == 2 && !save(d, out, "connect-to.png")) return 1;
        d->findChild<QPushButton*>(QStringLiteral("connectButton"))->click();
        ++wanted;
        auto* list = w.findChild<QTreeWidget*>(QStringLiteral("connectionList"));
        if (!QTest::qWaitFor(
                [&] {
                    return list->topLevelItemCount() == wanted &&
                           list->topLevelItem(wanted - 1)->text(3) != QStringLiteral("0");
                },
                20000)) {
            std::fprintf(stderr, "no connection to %s\n", argv[i]);
            return 1;
        }
    }
    if (!save(&w, out, "main-window.png")) return 1;

    w.findChild<QToolButton*>(QStringLiteral("addressBookButton"))->click();
    AddressBookDialog* book = nullptr;
    if (!QTest::qWaitFor([&] { return (book = shown<AddressBookDialog>(w)) != nullptr; }, 5000))
        return 1;
    auto* tree = book->findChild<QTreeWidget*>(QStringLiteral("bookTree"));
    tree->expandAll();
    if (tree->topLevelItemCount() > 0 && tree->topLevelItem(0)->childCount() > 0)
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    if (!save(book, out, "address-book.png")) return 1;
    book->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();

    w.findChild<QToolButton*>(QStringLiteral("setupButton"))->click();
    SetupDialog* setup = nullptr;
    if (!QTest::qWaitFor([&] { return (setup = shown<SetupDialog>(w)) != nullptr; }, 5000))
        return 1;
    if (!save(setup, out, "setup.png")) return 1;
    setup->reject();
    return 0;
}

// The archive window over a catalog kept by fsv archive: the folder typed and opened, the tree
// of recorders, cameras, days and recordings, a double-click that plays the file, and a
// recording added by a run meanwhile showing up without a click.
//   FSV_SCREENSHOT_DIR=DIR test_ui_archive   also writes DIR/archive-window.png
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "archive/Catalog.h"
#include "archive/Store.h"
#include "tests/support/TempDir.h"
#include "ui/lists/ArchiveWindow.h"

using namespace fsv;
using namespace fsv::ui;
namespace fs = std::filesystem;

class ArchiveWindowTest : public QObject {
    Q_OBJECT
  private:
    fs::path dir_;

    // Archives `bytes` as a recording of camera `code` of "Gate DVR" starting at `key`.
    void add(archive::Catalog& c, int code, const std::string& key, const std::string& bytes) {
        const auto id = c.recorder("Gate DVR", "10.0.0.7", 5066, "DVR");
        QVERIFY(id);
        QVERIFY(c.channel(*id, archive::ChannelKind::Camera, code, code == 1 ? "Gate" : "Yard"));
        archive::RecordingRow r;
        r.recorder = "Gate DVR";
        r.code = code;
        r.eventKey = key;
        r.start = archive::startOfKey(key);
        r.path = "Gate DVR/Cam0" + std::to_string(code) + "/" + key.substr(4, 4) + "/Event" + key +
                 "00" + std::to_string(code) + ".avi";
        const fs::path fetched = dir_ / archive::kIncomingFolder / key;
        fs::create_directories(fetched.parent_path());
        std::ofstream(fetched, std::ios::binary) << bytes;
        std::string error;
        QVERIFY2(archive::archiveFile(c, dir_, fetched, bytes.size(), r, 1, &error), error.c_str());
    }

    QTreeWidgetItem* find(QTreeWidget& tree, const QStringList& texts) {
        QTreeWidgetItem* at = nullptr;
        for (const QString& t : texts) {
            QTreeWidgetItem* next = nullptr;
            const int n = at ? at->childCount() : tree.topLevelItemCount();
            for (int i = 0; i < n && !next; ++i) {
                QTreeWidgetItem* c = at ? at->child(i) : tree.topLevelItem(i);
                if (c->text(0) == t) next = c;
            }
            if (!next) return nullptr;
            at = next;
        }
        return at;
    }

  private Q_SLOTS:
    void init() {
        dir_ = fsv::test::makeTempDir("fsv-archive-window");
        QVERIFY(!dir_.empty());
    }
    void cleanup() { fs::remove_all(dir_); }

    void showsTheCatalogPlaysARecordingAndFollowsARun() {
        archive::Catalog writer;
        std::string error;
        QVERIFY2(writer.open(dir_, true, &error), error.c_str());
        add(writer, 1, "20261201080000", "first");
        add(writer, 1, "20261202080000", "second");
        add(writer, 2, "20261201081500", "third");

        ArchiveWindow w;
        struct Played : LocalFiles {
            std::vector<fs::path> files;
            void openAvi(const fs::path& f) override { files.push_back(f); }
        } opened;
        w.setFiles(&opened);
        auto& played = opened.files;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::keyClicks(&w.folderField(), QString::fromStdString(dir_.string()));
        QTest::mouseClick(&w.openButton(), Qt::LeftButton);
        QCOMPARE(w.statusLabel().text(), QStringLiteral("3 recordings"));
        QCOMPARE(w.tree().topLevelItemCount(), 1);
        QVERIFY(find(w.tree(), {"Gate DVR", "Camera 2 - Yard", "2026-12-01", "08:15:00"}));
        QTreeWidgetItem* item =
            find(w.tree(), {"Gate DVR", "Camera 1 - Gate", "2026-12-02", "08:00:00"});
        QVERIFY(item);
        // Sizes as a user reads them, exact in the tool tip; days, cameras and recorders
        // show their totals.
        QCOMPARE(item->text(1), QStringLiteral("0 KB"));
        QCOMPARE(item->toolTip(1), QStringLiteral("6 bytes"));
        add(writer, 1, "20261202090000", std::string(1536 * 1024, 'x'));
        QTRY_VERIFY(find(w.tree(), {"Gate DVR", "Camera 1 - Gate", "2026-12-02", "09:00:00"}));
        QCOMPARE(find(w.tree(), {"Gate DVR", "Camera 1 - Gate", "2026-12-02", "09:00:00"})->text(1),
                 QStringLiteral("1.5 MB"));
        item = find(w.tree(), {"Gate DVR", "Camera 1 - Gate", "2026-12-02", "08:00:00"});
        QVERIFY(item);
        QCOMPARE(item->parent()->toolTip(1), QStringLiteral("%L1 bytes").arg(1536 * 1024 + 6));
        QCOMPARE(find(w.tree(), {"Gate DVR"})->toolTip(1),
                 QStringLiteral("%L1 bytes").arg(1536 * 1024 + 6 + 5 + 5));

        // A double-click on the recording plays its file; on a day it only opens the day.
        w.tree().expandAll();
        w.tree().scrollToItem(item);
        const QPoint at = w.tree().visualItemRect(item).center();
        QTest::mouseClick(w.tree().viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w.tree().viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(played.size(), size_t(1));
        QCOMPARE(played[0], dir_ / "Gate DVR/Cam01/1202/Event20261202080000001.avi");
        QTreeWidgetItem* day = item->parent();
        const QPoint dayAt = w.tree().visualItemRect(day).center();
        QTest::mouseDClick(w.tree().viewport(), Qt::LeftButton, {}, dayAt);
        QCOMPARE(played.size(), size_t(1));

        // A run commits another recording: the window reads the catalog again by itself and
        // keeps the days that were open.
        add(writer, 2, "20261202091500", "fourth");
        QTRY_COMPARE(w.statusLabel().text(), QStringLiteral("5 recordings"));
        QTreeWidgetItem* added =
            find(w.tree(), {"Gate DVR", "Camera 2 - Yard", "2026-12-02", "09:15:00"});
        QVERIFY(added);
        QVERIFY(added->parent()->parent()->isExpanded());

        if (const char* shots = std::getenv("FSV_SCREENSHOT_DIR")) {
            w.tree().expandAll();
            w.tree().setCurrentItem(added);
            QVERIFY(w.grab().save(QString::fromUtf8(shots) + "/archive-window.png"));
        }
    }

    void aFolderWithoutCatalogSaysSo() {
        ArchiveWindow w;
        w.show();
        QTest::keyClicks(&w.folderField(), QString::fromStdString((dir_ / "none").string()));
        QTest::keyClick(&w.folderField(), Qt::Key_Return);
        QCOMPARE(w.tree().topLevelItemCount(), 0);
        QVERIFY2(w.statusLabel().text().startsWith("no catalog in"),
                 qPrintable(w.statusLabel().text()));
    }
};

QTEST_MAIN(ArchiveWindowTest)
#include "ArchiveWindowTest.moc"

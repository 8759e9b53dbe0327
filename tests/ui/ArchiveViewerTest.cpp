// Windows > Archive in the program: the window opens from its command, shows the archive folder
// typed into it, and a double-click on a recording plays that file in a panel.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <memory>

#include "app/Viewer.h"
#include "archive/Catalog.h"
#include "archive/Store.h"
#include "sim/Generate.h"
#include "ui/Prompts.h"
#include "ui/lists/ArchiveWindow.h"
#include "ui/mainwindow/MainWindow.h"
#include "ui/panels/ChannelView.h"

namespace fs = std::filesystem;
using fsv::app::Viewer;
using namespace fsv::ui;

class ArchiveViewerTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<QTemporaryDir> dir_;
    PromptScript script_;

    fs::path dir() const { return dir_->path().toStdString(); }

  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        qputenv("FARSIGHT_HOME", QByteArray::fromStdString((dir() / "home").string()));
        qputenv("FARSIGHT_CONFIG", QByteArray::fromStdString((dir() / "config").string()));
        script_ = PromptScript{};
        Prompts::setScript(&script_);
    }
    void cleanup() {
        Prompts::setScript(nullptr);
        dir_.reset();
    }

    void archiveCommandOpensTheWindowAndARecordingPlays() {
        // An archive of one recording, as a run leaves it.
        fsv::sim::GenerateOptions gen;
        gen.cameras = 1;
        gen.days = 1;
        gen.eventsPerDay = 1;
        gen.audioChannels = 0;
        std::string error;
        QVERIFY2(fsv::sim::generateRecordings(dir() / "rec", gen, &error), error.c_str());
        fs::path avi;
        for (auto& e : fs::recursive_directory_iterator(dir() / "rec"))
            if (e.path().extension() == ".avi") avi = e.path();
        QVERIFY(!avi.empty());
        const fs::path archive = dir() / "archive";
        fsv::archive::Catalog catalog;
        QVERIFY2(catalog.open(archive, true, &error), error.c_str());
        const auto id = catalog.recorder("Yard DVR", "127.0.0.1", 5066, "DVR");
        QVERIFY(id && catalog.channel(*id, fsv::archive::ChannelKind::Camera, 1, "Gate"));
        fs::create_directories(archive / fsv::archive::kIncomingFolder);
        const fs::path fetched = archive / fsv::archive::kIncomingFolder / "f.avi";
        fs::copy_file(avi, fetched);
        fsv::archive::RecordingRow row;
        row.recorder = "Yard DVR";
        row.code = 1;
        row.eventKey = "20261201080000";
        row.start = fsv::archive::startOfKey(row.eventKey);
        row.path = "Yard DVR/Cam01/1201/Event20261201080000001.avi";
        QVERIFY2(fsv::archive::archiveFile(catalog, archive, fetched, fs::file_size(avi), row, 1,
                                           &error),
                 error.c_str());

        Viewer v;
        v.start();
        MainWindow& w = v.window();
        auto* command = w.findChild<QAction*>(QStringLiteral("command%1").arg(cmd::kArchive));
        QVERIFY(command);
        QCOMPARE(command->text(), QStringLiteral("Archive"));
        QVERIFY(command->isEnabled());
        command->trigger();
        ArchiveWindow& window = v.archiveWindow();
        QTRY_VERIFY(window.isVisible());
        QVERIFY(command->isChecked());

        QTest::keyClicks(&window.folderField(), QString::fromStdString(archive.string()));
        QTest::mouseClick(&window.openButton(), Qt::LeftButton);
        QCOMPARE(window.statusLabel().text(), QStringLiteral("1 recordings"));
        QTreeWidget& tree = window.tree();
        tree.expandAll();
        QTreeWidgetItem* item = tree.topLevelItem(0)->child(0)->child(0)->child(0);
        QCOMPARE(item->text(0), QStringLiteral("08:00:00"));
        const QPoint at = tree.visualItemRect(item).center();
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, at);
        QTRY_VERIFY_WITH_TIMEOUT(w.channelView()->panel(0)->showing(), 30000);
        const auto files = v.backend().channelFiles();
        QVERIFY(!files.empty());
        QCOMPARE(files[0], archive / row.path);

        command->trigger();
        QTRY_VERIFY(!window.isVisible());
    }
};

QTEST_MAIN(ArchiveViewerTest)
#include "ArchiveViewerTest.moc"

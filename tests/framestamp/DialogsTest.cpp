// The dialogs of Framestamp, offscreen: the save dialog's options, the flow's endings, the
// progress window's Cancel and the final message box. File dialogs are answered by script or
// closed by a timer, so nothing modal waits for a person.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "Support.h"
#include "framestamp/DialogFlow.h"
#include "framestamp/ProgressWindow.h"
#include "framestamp/SaveAviDialog.h"

using namespace fsv::framestamp;

namespace {

// Answers the file dialogs as told; the message box is the real one unless `scriptReport`.
struct ScriptedPrompts : DialogPrompts {
    QString input, output;
    std::function<QString(const QString&, StampOptions&)> onOutput;
    QStringList asked;
    int reports = 0;
    QString askInput() override {
        asked << QStringLiteral("input");
        return input;
    }
    QString askOutput(const QString& defaultName, StampOptions& options) override {
        asked << QStringLiteral("output:") + defaultName;
        return onOutput ? onOutput(defaultName, options) : output;
    }
    void report(bool finished) override {
        ++reports;
        DialogPrompts::report(finished);
    }
};

// Calls `f` with the modal widget as soon as one is shown.
void whenModal(std::function<void(QWidget*)> f) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, f] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            f(w);
        }
    });
    timer->start(10);
}

QString scratch(const char* name) {
    const QString dir = QStringLiteral(FSV_BINARY_DIR "/test-framestamp-dialogs/") + name;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void colourButtonsFollowTheChecks() {
        CSaveAviDlg dialog(QStringLiteral("090317.avi"), StampOptions{});
        QVERIFY(dialog.dateBox()->isChecked() && dialog.timeBox()->isChecked());
        QVERIFY(dialog.blackButton()->isChecked() && !dialog.whiteButton()->isChecked());
        // 1: both colour buttons enabled, 0: both disabled, -1: they disagree.
        auto enabled = [&] {
            const bool b = dialog.blackButton()->isEnabled(), w = dialog.whiteButton()->isEnabled();
            return b == w ? int(b) : -1;
        };
        QCOMPARE(enabled(), 1);
        dialog.dateBox()->click();
        QVERIFY(!dialog.options().showDate);
        QCOMPARE(enabled(), 1);
        dialog.timeBox()->click();
        QVERIFY(!dialog.options().showTime);
        QCOMPARE(enabled(), 0);
        dialog.dateBox()->click();
        QCOMPARE(enabled(), 1);
        dialog.dateBox()->click();
        dialog.timeBox()->click();
        QCOMPARE(enabled(), 1);
        dialog.whiteButton()->click();
        QCOMPARE(dialog.options().textColour, kWhite);
        dialog.blackButton()->click();
        QCOMPARE(dialog.options().textColour, kBlack);

        // Opening with both off and white shows that, with the colours disabled.
        CSaveAviDlg off(QStringLiteral("x.avi"), StampOptions{false, false, kWhite});
        QVERIFY(!off.dateBox()->isChecked() && !off.timeBox()->isChecked());
        QVERIFY(off.whiteButton()->isChecked() && !off.blackButton()->isChecked());
        QVERIFY(!off.blackButton()->isEnabled() && !off.whiteButton()->isEnabled());
        QCOMPARE(off.defaultSuffix(), QStringLiteral("AVI"));
        QCOMPARE(off.nameFilters(), QStringList{QStringLiteral("AVI Files (*.avi *.AVI)")});
    }

    void cancelAndEmptyNamesEndWithoutAMessage() {
        // No input chosen.
        ScriptedPrompts p;
        QCOMPARE(runDialogs(QString(), p), 0);
        QCOMPARE(p.asked, QStringList{QStringLiteral("input")});
        QCOMPARE(p.reports, 0);

        // The real save dialog, cancelled; the default name is the input's file name.
        ScriptedPrompts q;
        q.onOutput = [&q](const QString& name, StampOptions& o) {
            whenModal([](QWidget* w) {
                QVERIFY(qobject_cast<CSaveAviDlg*>(w));
                qobject_cast<QDialog*>(w)->reject();
            });
            return q.DialogPrompts::askOutput(name, o);
        };
        QCOMPARE(runDialogs(QStringLiteral("/some/folder/090317.avi"), q), 0);
        QCOMPARE(q.asked, QStringList{QStringLiteral("output:090317.avi")});
        QCOMPARE(q.reports, 0);

        // An empty name: the dialog does not take it, and nothing is exported.
        ScriptedPrompts e;
        e.onOutput = [&e](const QString&, StampOptions& o) {
            whenModal([](QWidget* w) {
                auto* d = qobject_cast<CSaveAviDlg*>(w);
                QVERIFY(d);
                d->selectFile(QString());
                static_cast<QDialog*>(d)->accept();
                QVERIFY(d->isVisible());
                d->reject();
            });
            return e.DialogPrompts::askOutput(QString(), o);
        };
        QCOMPARE(runDialogs(QStringLiteral("in.avi"), e), 0);
        QCOMPARE(e.reports, 0);

        // And scripted: an empty answer.
        ScriptedPrompts s;
        QCOMPARE(runDialogs(QStringLiteral("in.avi"), s), 0);
        QCOMPARE(s.reports, 0);
    }

    void finalMessages() {
        const QString dir = scratch("final");
        std::vector<std::string> texts = {"Event#1-10:0:0(2026/12/1)", "#1-10:0:0.100"};
        const QString good = dir + QStringLiteral("/good.avi");
        QVERIFY(fsv::framestamp::test::writeRecording(good.toStdString(), texts));
        struct {
            QString input;
            QMessageBox::Icon icon;
            const char* text;
            int exit;
        } cases[] = {
            {good, QMessageBox::Information, kTextFinish, 0},
            {dir + QStringLiteral("/missing.avi"), QMessageBox::Critical, kTextFail, 1},
        };
        for (auto& c : cases) {
            ScriptedPrompts p;
            p.output = dir + QStringLiteral("/out.avi");
            QString title, text;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            whenModal([&](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                QVERIFY(box);
                title = box->windowTitle();
                text = box->text();
                icon = box->icon();
                box->accept();
            });
            QCOMPARE(runDialogs(c.input, p), c.exit);
            QCOMPARE(p.reports, 1);
            QCOMPARE(title, QString::fromLatin1(kTextCaption));
            QCOMPARE(text, QString::fromLatin1(c.text));
            QCOMPARE(icon, c.icon);
        }
    }

    void cancelStopsTheExport() {
        const QString dir = scratch("cancel");
        const auto input = fsv::framestamp::test::sampleRecording(dir.toStdString(), 60.0);
        QVERIFY(!input.empty());
        ScriptedPrompts p;
        p.output = dir + QStringLiteral("/out.avi");
        // Press Cancel once the bar has moved.
        bool sawPaths = false;
        QTimer press;
        connect(&press, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* window = qobject_cast<ExportProgressWindow*>(w);
                if (!window || !window->isVisible() || window->bar()->value() < 1) continue;
                QCOMPARE(window->windowTitle(), QStringLiteral("Export New AVI File..."));
                QCOMPARE(window->cancelButton()->text(), QStringLiteral("&Cancel"));
                QStringList labels;
                for (QLabel* l : window->findChildren<QLabel*>()) labels << l->text();
                sawPaths = labels.contains(QString::fromStdString(input.string())) &&
                           labels.contains(p.output);
                press.stop();
                window->cancelButton()->click();
            }
        });
        press.start(5);
        // The final box, whenever it comes.
        QString text;
        whenModal([&text](QWidget* m) {
            if (auto* box = qobject_cast<QMessageBox*>(m)) text = box->text();
            qobject_cast<QDialog*>(m)->accept();
        });
        QCOMPARE(runDialogs(QString::fromStdString(input.string()), p), 1);
        QVERIFY(sawPaths);
        QCOMPARE(p.reports, 1);
        QCOMPARE(text, QString::fromLatin1(kTextFail));
        fsv::media::AviReader src, out;
        const int frames = src.open(input, false);
        const int positions = out.open(p.output.toStdString(), false);
        int copied = 0;
        for (int i = 0; i < positions; ++i) copied += *out.videoSampleSize(i) > 0;
        QVERIFY(copied > 0);
        QVERIFY2(copied < frames, qPrintable(QStringLiteral("%1 of %2").arg(copied).arg(frames)));
    }

    // Pictures of the save dialog and the progress window for the documentation, when
    // FSV_SCREENSHOTS names a folder.
    void screenshots() {
        const QString dir = qEnvironmentVariable("FSV_SCREENSHOTS");
        if (dir.isEmpty()) QSKIP("FSV_SCREENSHOTS not set");
        QDir().mkpath(dir);
        // A folder with a few recordings in it.
        const QString folder = scratch("screenshots");
        std::vector<std::string> texts = {"Event#1-9:3:17(2026/12/1)"};
        for (const char* name : {"080300.avi", "090317.avi", "101544.avi"})
            QVERIFY(fsv::framestamp::test::writeRecording(
                (folder + u'/' + QLatin1String(name)).toStdString(), texts));
        CSaveAviDlg save(QStringLiteral("090317.avi"), StampOptions{});
        save.setDirectory(folder);
        save.resize(720, 480);
        save.show();
        QVERIFY(QTest::qWaitForWindowExposed(&save));
        QTest::qWait(200);
        QVERIFY(save.grab().save(dir + QStringLiteral("/framestamp-save.png")));
        ExportProgressWindow progress(
            QStringLiteral("/home/user/Recordings/Cam02/20261201/090317.avi"),
            QStringLiteral("/home/user/Stamped/090317.avi"));
        progress.setRange(1500);
        progress.setValue(620);
        progress.show();
        QVERIFY(QTest::qWaitForWindowExposed(&progress));
        QVERIFY(progress.grab().save(dir + QStringLiteral("/framestamp-progress.png")));
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"

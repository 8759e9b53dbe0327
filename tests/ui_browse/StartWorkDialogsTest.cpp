#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "ui/Prompts.h"
#include "ui/dialogs/StartWorkDialogs.h"

using namespace fsv;
using namespace fsv::ui;
using download::Action;

class StartWorkDialogsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Audio in the selection takes "Just Download" without asking; nothing selected declines;
    // the period choice is offered only for one event; "Download && Play" is the default.
    void action() {
        QCOMPARE(ActionDialog::ask(nullptr, 3, true), std::optional<Action>(Action::JustDownload));
        QCOMPARE(ActionDialog::ask(nullptr, 0, false), std::optional<Action>());
        ActionDialog two(2);
        QVERIFY(!two.button(Action::DownloadAndPlayPeriod)->isEnabled());
        QCOMPARE(two.action(), Action::DownloadAndPlay);
        QCOMPARE(two.button(Action::DownloadAndPlay)->text(), QString("Download && Play"));
        ActionDialog one(1);
        QVERIFY(one.button(Action::DownloadAndPlayPeriod)->isEnabled());
        one.show();
        QTest::mouseClick(one.button(Action::JustDownload), Qt::LeftButton);
        QTest::mouseClick(one.findChild<QPushButton*>("okButton"), Qt::LeftButton);
        QCOMPARE(one.result(), int(QDialog::Accepted));
        QCOMPARE(one.action(), Action::JustDownload);
    }

    // Start and End Frame: End starts at the frame count; End before Start is refused with the
    // message and the dialog stays; equal numbers are taken; the range is 0-based; a number
    // outside 1 … frame count or of five digits is refused by the field.
    void frameRange() {
        PromptScript script;
        Prompts::setScript(&script);
        FrameRangeDialog d(1200);
        d.show();
        QCOMPARE(d.endEdit()->text(), QString("1200"));
        QCOMPARE(d.endEdit()->maxLength(), 4);
        struct Case {
            const char *start, *end;
            bool accepted, told;
            uint32_t first, last;
        } cases[] = {
            {"10", "9", false, true, 0, 0},   {"0", "5", false, false, 0, 0},
            {"5", "1201", false, false, 0, 0}, {"7", "7", true, false, 6, 6},
            {"1", "1200", true, false, 0, 1199},
        };
        for (auto& c : cases) {
            script.shown.clear();
            d.setResult(-1);
            d.startEdit()->setText(c.start);
            d.endEdit()->setText(c.end);
            d.accept();
            QCOMPARE(d.result() == QDialog::Accepted, c.accepted);
            QCOMPARE(script.saw(download::kEndBeforeStartText), c.told);
            if (c.accepted) {
                QCOMPARE(d.range().first, c.first);
                QCOMPARE(d.range().last, c.last);
            }
        }
        d.startEdit()->clear();
        QTest::keyClicks(d.startEdit(), "12345");
        QCOMPARE(d.startEdit()->text(), QString("1234"));
        Prompts::setScript(nullptr);
    }

    // The existing file: Resume shows only when offered; each button answers; closing aborts.
    void existingFile() {
        for (auto a : {ExistingFileAnswer::SaveAs, ExistingFileAnswer::Overwrite,
                       ExistingFileAnswer::Resume, ExistingFileAnswer::Abort}) {
            ExistingFileDialog d("/tmp/Cam01/1201/Event20261201080000001.avi", true);
            d.show();
            QTest::mouseClick(d.button(a), Qt::LeftButton);
            QCOMPARE(d.answer(), a);
        }
        ExistingFileDialog d("/tmp/x.avi", false);
        d.show();
        QVERIFY(!d.button(ExistingFileAnswer::Resume)->isVisible());
        d.reject();
        QCOMPARE(d.answer(), ExistingFileAnswer::Abort);
    }
};

QTEST_MAIN(StartWorkDialogsTest)
#include "StartWorkDialogsTest.moc"

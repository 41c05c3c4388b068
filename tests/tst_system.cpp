// External download managers found in the system's settings (Check1 and its
// options), and the login autostart entry that follows Check2.
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "platform/autostart.h"
#include "platform/paths.h"
#include "support/systemfolders.h"
#include "support/testsupport.h"
#include "system/regtools.h"

#include <QtTest>

using namespace testsupport;

namespace {
const QString dap = QStringLiteral("/opt/Download Accelerator/dap.exe");
const QString grexe = QStringLiteral("/opt/Get Right/getright.exe");

void install(const SystemFolders& system, bool da, bool gr) {
    if (da) system.setsystemvalue("SpeedBit", "Download Accelerator", "EXELOCATION", dap);
    if (gr) system.setsystemvalue("Headlight", "GetRight", "InstallDir", "/opt/Get Right");
}

// Check1 ("disabled", "on", "off"), then DownloadAccelerator and GetRight:
// '-' not offered, 'x' not offered but selected, 'o' offered, '*' and selected.
QString options(const quillharbor& form) {
    QString text = QString(form.Check1->isEnabled() ? "" : "disabled ") +
                   (form.Check1->Value() ? "on " : "off ");
    for (const QRadioButton* option : {form.DownloadAccelerator, form.GetRight})
        text += option->isEnabled() ? (option->isChecked() ? '*' : 'o')
                                    : (option->isChecked() ? 'x' : '-');
    return text;
}

// The entry's text; "" when there is none.
QByteArray entry(const SystemFolders& system) {
    return readfile(system.confighome() + "/autostart/quillharbor.desktop");
}
} // namespace

class SystemSettings : public QObject {
    Q_OBJECT
  private slots:
    void detection_data() {
        QTest::addColumn<bool>("da");
        QTest::addColumn<bool>("gr");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("neither") << false << false << "disabled off --" << QStringList{"", ""};
        QTest::newRow("Download Accelerator") << true << false << "on *-" << QStringList{dap, ""};
        QTest::newRow("GetRight") << false << true << "on -*" << QStringList{"", grexe};
        QTest::newRow("both, GetRight chosen")
            << true << true << "on o*" << QStringList{dap, grexe};
    }
    void detection() {
        QFETCH(bool, da);
        QFETCH(bool, gr);
        QFETCH(QString, offered);
        QFETCH(QStringList, found);
        SystemFolders system;
        install(system, da, gr);
        // The organisation-wide file does not stand in for the application's.
        QSettings(QFileInfo(system.systemfile("SpeedBit", "x")).path() + ".conf",
                  QSettings::IniFormat)
            .setValue("EXELOCATION", dap);
        regtools::dapath = regtools::grpath = QStringLiteral("stale");
        // Ticked by the stored setting at start: the program ticking it counts as a click.
        ProgramFolder folder;
        folder.write("vars.ini", "external1=1\r\n");
        auto form = freshwindow();
        principal::readvars();
        QCOMPARE(options(*form), offered);
        QCOMPARE((QStringList{regtools::dapath, regtools::grpath}), found);
    }

    void turnedOffAndOn() {
        SystemFolders system;
        install(system, true, true);
        auto form = freshwindow();
        form->show();
        form->Check1->click();
        form->DownloadAccelerator->click(); // the user prefers the other one
        QCOMPARE(options(*form), "on *o");
        // Off: the choice is withdrawn, paths and selection are kept.
        form->Check1->click();
        QCOMPARE(options(*form), "off x-");
        QCOMPARE((QStringList{regtools::dapath, regtools::grpath}), (QStringList{dap, grexe}));

        // On again detects afresh: with both gone the box ends unavailable,
        // and a disabled box cannot be clicked, so it stays so until a restart.
        QFile::remove(system.systemfile("Headlight", "GetRight"));
        QFile::remove(system.systemfile("SpeedBit", "Download Accelerator"));
        form->Check1->click();
        QCOMPARE(options(*form), "disabled off x-");
        install(system, true, false);
        QTest::mouseClick(form->Check1, Qt::LeftButton);
        QCOMPARE(options(*form), "disabled off x-");
    }

    // A stored tick writes the entry afresh (the program may have moved), a 0
    // leaves it; unticking removes it. An unmakeable folder, and nothing to
    // remove, are silent.
    void autostartentry() {
        SystemFolders system;
        ProgramFolder folder;
        QVERIFY(platform::setautostart("Quillharbor", "/old/place"));
        const QByteArray moved = entry(system);
        std::unique_ptr<quillharbor> form;
        for (int ticked : {0, 1}) {
            folder.write("vars.ini", "autostart=" + QByteArray::number(ticked) + "\r\n");
            form = freshwindow();
            principal::readvars();
            QCOMPARE(entry(system) == moved, !ticked);
        }
        QVERIFY(QFileInfo(platform::exepath()).isAbsolute());
        QCOMPARE(entry(system), "[Desktop Entry]\nType=Application\nName=Quillharbor\nExec=\"" +
                                    platform::exepath().toUtf8() +
                                    "\"\nIcon=quillharbor\nTerminal=false\n");
        form->Check2->click();
        QCOMPARE(entry(system), QByteArray());
        // A plain file where the autostart folder would be.
        QDir(system.confighome() + "/autostart").removeRecursively();
        QFile(system.confighome() + "/autostart").open(QIODevice::WriteOnly);
        form->Check2->click();
        QCOMPARE(form->Check2->Value(), 1);
        form->Check2->click();
        QCOMPARE(form->Check2->Value(), 0);
    }

    // Quoted, ", `, $ and \ escaped inside, % doubled, then every backslash doubled.
    void awkwardProgramPaths_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("exec");
        QTest::newRow("spaces") << "/opt/My Programs/qh" << QByteArray("\"/opt/My Programs/qh\"");
        QTest::newRow("shell") << "/o/a\"b`c$(d);e\\f"
                               << QByteArray("\"/o/a\\\\\"b\\\\`c\\\\$(d);e\\\\\\\\f\"");
        QTest::newRow("field code") << "/opt/100%f/qh" << QByteArray("\"/opt/100%%f/qh\"");
    }
    void awkwardProgramPaths() {
        QFETCH(QString, program);
        QFETCH(QByteArray, exec);
        SystemFolders system;
        QVERIFY(platform::setautostart("Quillharbor", program));
        QVERIFY2(entry(system).contains("\nExec=" + exec + "\n"), entry(system));
    }
};

QTEST_MAIN(SystemSettings)
#include "tst_system.moc"

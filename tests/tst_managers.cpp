// External download managers: found in the system settings, offered through
// Check1 and the two option buttons.
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "support/systemfolders.h"
#include "support/testsupport.h"
#include "system/regtools.h"

#include <QtTest>

using namespace testsupport;

namespace {
const QString dap = QStringLiteral("/opt/Download Accelerator/dap.exe");
const QString grexe = QStringLiteral("/opt/Get Right/getright.exe");

void installda(const SystemFolders& system, const QString& location = dap) {
    system.setsystemvalue("SpeedBit", "Download Accelerator", "EXELOCATION", location);
}

void installgr(const SystemFolders& system) {
    system.setsystemvalue("Headlight", "GetRight", "InstallDir", "/opt/Get Right");
}

// Off: box enabled and unticked; Unavailable: disabled and unticked. Neither offers a manager.
bool offered(const quillharbor& form) {
    return form.DownloadAccelerator->isEnabled() || form.GetRight->isEnabled();
}
bool off(const quillharbor& form) {
    return form.Check1->isEnabled() && form.Check1->Value() == 0 && !offered(form);
}
bool unavailable(const quillharbor& form) {
    return !form.Check1->isEnabled() && form.Check1->Value() == 0 && !offered(form);
}
} // namespace

class Managers : public QObject {
    Q_OBJECT
  private slots:
    void neitherInstalled() {
        SystemFolders system;
        installda(system, QString()); // an empty location is no installation
        // The organisation-wide file does not stand in for the application's.
        const QString folder = QFileInfo(system.systemfile("SpeedBit", "x")).path();
        QSettings(folder + QStringLiteral(".conf"), QSettings::IniFormat)
            .setValue("EXELOCATION", dap);
        regtools::dapath = regtools::grpath = QStringLiteral("stale");
        auto form = freshwindow();
        form->Check1->click();
        QVERIFY(unavailable(*form));
        QCOMPARE(regtools::dapath, QString());
        QCOMPARE(regtools::grpath, QString());

        // A disabled box cannot be clicked: unavailable until a restart.
        installda(system);
        form->show();
        QTest::mouseClick(form->Check1, Qt::LeftButton);
        QVERIFY(unavailable(*form));
    }

    void oneInstalled() {
        SystemFolders system;
        installda(system);
        auto form = freshwindow();
        form->Check1->click();
        QCOMPARE(form->Check1->Value(), 1);
        QVERIFY(form->DownloadAccelerator->isEnabled() && form->DownloadAccelerator->isChecked());
        QVERIFY(!form->GetRight->isEnabled() && !form->GetRight->isChecked());
        QCOMPARE(regtools::dapath, dap);
        QCOMPARE(regtools::grpath, QString());

        SystemFolders other;
        installgr(other);
        form = freshwindow();
        form->Check1->setValue(1); // the program ticking it counts as a click
        QVERIFY(form->GetRight->isEnabled() && form->GetRight->isChecked());
        QVERIFY(!form->DownloadAccelerator->isEnabled());
        QCOMPARE(regtools::grpath, grexe);
        QCOMPARE(regtools::dapath, QString());
    }

    void bothInstalledAndTheBoxTurnedOffAndOn() {
        SystemFolders system;
        installda(system);
        installgr(system);
        auto form = freshwindow();
        form->Check1->click();
        QVERIFY(form->DownloadAccelerator->isEnabled() && form->GetRight->isEnabled());
        QVERIFY(form->GetRight->isChecked() && !form->DownloadAccelerator->isChecked());
        form->DownloadAccelerator->click(); // the user prefers the other one

        // Off: the choice is withdrawn, paths and selection are kept.
        form->Check1->click();
        QVERIFY(off(*form));
        QVERIFY(form->DownloadAccelerator->isChecked());
        QCOMPARE(regtools::dapath, dap);
        QCOMPARE(regtools::grpath, grexe);

        // On again detects afresh: GetRight is gone now.
        QFile::remove(system.systemfile("Headlight", "GetRight"));
        form->Check1->click();
        QVERIFY(form->DownloadAccelerator->isEnabled() && form->DownloadAccelerator->isChecked());
        QVERIFY(!form->GetRight->isEnabled());
        QCOMPARE(regtools::grpath, QString());

        // Both gone: the next tick ends unavailable.
        form->Check1->click();
        QVERIFY(off(*form));
        QFile::remove(system.systemfile("SpeedBit", "Download Accelerator"));
        form->Check1->click();
        QVERIFY(unavailable(*form));
    }

    void startingWithTheStoredSetting() {
        ProgramFolder folder;
        folder.write(QStringLiteral("vars.ini"), "external1=1\r\n");
        SystemFolders system; // the managers were uninstalled since
        auto form = freshwindow();
        principal::readvars();
        QVERIFY(unavailable(*form));

        installgr(system);
        form = freshwindow();
        principal::readvars();
        QCOMPARE(form->Check1->Value(), 1);
        QVERIFY(form->GetRight->isEnabled() && form->GetRight->isChecked());
        QCOMPARE(regtools::grpath, grexe);
    }
};

QTEST_MAIN(Managers)
#include "tst_managers.moc"

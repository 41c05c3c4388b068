#include "system/regtools.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "platform/autostart.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace regtools {

QString dapath;
QString grpath;

namespace {
const QString daexelocation =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\SpeedBit\\Download Accelerator\\EXELOCATION");
const QString grinstalldir =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Headlight\\GetRight\\InstallDir");
// The name the program starts under at login.
const QString runname = QStringLiteral("Quillharbor");
} // namespace

void detectmanagers() {
    // Every step ignores errors: a manager that cannot be read is not installed.
    quillharbor& form = principal::mainwindow();
    dapath = QString();
    grpath = QString();

    QString work;
    work = platform::RegRead(daexelocation);
    if (work != QString()) {
        form.DownloadAccelerator->setEnabled(true);
        form.DownloadAccelerator->setChecked(true);
        dapath = work;
    }

    work = QString();
    work = platform::RegRead(grinstalldir);
    if (work != QString()) {
        form.GetRight->setEnabled(true);
        form.GetRight->setChecked(true); // clears DownloadAccelerator
        grpath = work + platform::separator() + QStringLiteral("getright.exe");
    }

    if (dapath == QString() && grpath == QString()) {
        // Nothing to offer: the box stays off until the program restarts.
        form.Check1->setEnabled(false);
        form.Check1->setValue(0);
    }
}

void autostarton() {
    // A failed write is ignored: the box stays ticked, only the entry is missing.
    platform::setautostart(runname, platform::autostartcommand());
}

void autostartoff() {
    // Removing an entry that is not there is no failure worth reporting.
    platform::removeautostart(runname);
}

} // namespace regtools

void quillharbor::Check1_Click() {
    // The box's own state is not looked at: with the choice offered a click
    // withdraws it, without it a click detects again.
    if (DownloadAccelerator->isEnabled() || GetRight->isEnabled()) {
        DownloadAccelerator->setEnabled(false);
        GetRight->setEnabled(false);
    } else {
        regtools::detectmanagers();
    }
}

void quillharbor::Check2_Click() {
    if (Check2->Value() == 1)
        regtools::autostarton();
    else
        regtools::autostartoff();
}

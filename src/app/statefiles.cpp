#include "app/statefiles.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/storedpassword.h"
#include "platform/paths.h"
#include "platform/textfile.h"
#include "queue/comandospool.h"
#include "system/regtools.h"
#include "windows/createuser.h"

#include <QDir>
#include <QStandardPaths>
#include <optional>

namespace principal {

namespace {
// A stored number as the settings reader takes it: blanks around it are
// allowed, anything else that is not a number gives nothing.
std::optional<double> number(const QString& value) {
    bool ok = false;
    const double parsed = value.trimmed().toDouble(&ok);
    if (!ok) return std::nullopt;
    return parsed;
}

// What the state files may hold (more is no file of the program's): a
// spool of a hundred thousand long links.
constexpr qint64 longestspool = 64 * 1024 * 1024;

QString documentsfolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// Where downloads go until a stored setting names a folder: the desktop's
// download folder (made when missing), not whatever directory the program
// was started in.
QString downloadsfolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!folder.isEmpty()) QDir().mkpath(folder);
    return folder;
}
} // namespace

QString varspath() {
    return platform::appfile(QStringLiteral("vars.ini"));
}
QString spoolpath() {
    return platform::appfile(QStringLiteral("spool.ini"));
}

void readvars() {
    quillharbor& form = mainwindow();
    form.downloaddir->setPath(downloadsfolder());
    const auto lines = platform::readlines(varspath(), /*skipmark=*/true, platform::smallfile);
    if (!lines) // a missing or unusable file applies nothing more
        return;
    for (const QString& line : *lines) {
        // Key before the first "=", value everything after it, so a password
        // or a folder holding "=" comes back whole. A line without "=" names
        // no setting and is passed over.
        const qsizetype split = line.indexOf(QLatin1Char('='));
        if (split < 0) continue;
        const QString key = line.left(split);
        const QString value = line.mid(split + 1);

        if (key == QLatin1String("user")) {
            form.usuario->setText(value);
            if (!value.isEmpty()) form.password->setFocus(); // focus starts in the password box
        } else if (key == QLatin1String("external1")) {
            // Only the number 1 ticks the box; other numbers and non-numbers do nothing.
            if (number(value) == 1.0) {
                form.Check1->setValue(1);
                regtools::detectmanagers();
            }
        } else if (key == QLatin1String("pass")) {
            form.password->setText(value);
        } else if (key == QLatin1String("autostart")) {
            // 0 and 1 are the box's states; any other value leaves it as it is.
            const auto state = number(value);
            if (state == 0.0 || state == 1.0) form.Check2->setValue(int(*state));
        } else if (key == QLatin1String("downloaddir")) {
            // An unusable folder leaves the directory list where it is.
            form.downloaddir->setPath(value.isEmpty() ? documentsfolder() : value);
        } else if (key == QLatin1String("umsg")) {
            // 1: the create-user hint is done with. Any other number shows it;
            // a value that is not a number is passed over.
            const auto flag = number(value);
            if (flag == 1.0)
                umsgflag = 1;
            else if (flag)
                createuser::Show();
        }
    }
}

void readspool() {
    const auto lines = platform::readlines(spoolpath(), /*skipmark=*/true, longestspool);
    if (!lines) return;
    for (const QString& line : *lines)
        mainwindow().spoollist->AddItem(line);
    spoolfile().forget();
}

bool writevars() {
    const quillharbor& form = mainwindow();
    const QStringList lines{
        QStringLiteral("user=") + form.usuario->text(),
        QStringLiteral("pass=") +
            storedpassword::forfile(form.usuario->text(), form.password->text()),
        QStringLiteral("downloaddir=") + form.downloaddir->Path(),
        QStringLiteral("external1=") + QString::number(form.Check1->Value()),
        QStringLiteral("umsg=") + QString::number(umsgflag),
        QStringLiteral("autostart=") + QString::number(form.Check2->Value()),
    };
    // A password the keyring does not hold is in clear text: only the owner
    // may read the file.
    return platform::writelines(varspath(), lines, true);
}

platform::FollowingFile& spoolfile() {
    // Links may carry access tokens: only the owner may read the file. A
    // line break inside a link is stored percent-encoded, so the link stays
    // one line and reads back as one entry.
    static auto* file =
        new platform::FollowingFile([] { return hasmainwindow() ? spoolpath() : QString(); },
                                    [] {
                                        QStringList lines = comandospool::spoolentries();
                                        for (QString& line : lines)
                                            line = platform::oneline(line);
                                        return lines;
                                    },
                                    true);
    return *file;
}

} // namespace principal

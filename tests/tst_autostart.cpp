// Starting at login: the autostart entry follows Check2, and a start with the
// box ticked writes it again with the program's current location.
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "platform/autostart.h"
#include "platform/paths.h"
#include "support/systemfolders.h"
#include "support/testsupport.h"

#include <QtTest>

using namespace testsupport;

namespace {
QString entry(const SystemFolders& system) {
    return system.confighome() + QStringLiteral("/autostart/quillharbor.desktop");
}

QByteArray read(const QString& path) {
    QFile in(path);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

QByteArray execline(const QString& program) {
    return "\nExec=\"" + program.toUtf8() + "\"\n";
}
} // namespace

class Autostart : public QObject {
    Q_OBJECT
  private slots:
    void tickingWritesAndUntickingRemoves() {
        SystemFolders system;
        auto form = freshwindow();
        form->Check2->click();
        const QByteArray text = read(entry(system));
        QVERIFY2(text.startsWith("[Desktop Entry]\nType=Application\nName=Quillharbor\n"), text);
        QVERIFY(QFileInfo(platform::exepath()).isAbsolute());
        QVERIFY2(text.contains(execline(platform::exepath())), text);

        form->Check2->click();
        QVERIFY(!QFile::exists(entry(system)));
        // Again, and an untick with nothing to remove: silent both times.
        form->Check2->setValue(1);
        QVERIFY(QFile::exists(entry(system)));
        form->Check2->setValue(0);
        form->Check2->setValue(0);
        QVERIFY(!QFile::exists(entry(system)));
    }

    void startingTickedRewritesTheEntry() {
        SystemFolders system;
        ProgramFolder folder;
        QDir().mkpath(system.confighome() + QStringLiteral("/autostart"));
        QVERIFY(
            platform::setautostart(QStringLiteral("Quillharbor"), QStringLiteral("/old/place")));
        const QByteArray moved = read(entry(system));

        // A stored 0 is no change for the unticked box: the entry is left alone.
        folder.write(QStringLiteral("vars.ini"), "autostart=0\r\n");
        auto form = freshwindow();
        principal::readvars();
        QCOMPARE(read(entry(system)), moved);

        folder.write(QStringLiteral("vars.ini"), "autostart=1\r\n");
        form = freshwindow();
        principal::readvars();
        QVERIFY(read(entry(system)).contains(execline(platform::exepath())));
    }

    void failuresAreIgnored() {
        SystemFolders system;
        // The autostart folder cannot be made: a plain file is in its place.
        QDir().mkpath(system.confighome());
        QFile blocker(system.confighome() + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto form = freshwindow();
        form->Check2->click();
        QCOMPARE(form->Check2->Value(), 1);
        form->Check2->click();
        QCOMPARE(form->Check2->Value(), 0);
    }

    void awkwardProgramPaths_data() {
        // As desktop entries require: quoted, ", `, $ and \ escaped inside the
        // quotes, % doubled, and then every backslash of the value doubled.
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
        QVERIFY(platform::setautostart(QStringLiteral("Quillharbor"), program));
        QVERIFY2(read(entry(system)).contains("\nExec=" + exec + "\n"), read(entry(system)));
    }
};

QTEST_MAIN(Autostart)
#include "tst_autostart.moc"

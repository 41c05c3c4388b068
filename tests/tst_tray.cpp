// The tray icon: minimising hides the window behind one icon, a left click
// on it brings the window back, other clicks do nothing; without a tray the
// window only minimises.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "support/testsupport.h"
#include "system/tray.h"

#include <QSystemTrayIcon>
#include <QtTest>

using namespace testsupport;

namespace {
void minimise(quillharbor& form) {
    form.setWindowState(form.windowState() | Qt::WindowMinimized);
}

QSystemTrayIcon* icon(const quillharbor& form) {
    return platform::trayicon(&form, 1);
}

bool restored(const quillharbor& form) {
    return form.isVisible() && !form.isMinimized();
}
} // namespace

class Tray : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { platform::settrayavailable(std::nullopt); }

    void minimiseRestoreMinimiseWithOneIcon() {
        platform::settrayavailable(true);
        auto form = freshwindow();
        form->Show();
        QVERIFY(!icon(*form));

        minimise(*form);
        QVERIFY(!form->isVisible());
        QCOMPARE(platform::trayiconcount(), 1);
        QVERIFY(icon(*form));
        QCOMPARE(icon(*form)->toolTip(), QStringLiteral("Quillharbor 0.9.9"));
        QVERIFY(!icon(*form)->icon().isNull());

        // Right, middle and double clicks and plain moves over the icon do nothing.
        for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick,
                            QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Unknown})
            emit icon(*form)->activated(reason);
        pump(50);
        QVERIFY(!form->isVisible());

        // The left button released over it: shown, normal, in front.
        emit icon(*form)->activated(QSystemTrayIcon::Trigger);
        QVERIFY(restored(*form));
        QVERIFY(waitfor([&] { return form->isActiveWindow(); }));
        QCOMPARE(platform::trayiconcount(), 1); // restoring leaves the icon up

        // A click while the window is in plain sight changes nothing.
        emit icon(*form)->activated(QSystemTrayIcon::Trigger);
        QVERIFY(restored(*form));

        minimise(*form);
        QVERIFY(!form->isVisible());
        QCOMPARE(platform::trayiconcount(), 1);
        emit icon(*form)->activated(QSystemTrayIcon::Trigger);
        QVERIFY(restored(*form));

        // Shutdown takes it down; a second removal is harmless.
        form->deleteicon();
        QCOMPARE(platform::trayiconcount(), 0);
        form->deleteicon();
        QCOMPARE(platform::trayiconcount(), 0);
    }

    void startingMinimisedEndsInTheTray() {
        // Auto-login minimises the window before it is first shown.
        platform::settrayavailable(true);
        auto form = freshwindow();
        minimise(*form);
        form->Show();
        QVERIFY(!form->isVisible());
        QCOMPARE(platform::trayiconcount(), 1);
        emit icon(*form)->activated(QSystemTrayIcon::Trigger);
        QVERIFY(restored(*form));
        form->deleteicon();
    }

    void withoutATrayTheWindowOnlyMinimises() {
        platform::settrayavailable(false);
        QVERIFY(!tray::hidesonminimise());
        auto form = freshwindow();
        form->Show();
        minimise(*form);
        QVERIFY(form->isVisible());
        QVERIFY(form->isMinimized());
        // Should a tray turn up later, its icon still brings the window back.
        tray::iconmessage(*form, platform::WM_RBUTTONUP);
        QVERIFY(form->isMinimized());
        tray::iconmessage(*form, platform::WM_LBUTTONUP);
        QVERIFY(restored(*form));
        form->deleteicon();
        QCOMPARE(platform::trayiconcount(), 0);
    }
};

QTEST_MAIN(Tray)
#include "tst_tray.moc"

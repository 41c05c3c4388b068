// The About window: its texts, and that it holds the whole program while open.
#include "app/quillharbor.h"
#include "log/logs.h"
#include "platform/shell.h"
#include "platform/wncrypt.h"
#include "support/testsupport.h"
#include "windows/acercade.h"

#include <QtTest>

using namespace testsupport;

namespace {
// A click as the window system delivers it, so a modal window can refuse it.
void systemclick(QWidget* window, QWidget* control) {
    const QPoint centre = control->mapTo(window, control->rect().center());
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, centre);
}
} // namespace

class About : public QObject {
    Q_OBJECT
  private slots:
    void versionLine() {
        QCOMPARE(AcercaDe::versionline(1, 2, 3), QStringLiteral("QHB 1.2 Rev. 3"));
        QCOMPARE(AcercaDe::versionline(0, 10, 12), QStringLiteral("QHB 0.10 Rev. 12"));
    }

    void openedModalByTheLogo() {
        // The outside component is not there: the window opens all the same.
        platform::setwncryptlibrary(QStringLiteral("quillharbor-no-such-component"));
        ProgramFolder folder;
        auto form = freshwindow();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        struct Seen {
            bool inspected = false;
            bool modal = false;
            QString caption = QStringLiteral("?"), version, component = QStringLiteral("?"), button,
                    link;
            QSize picture;
            bool mainwindowrefused = false;
        } seen;

        // Runs inside the window's own event loop, then closes it with its button.
        QTimer::singleShot(0, [&] {
            AcercaDe* window = AcercaDe::instance();
            if (!window || !QTest::qWaitForWindowExposed(window)) return;
            seen.inspected = true;
            seen.modal = QApplication::activeModalWidget() == window &&
                         window->windowModality() == Qt::ApplicationModal;
            seen.caption = window->windowTitle();
            seen.version = window->Label2->text();
            seen.component = window->Label3->text();
            seen.button = window->Command1->text();
            seen.link = window->Label1->text();
            seen.picture = window->Image1->pixmap().size();
            // A click on the main window is refused while the window is open.
            systemclick(form.get(), form->vlog);
            QCoreApplication::processEvents();
            seen.mainwindowrefused = logs::instance() == nullptr;
            QTest::mouseClick(window->Command1, Qt::LeftButton);
        });
        // Whatever happens above, the test does not hang in the window.
        QTimer::singleShot(30000, [] {
            if (AcercaDe::instance()) AcercaDe::instance()->close();
        });
        QTest::mouseDClick(form->logo, Qt::LeftButton);

        QVERIFY(seen.inspected);
        QVERIFY(seen.modal);
        QCOMPARE(seen.caption, QString());
        QCOMPARE(seen.version, QStringLiteral("QHB 0.9 Rev. 9"));
        QCOMPARE(seen.component, QString());
        QCOMPARE(seen.button, QStringLiteral("Salir"));
        QCOMPARE(seen.link, platform::website());
        QCOMPARE(seen.picture, QSize(320, 200));
        QVERIFY(seen.mainwindowrefused);
        QVERIFY(!AcercaDe::instance());

        // Closed, the main window reacts again.
        systemclick(form.get(), form->vlog);
        QVERIFY(waitfor([] { return logs::instance() != nullptr; }));
        logs::instance()->close();
    }
};

QTEST_MAIN(About)
#include "tst_about.moc"

// The string table in both languages, and the create-user window built from it.
#include "platform/resstrings.h"
#include "platform/shell.h"
#include "support/testsupport.h"
#include "support/urlcatcher.h"
#include "windows/createuser.h"

#include <QtTest>

using platform::Language;
using platform::LoadResString;

class Strings : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { platform::resetlanguage(); }

    void everyIdInBothLanguages() {
        QCOMPARE(platform::systemlanguage(), Language::English); // tests run in en_US
        for (Language language : {Language::English, Language::Spanish}) {
            platform::setlanguage(language);
            for (int id = 101; id <= 129; ++id)
                QVERIFY2(!LoadResString(id).isEmpty(), qPrintable(QString::number(id)));
            QCOMPARE(LoadResString(100), QString());
            QCOMPARE(LoadResString(130), QString());
        }
    }

    void textsAreTheProductsOwn() {
        platform::setlanguage(Language::English);
        QCOMPARE(LoadResString(110), "WARNING ! Write your Password");
        QCOMPARE(LoadResString(123), "Selec one download mannager");
        QCOMPARE(LoadResString(124), "You only need to create a user account with the "
                                     "corresponding password at " +
                                         platform::website() + " website. It is free.");
        platform::setlanguage(Language::Spanish);
        QCOMPARE(LoadResString(104), "Contraseña");
        QCOMPARE(LoadResString(114), "Intentado Reconexión");
        QCOMPARE(LoadResString(120), "Porfavor, Actualiza Tu Software");
        QCOMPARE(LoadResString(129), "esta opción guarda la clave y el usuario");
        QVERIFY(LoadResString(124).endsWith(QUrl(platform::website()).host() + '.'));
    }

    void createUserWindow() {
        testsupport::UrlCatcher browser("http");
        platform::setlanguage(Language::Spanish);
        createuser::Show();
        createuser::Show(); // still one window
        noticewindow* window = createuser::instance();
        QVERIFY(window && window->isVisible() && !window->isModal());
        QCOMPARE(window->windowTitle(), "Crea tu usuario");
        QCOMPARE(window->closewin->text(), "Cerrar Ventana");
        QCOMPARE(window->msg->text(), LoadResString(124));
        QTest::mouseClick(window->Label1, Qt::LeftButton);
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(platform::website())});
        window->closewin->click();
        QVERIFY(testsupport::waitfor([] { return createuser::instance() == nullptr; }));
    }
};

QTEST_MAIN(Strings)
#include "tst_strings.moc"

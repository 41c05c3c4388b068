// The string table in both languages, and the create-user window built from it.
#include "platform/resstrings.h"
#include "platform/shell.h"
#include "support/testsupport.h"
#include "windows/createuser.h"

#include <QDesktopServices>
#include <QtTest>

using platform::Language;
using platform::LoadResString;

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

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
        QCOMPARE(LoadResString(102), QStringLiteral("Disconect"));
        QCOMPARE(LoadResString(110), QStringLiteral("WARNING ! Write your Password"));
        QCOMPARE(LoadResString(117), QStringLiteral("Save Downloads Dir "));
        QCOMPARE(LoadResString(123), QStringLiteral("Selec one download mannager"));
        QCOMPARE(LoadResString(124), QStringLiteral("You only need to create a user account with the "
                                                    "corresponding password at ") +
                                         platform::website() + QStringLiteral(" website. It is free."));
        platform::setlanguage(Language::Spanish);
        QCOMPARE(LoadResString(104), QStringLiteral("Contraseña"));
        QCOMPARE(LoadResString(114), QStringLiteral("Intentado Reconexión"));
        QCOMPARE(LoadResString(120), QStringLiteral("Porfavor, Actualiza Tu Software"));
        QCOMPARE(LoadResString(129), QStringLiteral("esta opción guarda la clave y el usuario"));
        QVERIFY(LoadResString(124).endsWith(QUrl(platform::website()).host() + QLatin1Char('.')));
    }

    void createUserWindow() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        platform::setlanguage(Language::Spanish);
        createuser::Show();
        createuser::Show(); // still one window
        createuser* window = createuser::instance();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Crea tu usuario"));
        QCOMPARE(window->closewin->text(), QStringLiteral("Cerrar Ventana"));
        QCOMPARE(window->Label2->text(), LoadResString(124));
        QTest::mouseClick(window->Label1, Qt::LeftButton);
        QCOMPARE(catcher.opened, QList<QUrl>({QUrl(platform::website())}));
        QVERIFY(!window->isModal());
        window->closewin->click();
        QVERIFY(testsupport::waitfor([] { return createuser::instance() == nullptr; }));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }
};

QTEST_MAIN(Strings)
#include "tst_strings.moc"

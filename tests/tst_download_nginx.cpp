// The downloader against a real nginx with byte ranges: the file arrives
// byte for byte, also beyond the 32-bit byte counts.
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "support/downloadrig.h"
#include "support/nginx.h"

#include <QCryptographicHash>
#include <QtTest>

using testsupport::DownloadRig;

class tst_download_nginx : public QObject {
    Q_OBJECT

  private slots:
    void bytewise() {
        DownloadRig rig;
        const QByteArray bytes = rig.put(QStringLiteral("setup.bin"), 3 * 1024 * 1024 + 17);
        testsupport::Nginx nginx(rig.served.path());
        QVERIFY2(nginx.start(), qPrintable(nginx.error()));
        rig.download(nginx.url(QStringLiteral("setup.bin")));
        QCOMPARE(rig.attempts, QList<QByteArray>{"bytes=0-"});
        const QByteArray got = rig.savedbytes(QStringLiteral("setup.bin"));
        QCOMPARE(got.size(), bytes.size());
        qsizetype differs = 0;
        while (differs < got.size() && got.at(differs) == bytes.at(differs))
            ++differs;
        QCOMPARE(differs, bytes.size());
        QCOMPARE(rig.window->descarga->title(), QStringLiteral("Current Download [ninguna]"));
        QCOMPARE(rig.window->bajando, false);
    }
};

QTEST_MAIN(tst_download_nginx)
#include "tst_download_nginx.moc"

// Byte counts beyond 32 bits: a body cut past 2 GiB resumes at the right
// offset and the file ends complete. The served file is sparse, with marked
// regions that must land at their offsets.
#include "app/quillharbor.h"
#include "support/downloadrig.h"

#include <QFile>
#include <QtTest>

using testsupport::DownloadRig;

namespace {
constexpr qint64 twogib = qint64(1) << 31;
constexpr qint64 size = twogib + 3 * 1024 * 1024 + 7;
const qint64 marks[] = {0, twogib - 100000, twogib + 1000, size - 70000};
constexpr qint64 marklength = 70000;
} // namespace

class tst_download_large : public QObject {
    Q_OBJECT

  private slots:
    void beyond32bits() {
        DownloadRig rig;
        const QString served = rig.served.filePath(QStringLiteral("big.bin"));
        {
            QFile out(served);
            QVERIFY(out.open(QIODevice::WriteOnly));
            QVERIFY(out.resize(size));
            int seed = 0;
            for (qint64 at : marks) {
                QVERIFY(out.seek(at));
                out.write(DownloadRig::pattern(marklength, ++seed));
            }
        }
        rig.server.setplan({[] {
                                FileServer::Faults f;
                                f.cutafter = twogib + 5000;
                                return f;
                            }(),
                            FileServer::Faults()});
        rig.download(QStringLiteral("big.bin"));
        QCOMPARE(rig.attempts, (QList<QByteArray>{"bytes=0-", "bytes=2147484552-"}));
        QFile in(rig.saved(QStringLiteral("big.bin")));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.size(), size);
        int seed = 0;
        for (qint64 at : marks) {
            QVERIFY(in.seek(at));
            QVERIFY(in.read(marklength) == DownloadRig::pattern(marklength, ++seed));
        }
        in.close();
        QFile::remove(rig.saved(QStringLiteral("big.bin")));
        QCOMPARE(rig.window->bajando, false);
        QCOMPARE(rig.window->ProgressBar->Max(), double(size));
    }
};

QTEST_MAIN(tst_download_large)
#include "tst_download_large.moc"

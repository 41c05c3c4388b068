// Byte counts beyond 32 bits: a body cut past 2 GiB resumes beyond 2 GiB and
// the file ends complete. The served file is sparse, with marked regions that
// must land at their offsets.
#include "app/quillharbor.h"
#include "support/downloadrig.h"

#include <QFile>
#include <QtTest>

using testsupport::DownloadRig;

class tst_download_large : public QObject {
    Q_OBJECT

  private slots:
    void beyond32bits() {
        constexpr qint64 twogib = qint64(1) << 31, size = twogib + 16 * 1024 * 1024 + 7;
        constexpr qint64 cut = twogib + 8 * 1024 * 1024;
        constexpr qint64 marks[] = {0, twogib - 100000, twogib + 1000, size - 70000},
                         length = 70000;
        DownloadRig rig;
        QFile served(rig.served.filePath("big.bin"));
        QVERIFY(served.open(QIODevice::WriteOnly) && served.resize(size));
        for (int i = 0; i < 4; ++i)
            QVERIFY(served.seek(marks[i]) &&
                    served.write(DownloadRig::pattern(length, i)) == length);
        served.close();
        rig.server.setplan({{.cutafter = cut}, {}});
        rig.download("big.bin");
        QCOMPARE(rig.attempts.size(), 2);
        QCOMPARE(rig.attempts[0], QByteArray("bytes=0-"));
        // 4096 before the count written. On a loaded machine that count has
        // been seen to fall short of the cut (bytes the server sent before its
        // close never reached the reply), but the cut is far enough past 2 GiB.
        const auto resumed = QRegularExpression("^bytes=(\\d+)-$").match(rig.attempts[1]);
        QVERIFY2(resumed.hasMatch(), rig.attempts[1]);
        QVERIFY2(resumed.captured(1).toLongLong() > twogib &&
                     resumed.captured(1).toLongLong() <= cut - 4096,
                 rig.attempts[1]);
        QFile in(rig.saved("big.bin"));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.size(), size);
        for (int i = 0; i < 4; ++i)
            QVERIFY(in.seek(marks[i]) && in.read(length) == DownloadRig::pattern(length, i));
        in.remove();
        QCOMPARE(rig.window->bajando, false);
        QCOMPARE(rig.window->ProgressBar->Max(), double(size));
    }
};

QTEST_MAIN(tst_download_large)
#include "tst_download_large.moc"

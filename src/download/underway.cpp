#include "download/underway.h"

#include "platform/paths.h"
#include "platform/textfile.h"

#include <QFile>

namespace underway {

namespace {
struct record {
    QString link;
    int runs = 0;
    qint64 partsize = -1;
    QString name;
};

// The record is replaced whole or removed, each in one step, so a kill at
// any moment leaves the old record or the new one; anything unreadable
// counts as no record.
record readrecord() {
    const auto lines = platform::readlines(recordpath());
    if (!lines || lines->size() < 3 || lines->size() > 4) return {};
    bool runsok = false, sizeok = false;
    record found{lines->at(0), lines->at(1).toInt(&runsok), lines->at(2).toLongLong(&sizeok),
                 lines->value(3)};
    if (!runsok || !sizeok) return {};
    return found;
}

bool about(const record& r, const QString& link) {
    return !r.link.isEmpty() && r.link == platform::oneline(link);
}
} // namespace

QString recordpath() {
    return platform::appfile(QStringLiteral("transfer.ini"));
}

int runsbefore(const QString& link, qint64 partsize) {
    const record last = readrecord();
    return about(last, link) && partsize <= last.partsize ? last.runs : 0;
}

QString recordedname(const QString& link) {
    const record last = readrecord();
    return about(last, link) ? last.name : QString();
}

void starts(const QString& link, const QString& name, int runs, qint64 partsize) {
    // Links may carry access tokens: only the owner may read the record.
    platform::writelines(recordpath(),
                         {platform::oneline(link), QString::number(runs + 1),
                          QString::number(partsize), platform::oneline(name)},
                         true);
}

void ended() {
    QFile::remove(recordpath());
}

} // namespace underway

#include "download/underway.h"

#include "platform/paths.h"
#include "platform/textfile.h"

#include <QFile>

namespace underway {

namespace {
// Runs that may end with the same link under way, its partial file not
// growing, before it is given up.
constexpr int mostruns = 3;

struct record {
    QString link;
    int runs = 0;
    qint64 partsize = -1;
};

// The record is replaced whole or removed, each in one step, so a kill at
// any moment leaves the old record or the new one; anything unreadable
// counts as no record.
record readrecord() {
    const auto lines = platform::readlines(recordpath());
    if (!lines || lines->size() != 3) return {};
    bool runsok = false, sizeok = false;
    record found{lines->at(0), lines->at(1).toInt(&runsok), lines->at(2).toLongLong(&sizeok)};
    if (!runsok || !sizeok) return {};
    return found;
}

// The runs in a row, ended by this link without its partial file growing.
int runsbefore(const QString& link, qint64 partsize) {
    const record last = readrecord();
    const bool same = !last.link.isEmpty() && last.link == platform::oneline(link);
    return same && partsize <= last.partsize ? last.runs : 0;
}
} // namespace

QString recordpath() {
    return platform::appfile(QStringLiteral("transfer.ini"));
}

bool starts(const QString& link, qint64 partsize) {
    const int runs = runsbefore(link, partsize);
    if (runs >= mostruns) {
        ended();
        return false;
    }
    // Links may carry access tokens: only the owner may read the record.
    platform::writelines(
        recordpath(),
        {platform::oneline(link), QString::number(runs + 1), QString::number(partsize)}, true);
    return true;
}

void ended() {
    QFile::remove(recordpath());
}

} // namespace underway

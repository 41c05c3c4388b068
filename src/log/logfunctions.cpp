#include "log/logfunctions.h"

#include "platform/controls.h"
#include "platform/inert.h"
#include "platform/paths.h"
#include "platform/resstrings.h"
#include "platform/textfile.h"

#include <QDateTime>
#include <QLocale>
#include <QPlainTextEdit>

namespace logfunctions {

namespace {
const QString crlf = QStringLiteral("\r\n");
// How much of the log's end the log window shows at most.
constexpr qint64 shownbytes = 16 * 1024 * 1024;

// The locale's own separator between hours and minutes, ":" when it has none.
QString timeseparator() {
    const QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
    const qsizetype hour = format.indexOf(QLatin1Char('h'), 0, Qt::CaseInsensitive);
    for (qsizetype i = hour + 1; hour >= 0 && i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c.toLower() == QLatin1Char('h')) continue;
        if (c.toLower() == QLatin1Char('m')) break;
        return c == QLatin1Char('\'') ? QStringLiteral(":") : QString(c);
    }
    return QStringLiteral(":");
}
} // namespace

QString logpath() {
    return platform::appfile(QStringLiteral("log.txt"));
}

QString stamp() {
    const QDateTime now = QDateTime::currentDateTime();
    const QString date = QLocale::system().toString(now.date(), QLocale::ShortFormat);
    const QString time = now.time().toString(QStringLiteral("HH")) + timeseparator() +
                         now.time().toString(QStringLiteral("mm"));
    // Some locales' dates hold direction marks: the log has none.
    QString text = date + QLatin1Char(' ') + time;
    return text.removeIf(platform::misleading);
}

void writelog(const QString& text, qint16 kind, const QString& reason) {
    // A line that cannot be written is skipped: dispatch goes on
    // regardless. Every entry is one line that a terminal only prints: the
    // link keeps its controls and direction marks percent-encoded (the same
    // URL), the reason shows them as U+FFFD. Links may carry access tokens:
    // only the owner may read the log.
    const QString link = platform::inertlink(text);
    QString line;
    if (kind == 1) line = platform::LoadResString(127) + QStringLiteral(" : ") + link;
    if (kind == 2) {
        line = platform::LoadResString(reason.isEmpty() ? 130 : 131) + QStringLiteral(" : ") + link;
        if (!reason.isEmpty()) line += QStringLiteral(" : ") + platform::inert(reason);
    }
    if (!line.isEmpty())
        platform::appendtext(logpath(), stamp() + QStringLiteral(" : ") + line + crlf, true);
    platform::DoEvents();
}

void clearlog(QPlainTextEdit* logfile) {
    // The clear line and an empty line; a file that cannot be written whole
    // keeps its old content.
    platform::writelines(
        logpath(), {stamp() + QStringLiteral(" : ") + platform::LoadResString(128), QString()},
        true);
    showlog(logfile);
}

void showlog(QPlainTextEdit* logfile) {
    if (!logfile) return;
    logfile->clear();
    QString shown;
    // The end of a long log; lines written by anything else shown inert.
    if (const auto lines = platform::lastlines(logpath(), shownbytes))
        for (const QString& line : *lines)
            shown += platform::inert(line) + QLatin1Char('\n');
    logfile->setPlainText(shown);
    platform::DoEvents();
}

} // namespace logfunctions

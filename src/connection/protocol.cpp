#include "connection/protocol.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "connection/pleaseupdate.h"
#include "platform/resstrings.h"
#include "platform/textfile.h"
#include "platform/winsock.h"
#include "queue/comandospool.h"
#include "queue/dispatch.h"

#include <QLocale>
#include <QQueue>
#include <QRegularExpression>
#include <QTime>

using namespace platform;
using principal::connstate;

namespace {

// Spaces only: tabs and other white space go out as typed.
QString trimspaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

bool isrejection(const QString& text) {
    return text == QStringLiteral("ERR:1");
}

bool isversion(const QString& text) {
    return text.left(8).toLower() == QStringLiteral("version:");
}

bool islink(const QString& text) {
    return !isrejection(text) && !isversion(text);
}

// Messages read and not yet handled, oldest first.
QQueue<QString> arrived;
// A handler is taking messages from `arrived`: [0] outside a built-in
// transfer, [1] inside one.
bool draining[2] = {false, false};

void handlemessage(quillharbor& form, const QString& text) {
    // Login rejected: no more retries; the connection is left as it is.
    if (isrejection(text)) {
        form.msg->setForeColor(vbRed);
        form.msg->setText(LoadResString(108));
        connstate = 0;
        form.reintentos->setEnabled(false);
        return;
    }

    // The version the server expects, compared exactly.
    if (isversion(text)) {
        if (text != QStringLiteral("version:") + principal::appversion) pleaseupdate::Show();
        return;
    }

    // Anything else is a link, already in spool.ini.
    form.msg->setForeColor(vbBlack);
    form.msg->setText(protocol::timeofday() + QLatin1Char(' ') + LoadResString(115));
    comandospool::nextlinkfrom(comandospool::origin::filed);
    dispatchlink(text);
}

} // namespace

namespace protocol {

QString timeofday() {
    // The long format without the time zone it carries.
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?\\s*"));
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.replace(zone, QStringLiteral(" "));
    return QLocale::system().toString(QTime::currentTime(), format.trimmed());
}

QStringList waitinglinks() {
    QStringList links;
    for (const QString& text : arrived)
        if (islink(text)) links << text;
    return links;
}

QString loginline(const QString& user, const QString& password) {
    return QStringLiteral("0#") + trimspaces(user) + QLatin1Char(',') + trimspaces(password) +
           QStringLiteral("#\r\n");
}

} // namespace protocol

void quillharbor::alfa_DataArrival(qint64) {
    // One read is one message. A link is in spool.ini from this moment on,
    // and every message waits its turn behind those read before it.
    const QString text = alfa->GetData();
    arrived.enqueue(text);
    if (islink(text)) principal::spoolfile().append(platform::oneline(text));

    // The handler already at work takes it in turn, so the nesting stays
    // bounded however fast messages come. The exception is a message that
    // comes during a built-in transfer: it is handled at once (a link then
    // waits at the end of the spool), with any read before it still waiting.
    bool& busy = draining[bajando ? 1 : 0];
    if (busy) return;
    busy = true;
    while (!arrived.isEmpty()) {
        DoEvents();
        if (arrived.isEmpty()) break; // taken during a transfer that ran meanwhile
        handlemessage(*this, arrived.dequeue());
    }
    busy = false;
}

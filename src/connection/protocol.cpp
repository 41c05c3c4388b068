#include "connection/protocol.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "connection/pleaseupdate.h"
#include "platform/resstrings.h"
#include "platform/winsock.h"
#include "queue/dispatch.h"

#include <QLocale>
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

// The time of day with seconds, in the user's own format but without the
// time zone the long format carries, e.g. 14:03:22.
QString timeofday() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.replace(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?\\s*")), QStringLiteral(" "));
    return QLocale::system().toString(QTime::currentTime(), format.trimmed());
}

} // namespace

namespace protocol {

QString loginline(const QString& user, const QString& password) {
    return QStringLiteral("0#") + trimspaces(user) + QLatin1Char(',') + trimspaces(password) +
           QStringLiteral("#\r\n");
}

} // namespace protocol

void quillharbor::alfa_DataArrival(qint64) {
    // 1. One read is one message.
    const QString text = alfa->GetData();
    DoEvents();

    // 2. Login rejected: no more retries; the connection is left as it is.
    if (text == QStringLiteral("ERR:1")) {
        msg->setForeColor(vbRed);
        msg->setText(LoadResString(108));
        connstate = 0;
        reintentos->setEnabled(false);
        return;
    }

    // 3. The version the server expects, compared exactly.
    if (text.left(8).toLower() == QStringLiteral("version:")) {
        if (text != QStringLiteral("version:") + principal::appversion) pleaseupdate::Show();
        return;
    }

    // 4. Anything else is a link.
    msg->setForeColor(vbBlack);
    msg->setText(timeofday() + QLatin1Char(' ') + LoadResString(115));
    dispatchlink(text);
}

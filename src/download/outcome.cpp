#include "download/outcome.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "connection/protocol.h"
#include "download/descargas.h"
#include "download/partial.h"
#include "log/logfunctions.h"
#include "platform/inert.h"
#include "platform/resstrings.h"
#include "platform/textfile.h"
#include "system/tray.h"

namespace descargas {

namespace {
// The longest name (or link) an outcome shows.
constexpr qsizetype longestname = 80;

// The name as the user may read it safely: inert, short, and with bytes that
// were no UTF-8 as "%XX"; the link without its secrets when it names no file.
QString readablename(const QString& link, QString name) {
    if (name.isEmpty()) name = linkname(link);
    if (name.isEmpty()) name = QString::fromLatin1(originof(link));
    return platform::inert(platform::percentbytes(name), longestname);
}
} // namespace

QString outcometext(const QString& link, const failure& result, const QString& name) {
    if (result.why == reason::none)
        return platform::LoadResString(130) + QLatin1Char(' ') + readablename(link, name);
    return platform::LoadResString(131) + QLatin1Char(' ') + readablename(link, name) +
           QLatin1String(": ") + reasontext(result);
}

void outcome(const QString& link, const failure& result, const QString& name) {
    quillharbor& form = principal::mainwindow();
    const bool saved = result.why == reason::none;
    const QString text = outcometext(link, result, name);
    form.msg->setForeColor(saved ? platform::vbBlack : platform::vbRed);
    form.msg->setText(protocol::timeofday() + QLatin1Char(' ') + text);
    tray::tell(form, text, saved);
    logfunctions::writelog(link, 2, reasontext(result));
}

} // namespace descargas

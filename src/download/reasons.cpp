#include "download/reasons.h"

#include "download/descargas.h"
#include "platform/inert.h"
#include "platform/resstrings.h"

namespace descargas {

namespace {
// The string table's text for each reason that has a fixed text.
int textid(reason why) {
    switch (why) {
    case reason::none:
    case reason::status:
        return 0;
    case reason::nolength:
        return 132;
    case reason::hostnotfound:
        return 133;
    case reason::cannotconnect:
        return 134;
    case reason::certificate:
        return 135;
    case reason::proxyrefused:
        return 136;
    case reason::proxyunreachable:
        return 137;
    case reason::headertoolarge:
        return 138;
    case reason::timedout:
        return 139;
    case reason::redirects:
        return 140;
    case reason::badanswer:
        return 141;
    case reason::network:
        return 142;
    case reason::diskfull:
        return 143;
    case reason::diskerror:
        return 144;
    case reason::changed:
        return 145;
    case reason::gaveup:
        return 146;
    case reason::cancelled:
        return 147;
    case reason::namerefused:
        return 148;
    case reason::notregular:
        return 149;
    case reason::endedprogram:
        return 150;
    case reason::scheme:
        return 151;
    case reason::noname:
        return 156;
    case reason::replaced:
        return 157;
    case reason::tooslow:
        return 158;
    }
    return 142;
}
} // namespace

QString reasontext(const failure& f) {
    QString text;
    if (f.why == reason::status) {
        // The server's own words where it sent some (HTTP/2 sends none),
        // inert and short.
        text = QString::number(f.status);
        const QString phrase = platform::inert(f.statustext.simplified(), 60);
        if (!phrase.isEmpty()) text += QLatin1Char(' ') + phrase;
    } else if (const int id = textid(f.why)) {
        text = platform::LoadResString(id);
    }
    if (f.kept > 0)
        text += QLatin1String(" (") +
                platform::LoadResString(159).replace(QLatin1String("{size}"),
                                                     sizetext(double(f.kept))) +
                QLatin1Char(')');
    return text;
}

reason fromclient(platform::Inet::Error error) {
    using E = platform::Inet::Error;
    switch (error) {
    case E::none:
        return reason::none;
    case E::hostnotfound:
        return reason::hostnotfound;
    case E::cannotconnect:
        return reason::cannotconnect;
    case E::certificate:
        return reason::certificate;
    case E::proxyrefused:
        return reason::proxyrefused;
    case E::proxyunreachable:
        return reason::proxyunreachable;
    case E::headertoolarge:
        return reason::headertoolarge;
    case E::timedout:
        return reason::timedout;
    case E::redirects:
        return reason::redirects;
    case E::badanswer:
        return reason::badanswer;
    case E::other:
        return reason::network;
    }
    return reason::network;
}

} // namespace descargas

#pragma once
#include "platform/inet.h"

#include <QString>

// Why a transfer ended without its file, and the one short text for each
// reason that the alerts line, the log and the tray message all show.
namespace descargas {

enum class reason {
    none, // saved
    // The server's answer.
    status,   // a status that brings no file ("404 Not Found")
    nolength, // no usable length
    // The HTTP client (platform::Inet::Error).
    hostnotfound,
    cannotconnect,
    certificate,
    proxyrefused,
    proxyunreachable,
    headertoolarge,
    timedout,
    redirects,
    badanswer,
    network,
    // The disk.
    diskfull,
    diskerror,
    // The transfer itself.
    changed,
    gaveup,
    cancelled,
    namerefused,
    notregular,
    endedprogram,
    scheme,
    noname,   // the link names no file, nor does the server
    replaced, // something else took the partial file's place
    tooslow,
};

struct failure {
    reason why = reason::none;
    int status = 0;     // for reason::status: the status code
    QString statustext; // and the server's reason phrase, "" when it sent none
    qint64 kept = 0;    // bytes kept in the partial file for another time
};

// The reason in the user's language: "404 Not Found", "certificate not
// trusted", "disk full (12.4 MB kept)", ...; "" for reason::none.
QString reasontext(const failure& f);

// The reason for a failure the HTTP client reports.
reason fromclient(platform::Inet::Error error);

} // namespace descargas

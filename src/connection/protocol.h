#pragma once
#include <QString>
#include <QStringList>

// The agent's side of the line protocol with the authentication server.
namespace protocol {

// The one line the agent sends: "0#" user "," password "#" CR LF, with only
// spaces trimmed from both ends of the user name and the password.
QString loginline(const QString& user, const QString& password);

// The time of day with seconds, in the user's own format, as the alerts
// line shows it (e.g. 14:03:22).
QString timeofday();

// The links read from the server that still wait for their turn, oldest first.
QStringList waitinglinks();

} // namespace protocol

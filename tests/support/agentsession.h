#pragma once
// The main window in a program folder of its own, pointed at a reference
// line server in this process, with every text the alerts box showed.
#include "app/quillharbor.h"
#include "lineserver.h"
#include "support/testsupport.h"

#include <QStringList>

namespace testsupport {

class AgentSession {
  public:
    // The server accepts alice/secret and sends messages without pauses.
    AgentSession();
    ~AgentSession();

    // Types the user and password and clicks Connect.
    void connectas(const QString& user, const QString& pass);
    // Logs in as alice; true once the login line was sent.
    bool login();
    // True when `text` was shown in the alerts box (since the last clear).
    bool shown(const QString& text) const { return texts.contains(text); }

    ProgramFolder folder;
    QStringList texts;
    LineServer server;
    std::unique_ptr<quillharbor> form;
};

} // namespace testsupport

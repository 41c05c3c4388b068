#pragma once
// The main window in a program folder of its own, pointed at a reference
// line server in this process, with every text the alerts box showed.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "lineserver.h"
#include "platform/resstrings.h"
#include "platform/winsock.h"
#include "support/testsupport.h"

#include <QStringList>

namespace testsupport {

class AgentSession {
  public:
    // The server takes alice/secret and does not pause; polls come 5x as often.
    AgentSession() : form(freshwindow()) {
        server.addaccount("alice", "secret");
        server.setpause(0);
        server.listen();
        form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
        form->alfa->RemotePort = server.port();
        form->statustimer->setInterval(100);
        QObject::connect(form->msg, &QLineEdit::textChanged,
                         [this](const QString& text) { texts << text; });
        form->show();
    }
    ~AgentSession() { form->desconectar_Click(); }

    void connectas(const QString& user, const QString& pass) {
        form->usuario->setText(user);
        form->password->setText(pass);
        form->conectar->click();
    }
    // Logs in as alice; true once the login line was sent.
    bool login() {
        connectas("alice", "secret");
        return waitfor([] { return principal::connstate == 2; }, 20000);
    }
    // String `id` was shown in the alerts box (since the last clear), or is shown now.
    bool shown(int id) const { return texts.contains(platform::LoadResString(id)); }
    bool showing(int id) const { return form->msg->text() == platform::LoadResString(id); }

    // "connstate 2, socket 7, green, disconnect": the indicator, enabled
    // buttons, and "retrying" while reintentos runs.
    QString state() const {
        const auto colour = form->Shape2->FillColor();
        QStringList parts{QString("connstate %1").arg(principal::connstate),
                          QString("socket %1").arg(form->alfa->State()),
                          colour == platform::vbGreen ? "green"
                          : colour == platform::vbRed ? "red"
                                                      : "?"};
        if (form->conectar->isEnabled()) parts << "connect";
        if (form->desconectar->isEnabled()) parts << "disconnect";
        if (form->reintentos->Enabled()) parts << "retrying";
        return parts.join(", ");
    }
    // Waits until state() is `expected`, telling what it was otherwise.
    bool reaches(const QString& expected) const {
        if (waitfor([&] { return state() == expected; })) return true;
        qWarning("state: %s", qPrintable(state()));
        return false;
    }

    ProgramFolder folder;
    QStringList texts;
    LineServer server;
    std::unique_ptr<quillharbor> form;
};

} // namespace testsupport

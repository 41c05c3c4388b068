#include "support/agentsession.h"

#include "app/principal.h"
#include "platform/winsock.h"

namespace testsupport {

AgentSession::AgentSession() : form(freshwindow()) {
    server.addaccount(QStringLiteral("alice"), QStringLiteral("secret"));
    server.setpause(0);
    server.listen();
    form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
    form->alfa->RemotePort = server.port();
    QObject::connect(form->msg, &QLineEdit::textChanged,
                     [this](const QString& text) { texts << text; });
    form->show();
}

AgentSession::~AgentSession() {
    form->desconectar_Click();
}

void AgentSession::connectas(const QString& user, const QString& pass) {
    form->usuario->setText(user);
    form->password->setText(pass);
    form->conectar->click();
}

bool AgentSession::login() {
    connectas(QStringLiteral("alice"), QStringLiteral("secret"));
    return waitfor([] { return principal::connstate == 2; }, 20000);
}

} // namespace testsupport

#include "app/principal.h"
#include "app/quillharbor.h"
#include "platform/winsock.h"

void quillharbor::conectar_Click() {}
void quillharbor::desconectar_Click() {}
void quillharbor::password_KeyDown(int, int) {}
void quillharbor::statustimer_Timer() {}
void quillharbor::statuspoll(platform::Winsock&) {}
void quillharbor::reintentos_Timer() {}

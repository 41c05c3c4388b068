#include "queue/comandospool.h"

#include "app/quillharbor.h"

namespace comandospool {
void spoolnext() {}
void spoolup() {}
void spooldown() {}
void spoolcancel() {}
} // namespace comandospool

void quillharbor::spoollist_Click() {}
void quillharbor::sup_Click() { comandospool::spoolup(); }
void quillharbor::sdown_Click() { comandospool::spooldown(); }
void quillharbor::scancel_Click() { comandospool::spoolcancel(); }

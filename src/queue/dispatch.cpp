#include "queue/dispatch.h"

void dispatchlink(const QString&) {}

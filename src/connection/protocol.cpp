#include "app/quillharbor.h"
#include "platform/winsock.h"

void quillharbor::alfa_DataArrival(qint64) {}

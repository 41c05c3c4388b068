#include "system/regtools.h"

#include "app/quillharbor.h"

namespace regtools {
QString dapath;
QString grpath;
void detectmanagers() {}
void autostarton() {}
void autostartoff() {}
} // namespace regtools

void quillharbor::Check1_Click() {}
void quillharbor::Check2_Click() {}

#include "app/quillharbor.h"

void quillharbor::vlog_Click() {}

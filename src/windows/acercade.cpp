#include "app/quillharbor.h"

void quillharbor::logo_DblClick() {}

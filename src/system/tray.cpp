#include "app/quillharbor.h"

void quillharbor::addicon() {}
void quillharbor::deleteicon() {}

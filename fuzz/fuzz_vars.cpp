// The settings reader: any bytes as vars.ini, applied to the real main window.
#include "app/statefiles.h"
#include "fuzzagent.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzagent::start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzagent::write(QStringLiteral("vars.ini"), data, size);
    principal::readvars();
    // Windows the settings opened get their events.
    QCoreApplication::processEvents();
    return 0;
}

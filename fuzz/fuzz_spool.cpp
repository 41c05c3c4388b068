// The spool reader: any bytes as spool.ini, appended to the real spool list.
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "fuzzagent.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzagent::start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzagent::write(QStringLiteral("spool.ini"), data, size);
    principal::readspool();
    platform::ListBox& list = *fuzzagent::window().spoollist;
    while (list.ListCount() > 0)
        list.RemoveItem(0);
    return 0;
}

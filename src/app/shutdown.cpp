#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "platform/winsock.h"

void quillharbor::Form_Unload() {
    // 1, 2. Settings and spool first, before anything is stopped.
    principal::writevars();
    principal::writespool(spoollist->items());
    // 3.
    const int entries = spoollist->ListCount();
    for (int i = 0; i < entries; ++i)
        spoollist->RemoveItem(0);
    // 4.
    if (bajando)
        CancelButton_Click();
    // 5, 6. No word to the server.
    deleteicon();
    alfa->Close();
    // 7.
    principal::endprogram();
}

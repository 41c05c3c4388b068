#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "platform/winsock.h"
#include "queue/comandospool.h"

void quillharbor::Form_Unload() {
    // Once only: a second request (a signal during the first) changes nothing.
    static bool unloading = false;
    if (unloading) return;
    unloading = true;

    // 1, 2. Settings and spool first, before anything is stopped. The spool
    // includes the link being fetched, first, so the next start fetches it
    // again. A file that cannot be written does not stop the rest.
    principal::writevars();
    principal::writespool(comandospool::spoolentries());
    // 3.
    const int entries = spoollist->ListCount();
    for (int i = 0; i < entries; ++i)
        spoollist->RemoveItem(0);
    // 4.
    if (bajando) CancelButton_Click();
    // 5, 6. No word to the server.
    deleteicon();
    alfa->Close();
    // 7.
    principal::endprogram();
    unloading = false; // only reached when a test replaced the ending
}

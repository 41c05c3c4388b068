#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "download/underway.h"
#include "platform/textfile.h"
#include "platform/winsock.h"

void quillharbor::Form_Unload() {
    // Once only: a second request (a signal during the first) changes nothing.
    static bool unloading = false;
    if (unloading) return;
    unloading = true;

    // A transfer cut short by closing did not end the program by itself:
    // said first, so a kill during the slower writes below does not count.
    underway::ended();
    // Settings and spool, before anything is stopped. The spool includes the
    // link being fetched, first, so the next start fetches it again. A file
    // that cannot be written does not stop the rest.
    principal::writevars();
    principal::spoolfile().write();
    const int entries = spoollist->ListCount();
    for (int i = 0; i < entries; ++i)
        spoollist->RemoveItem(0);
    if (bajando) CancelButton_Click();
    // No word to the server.
    deleteicon();
    alfa->Close();
    principal::endprogram();
    unloading = false; // only reached when a test replaced the ending
}

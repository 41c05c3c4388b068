#include "queue/dispatch.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "download/outcome.h"
#include "log/logfunctions.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "queue/comandospool.h"
#include "system/regtools.h"

void dispatchlink(const QString& link) {
    quillharbor& form = principal::mainwindow();
    // Until this call is done with it, the link stays in spool.ini, and it
    // keeps its place in line.
    comandospool::inflightlink holding(link);

    // Every link is logged first, before the decision, and before events
    // run: a transfer started meanwhile would have the links that come
    // during it logged ahead of this one. The log lets events run after.
    logfunctions::writelog(link, 1);

    const QString scheme = link.left(7).toLower();
    const bool web =
        scheme == QLatin1String("http://") || link.left(8).toLower() == QLatin1String("https://");

    // To whatever the desktop associates with the scheme.
    if (scheme == QLatin1String("ed2k://")) {
        platform::openlink(link);
        platform::DoEvents();
        return;
    }

    if (web) {
        if (form.Check1->Value() == 1) {
            // To the chosen manager at once, the link one whole argument:
            // nothing in it can reach a shell.
            if (form.GetRight->isChecked()) platform::runprogram(regtools::grpath, {link});
            if (form.DownloadAccelerator->isChecked())
                platform::runprogram(regtools::dapath, {link});
            return;
        }
        if (!form.bajando && form.Check1->Value() == 0 && holding.nextinline()) {
            holding.fetching();
            descargas::httpdownload(link, form.downloaddir->Path() + platform::separator(),
                                    QString(), QString());
            return;
        }
        // A transfer is running, or links that came before this one still
        // wait: it waits in the spool, behind them.
        holding.waitinspool();
        return;
    }

    // Any other scheme is only logged, and the user told so.
    descargas::failure refused;
    refused.why = descargas::reason::scheme;
    descargas::outcome(link, refused);
}

// Pictures of the main window for the documentation: the window as the demo
// shows it, logged in, with a download under way (progress, rate and time
// left) and a link waiting in the spool, in English and in Spanish. Run on
// a real (virtual) X display by scripts/screenshots.sh; writes
// quillharbor-en.png and quillharbor-es.png into the folder it is given.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "fileserver.h"
#include "lineserver.h"
#include "platform/resstrings.h"
#include "platform/winsock.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace testsupport;

namespace {
// One picture of the demo in `language`; a null image when it did not come.
QImage demo(platform::Language language) {
    platform::setlanguage(language);
    ProgramFolder folder;
    QTemporaryDir served, place;
    const QString downloads = place.filePath("Downloads");
    QDir().mkpath(downloads);
    writefile(served.filePath("sample.bin"), QByteArray(16 * 1024 * 1024, 'q'));
    writefile(served.filePath("readme.txt"), "demo\n");
    FileServer files;
    LineServer server;
    server.addaccount("demo", "demo");
    server.setpause(0);
    if (!files.listen(served.path()) || !server.listen()) return {};
    files.setfaults({.dribble = 4096});
    folder.write("vars.ini", "user=demo\r\npass=demo\r\numsg=1\r\ndownloaddir=" +
                                 downloads.toUtf8() + "\r\n");
    auto form = freshwindow();
    form->alfa->RemoteHost = "127.0.0.1";
    form->alfa->RemotePort = server.port();
    principal::Main();
    form->conectar_Click();
    if (!waitfor([&] { return server.loggedin() == 1; }, 20000)) return {};

    // The transfer runs inside the event loop; the sampler acts from there:
    // once the progress shows, a second link comes and waits in the spool.
    bool queued = false;
    QImage picture;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!queued && form->bajando && form->ProgressBar->value() > 2000 &&
            !form->RateLabel->text().isEmpty() && !form->TimeLabel->text().isEmpty()) {
            queued = true;
            server.send(files.url("readme.txt").toUtf8());
        } else if (queued && picture.isNull() && form->spoollist->ListCount() == 1) {
            picture = form->grab().toImage();
            form->desconectar_Click();
            form->CancelButton->click();
        }
    });
    sampler.start(20);
    server.send(files.url("sample.bin").toUtf8());
    waitfor([&] { return !picture.isNull() && !form->bajando; }, 60000);
    return picture;
}
} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots FOLDER\n");
        return 2;
    }
    for (const auto& [language, name] : {std::pair{platform::Language::English, "en"},
                                         {platform::Language::Spanish, "es"}}) {
        const QString file = QString("%1/quillharbor-%2.png").arg(argv[1], name);
        if (!demo(language).save(file)) {
            std::fprintf(stderr, "screenshots: no picture for %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}

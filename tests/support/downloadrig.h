#pragma once
// What the downloader tests share: a program folder with a fresh main window,
// a folder of served files behind an in-process file server, a download
// folder, and samples of the progress display taken while a transfer runs.
#include "fileserver.h"
#include "support/testsupport.h"

#include <QList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

class quillharbor;

namespace testsupport {

// What the window showed at one moment of a transfer.
struct Sample {
    int requests = 0; // requests the server had received by then
    bool bajando = false;
    QString caption;
    QString timelabel;
    QString ratelabel;
    double value = 0;
    double max = 0;
};

class DownloadRig {
  public:
    DownloadRig();
    ~DownloadRig();

    // A served file of `size` bytes that differ from offset to offset.
    QByteArray put(const QString& name, qint64 size);
    static QByteArray pattern(qint64 size, int seed = 0);

    // Runs the downloader on `url` (a served file's name when it has no
    // scheme) into the download folder, sampling the display as it goes.
    void download(const QString& urlorname);

    QString downloads() const { return downloadfolder.path(); }
    QString saved(const QString& name) const { return downloadfolder.filePath(name); }
    QByteArray savedbytes(const QString& name) const;
    bool exists(const QString& name) const;
    QStringList downloadentries() const;

    // The Range header of request `index` as the server received it.
    QByteArray range(int index) const { return server.header(index, "Range"); }

    // The Range header of each request the agent made, in order. Counted on
    // the agent's side: after a cut, Qt may repeat a request on its own and
    // drop the answer, which the server would count as one more.
    QList<QByteArray> attempts;

    ProgramFolder folder;
    std::unique_ptr<quillharbor> window;
    QTemporaryDir served;
    QTemporaryDir downloadfolder;
    FileServer server;
    QList<Sample> samples;

  private:
    QTimer sampler;
};

} // namespace testsupport

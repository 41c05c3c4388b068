// quillharbor-server: the service's side for tests, demos and development.
#include "fileserver.h"
#include "lineserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillharbor-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reference server for the Quillharbor agent: accepts logins on 127.0.0.1 and sends each "
        "line typed on standard input to every logged-in agent as one message; optionally serves "
        "files over HTTP with injectable faults."));
    parser.addHelpOption();
    LineServer::addoptions(parser);
    FileServer::addoptions(parser);
    parser.process(application);

    LineServer lines;
    FileServer files;
    QString error;
    if (!lines.configure(parser, &error) || !files.configure(parser, &error)) {
        std::fprintf(stderr, "quillharbor-server: %s\n", qPrintable(error));
        return 2;
    }
    return QCoreApplication::exec();
}

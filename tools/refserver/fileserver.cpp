#include "fileserver.h"

#include <QCommandLineParser>

FileServer::FileServer(QObject* parent) : QObject(parent) {}
FileServer::~FileServer() = default;
void FileServer::addoptions(QCommandLineParser&) {}
bool FileServer::configure(const QCommandLineParser&, QString*) { return true; }

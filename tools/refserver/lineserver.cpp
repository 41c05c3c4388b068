#include "lineserver.h"

#include <QCommandLineParser>

LineServer::LineServer(QObject* parent) : QObject(parent) {}
LineServer::~LineServer() = default;
void LineServer::addoptions(QCommandLineParser&) {}
bool LineServer::configure(const QCommandLineParser&, QString*) { return true; }

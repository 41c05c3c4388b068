#pragma once
#include <QObject>

class QCommandLineParser;

// The authentication server's side of the line protocol.
class LineServer : public QObject {
    Q_OBJECT
public:
    explicit LineServer(QObject* parent = nullptr);
    ~LineServer() override;

    // Command-line options of this server, and applying them; false with a
    // message in `error` when they do not make sense.
    static void addoptions(QCommandLineParser& parser);
    bool configure(const QCommandLineParser& parser, QString* error);
};

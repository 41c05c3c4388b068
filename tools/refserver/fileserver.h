#pragma once
#include <QObject>

class QCommandLineParser;

// A small HTTP file server with byte ranges and injectable faults.
class FileServer : public QObject {
    Q_OBJECT
public:
    explicit FileServer(QObject* parent = nullptr);
    ~FileServer() override;

    // Command-line options of this server, and applying them; false with a
    // message in `error` when they do not make sense. Serving starts only
    // when --serve was given (see enabled()).
    static void addoptions(QCommandLineParser& parser);
    bool configure(const QCommandLineParser& parser, QString* error);
    bool enabled() const { return serving; }

private:
    bool serving = false;
};

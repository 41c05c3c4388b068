#pragma once
#include <QObject>
#include <curl/curl.h>
#include <functional>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace platform {

// curl's multi interface driven by this thread's event loop, as curl's
// multi_socket documentation describes for event loops: a socket notifier
// for each socket curl wants watched and one timer for curl's time-outs. No
// thread of our own: curl's work runs inside the event loop's passes.
class CurlLoop : public QObject {
  public:
    explicit CurlLoop(QObject* parent = nullptr);
    ~CurlLoop() override;

    // Starts a transfer; false when curl refuses it.
    bool add(CURL* easy);
    // Stops a transfer at once: a connection still busy with it is closed.
    // Never called from inside curl's callbacks.
    void remove(CURL* easy);
    // Transfers alive now.
    int alive() const { return transfers; }

    // Told of each transfer that has ended, with curl's result; it may
    // remove the transfer.
    std::function<void(CURL*, CURLcode)> ended;

  private:
    struct Watch;
    static int onsocket(CURL* easy, curl_socket_t socket, int what, void* loop, void* watch);
    static int ontimer(CURLM* multi, long ms, void* loop);
    void watch(curl_socket_t socket, int what, Watch* current);
    QSocketNotifier* notifier(curl_socket_t socket, int type, int flag);
    void retire(Watch* old);
    void act(curl_socket_t socket, int flags);

    CURLM* multi;
    QTimer* timer;
    int transfers = 0;
    // Notifiers curl no longer wants, deleted at the next safe moment: one
    // may be inside its own signal when curl lets its socket go.
    std::vector<QSocketNotifier*> retired;
};

} // namespace platform

#include "platform/curlloop.h"

#include <QSocketNotifier>
#include <QTimer>

namespace platform {

namespace {
// curl's process-wide state lives while a loop does: set up before the
// first, released after the last (also under the leak checker).
int loops = 0;
} // namespace

// The notifiers of one socket curl watches; a direction curl does not want
// has none or a disabled one.
struct CurlLoop::Watch {
    QSocketNotifier* in = nullptr;
    QSocketNotifier* out = nullptr;
};

CurlLoop::CurlLoop(QObject* parent) : QObject(parent), timer(new QTimer(this)) {
    if (loops++ == 0) curl_global_init(CURL_GLOBAL_DEFAULT);
    multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &CurlLoop::onsocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &CurlLoop::ontimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlLoop::~CurlLoop() {
    // Transfers still added belong to their owners, who remove them first.
    curl_multi_cleanup(multi);
    for (QSocketNotifier* old : retired)
        delete old;
    if (--loops == 0) curl_global_cleanup();
}

bool CurlLoop::add(CURL* easy) {
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) return false;
    ++transfers;
    return true;
}

void CurlLoop::remove(CURL* easy) {
    if (curl_multi_remove_handle(multi, easy) == CURLM_OK) --transfers;
}

int CurlLoop::onsocket(CURL*, curl_socket_t socket, int what, void* loop, void* watch) {
    static_cast<CurlLoop*>(loop)->watch(socket, what, static_cast<Watch*>(watch));
    return 0;
}

int CurlLoop::ontimer(CURLM*, long ms, void* loop) {
    QTimer* timer = static_cast<CurlLoop*>(loop)->timer;
    // Not curl's work here: it may not be re-entered from its own callback.
    if (ms < 0)
        timer->stop();
    else
        timer->start(int(qMin<long>(ms, 24L * 3600 * 1000)));
    return 0;
}

void CurlLoop::watch(curl_socket_t socket, int what, Watch* current) {
    if (what == CURL_POLL_REMOVE) {
        if (current) retire(current);
        return;
    }
    if (!current) {
        current = new Watch;
        curl_multi_assign(multi, socket, current);
    }
    const bool in = what & CURL_POLL_IN, out = what & CURL_POLL_OUT;
    if (in && !current->in) current->in = notifier(socket, QSocketNotifier::Read, CURL_CSELECT_IN);
    if (out && !current->out)
        current->out = notifier(socket, QSocketNotifier::Write, CURL_CSELECT_OUT);
    if (current->in) current->in->setEnabled(in);
    if (current->out) current->out->setEnabled(out);
}

QSocketNotifier* CurlLoop::notifier(curl_socket_t socket, int type, int flag) {
    auto* made = new QSocketNotifier(qintptr(socket), QSocketNotifier::Type(type), this);
    connect(made, &QSocketNotifier::activated, this, [this, socket, flag] { act(socket, flag); });
    return made;
}

void CurlLoop::retire(Watch* old) {
    for (QSocketNotifier* notifier : {old->in, old->out}) {
        if (!notifier) continue;
        notifier->setEnabled(false);
        notifier->disconnect(this);
        retired.push_back(notifier);
    }
    delete old;
}

void CurlLoop::act(curl_socket_t socket, int flags) {
    // No notifier is inside its own signal at this point but the one that
    // called, and that one is not retired yet.
    for (QSocketNotifier* old : retired)
        delete old;
    retired.clear();
    int running = 0;
    curl_multi_socket_action(multi, socket, flags, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        // The message is gone once its transfer is removed.
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        if (ended) ended(easy, result);
    }
}

} // namespace platform

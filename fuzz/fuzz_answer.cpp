// An answer's header block as a server may send it: read, whatever it
// holds, into values that stay in their bounds, and a file name from its
// Content-Disposition that is no path.
#include "platform/httpanswer.h"

#include <QList>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const platform::Answer answer = platform::readanswer(bytes.split('\n'));
    if (answer.status != 0 && (answer.status < 100 || answer.status > 999)) std::abort();
    if (answer.length < 0 || answer.first < -1 || answer.total < -1) std::abort();
    if (answer.retryafter < -1 || answer.retryafter > 24 * 3600) std::abort();
    const QString name = platform::dispositionname(answer.disposition);
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) std::abort();
    return 0;
}

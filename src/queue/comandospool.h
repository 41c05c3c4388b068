#pragma once
#include <QString>
#include <QStringList>

// The spool: links waiting for the built-in downloader, row 0 next.
namespace comandospool {

// On a status tick: hands row 0 to dispatch when connected and idle.
void spoolnext();
// Move the selected row one place up / down; remove it.
void spoolup();
void spooldown();
void spoolcancel();

// What spool.ini must hold: the links being dispatched or fetched right now,
// then the rows of the list. A link leaves this only once its transfer has
// ended or another program has it.
QStringList spoolentries();

// Rewrites spool.ini with spoolentries(), atomically, so a crash or a kill
// never loses a queued link.
void savespool();

// Marks a link as in flight for as long as it lives.
class inflightlink {
  public:
    explicit inflightlink(const QString& link);
    ~inflightlink();
    inflightlink(const inflightlink&) = delete;
    inflightlink& operator=(const inflightlink&) = delete;

  private:
    QString link;
};

} // namespace comandospool

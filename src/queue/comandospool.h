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

// What spool.ini must hold: every link that has reached the agent and is
// not done with. First the links being fetched or handed on, then the rows
// of the list, then links still on their way through dispatch.
QStringList spoolentries();

// The spool changed: spool.ini follows (soon; see principal::spoolfile).
void savespool();

// Where the next link handed to dispatch comes from, when not from the
// server: row 0 of the spool (spoolnext), or a message that was filed in
// spool.ini as it was read.
enum class origin { server, spoolrow, filed };
void nextlinkfrom(origin from);

// A link on its way through dispatch, for as long as it lives: it is in
// spool.ini from the first moment, and it keeps its place in line, behind
// the links that reached the agent before it.
class inflightlink {
  public:
    explicit inflightlink(const QString& link);
    ~inflightlink();
    inflightlink(const inflightlink&) = delete;
    inflightlink& operator=(const inflightlink&) = delete;

    // True when no link that came before this one waits to be fetched.
    bool nextinline() const;
    // The built-in downloader has it now.
    void fetching();
    // Into the spool, behind the links that came before it and ahead of
    // any that came after it while it was on its way (normally the end).
    void waitinspool();

    QString link;
    bool fromspool; // taken from row 0 by spoolnext
    bool placed;    // being fetched or handed on: first in spool.ini

  private:
    qint64 mark; // rows added to the spool before this link came
};

} // namespace comandospool

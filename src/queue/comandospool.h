#pragma once

// The spool: links waiting for the built-in downloader, row 0 next.
namespace comandospool {

void spoolnext();
void spoolup();
void spooldown();
void spoolcancel();

} // namespace comandospool

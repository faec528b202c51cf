#pragma once

// The post-installation log: the package manager's messages kept in "postlog" at the target root
// across a boot-time installation, so that the installed system can show them afterwards.

// Appends every line of "postlog" that ends with a line end to the database's log (a last line
// without one is dropped; a file over 1 MiB is damage and none of it is taken), then
// rewrites the file as 4096 zero bytes so that its space is allocated, and sets the database's
// postLogReserved (SavePostLog then rewrites the file instead of appending to it).
void ReadPostLog();

// Writes every text of the database's log and a line end to "postlog": over the file when it was
// reserved, appended to it otherwise; does nothing when it was not reserved and the log is empty.
// Write errors are ignored.
void SavePostLog();

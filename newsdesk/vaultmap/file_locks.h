// SQLite's locks on the news database held by the open file rather than by
// the process.
//
// A classic POSIX lock belongs to the process, and closing ANY descriptor of
// the file releases all of them: a file dialog, an icon or mime look-up, a
// thumbnailer in the reader's process that opens news.db and closes it again
// would silently drop the reader's locks. The next program that closes its
// connection then believes it is the last one, checkpoints and removes the
// write-ahead log the reader still writes to, and the reader's later writes
// are lost or undo other programs' edits.
//
// Open-file-description locks (Linux 3.15 and later) are the same locks as
// far as other processes go (both kinds conflict with each other, so the
// engine and the command line, which use classic locks, are arbitrated as
// before), but they belong to the descriptor SQLite opened and go only when
// SQLite closes it.
#pragma once

namespace orvo {

// Routes the lock calls of SQLite's unix file layer through open-file-
// description locks, for every connection this process opens from now on.
// Must run before the first connection opens; later calls do nothing. False
// when SQLite does not let the call be replaced (locks stay classic).
bool HoldDatabaseLocksPerOpenFile();

}  // namespace orvo

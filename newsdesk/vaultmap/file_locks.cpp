#include "file_locks.h"

#include <fcntl.h>
#include <sqlite3.h>

#include <cerrno>
#include <cstdarg>
#include <mutex>

namespace orvo {

namespace {

using Fcntl = int (*)(int, int, ...);
Fcntl g_systemFcntl = nullptr;

int DescriptionFcntl(int fd, int cmd, ...) {
  va_list args;
  va_start(args, cmd);
  void* arg = va_arg(args, void*);
  va_end(args);
  int ofd = cmd == F_SETLK ? F_OFD_SETLK : cmd == F_SETLKW ? F_OFD_SETLKW : cmd == F_GETLK ? F_OFD_GETLK : 0;
  if (ofd == 0 || arg == nullptr) return g_systemFcntl(fd, cmd, arg);
  auto* lock = static_cast<struct flock*>(arg);
  struct flock copy = *lock;
  copy.l_pid = 0;  // required by the kernel; SQLite leaves it unset
  int rc = ::fcntl(fd, ofd, &copy);
  if (rc == 0 && cmd == F_GETLK) *lock = copy;
  return rc;
}

}  // namespace

bool HoldDatabaseLocksPerOpenFile() {
  static bool installed = [] {
    if (sqlite3_initialize() != SQLITE_OK) return false;
    sqlite3_vfs* vfs = sqlite3_vfs_find("unix");
    if (!vfs || vfs->iVersion < 3 || !vfs->xGetSystemCall || !vfs->xSetSystemCall) return false;
    g_systemFcntl = reinterpret_cast<Fcntl>(vfs->xGetSystemCall(vfs, "fcntl"));
    if (!g_systemFcntl) return false;
    return vfs->xSetSystemCall(vfs, "fcntl", reinterpret_cast<sqlite3_syscall_ptr>(&DescriptionFcntl)) == SQLITE_OK;
  }();
  return installed;
}

}  // namespace orvo

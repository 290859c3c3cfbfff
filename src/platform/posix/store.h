// The folder where the POSIX platform layer keeps everything Windows would keep in the system:
// the registry database, the event log, and later the service manager's run-time files.
//
// The root is $STEWARD_ROOT when that is set and not empty; else /var/lib/steward for the
// superuser; else $XDG_STATE_HOME/steward, where XDG_STATE_HOME defaults to ~/.local/state.
// The environment is read on every call, so a process (a unit test, for one) may move to another
// root at any time; the layer's parts bind what they open to the root of that moment.
//
// Nothing here creates files on a read: the root and its folders come into being on the first
// write, made with mode 0755 (less the umask).
#ifndef STEWARD_PLATFORM_POSIX_STORE_H
#define STEWARD_PLATFORM_POSIX_STORE_H

#include <string>

#include "platform/win32.h"

namespace steward::posix {

// The store root as an absolute or relative folder path without a trailing slash, or an empty
// string when none can be found (no STEWARD_ROOT, not the superuser, and no home folder).
// Throws std::bad_alloc when memory runs out; the layer's entry points catch it.
std::string StoreRoot();

// The path of `relative` (say "eventlog/Application.log") under the store root, or an empty
// string when there is no root.
std::string StorePath(const std::string& relative);

// Creates the folder `relative` under the store root and every folder above it that is missing,
// as `mkdir -p` does. An empty `relative` creates the root itself. Returns ERROR_SUCCESS or the
// Windows error code of the failure (ERROR_PATH_NOT_FOUND when there is no root).
DWORD CreateStoreFolder(const std::string& relative);

// Whether this process may write in the folder `relative` under the store root: true when the
// folder exists and is writable and searchable, or when it does not exist yet and the nearest
// folder above it that does exist is. This is how the layer tells a read-only store (one that
// belongs to another user, or lies on a read-only file system) from one it may fill.
bool StoreWritable(const std::string& relative);

// The same two services for a folder given by its full path, for the parts of the layer that
// keep the root they were bound to (an open registry key, say) while the environment moves on.
DWORD CreateFolders(const std::string& path);
bool FolderWritable(const std::string& path);

}  // namespace steward::posix

#endif  // STEWARD_PLATFORM_POSIX_STORE_H

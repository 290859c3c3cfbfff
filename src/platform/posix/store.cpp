// The store root of the POSIX platform layer: where it is, and making its folders on demand.
#include "platform/posix/store.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/error_text.h"

namespace steward::posix {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The home folder of the effective user: $HOME, else the password database's entry.
std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;

  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    home = found->pw_dir;
  }
  return home;
}

void TrimTrailingSlashes(std::string& path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string StoreRoot() {
  std::string root = Environment("STEWARD_ROOT");
  if (root.empty()) {
    if (geteuid() == 0) {
      root = "/var/lib/steward";
    } else {
      // The XDG rules ignore a relative XDG_STATE_HOME.
      std::string state = Environment("XDG_STATE_HOME");
      if (state.empty() || state.front() != '/') {
        const std::string home = HomeFolder();
        if (home.empty()) return std::string();
        state = home + "/.local/state";
      }
      TrimTrailingSlashes(state);
      root = state + "/steward";
    }
  }
  TrimTrailingSlashes(root);
  return root;
}

std::string StorePath(const std::string& relative) {
  std::string root = StoreRoot();
  if (root.empty() || relative.empty()) return root;
  if (root != "/") root += '/';
  return root + relative;
}

DWORD CreateStoreFolder(const std::string& relative) {
  return CreateFolders(StorePath(relative));
}

bool StoreWritable(const std::string& relative) {
  return FolderWritable(StorePath(relative));
}

DWORD CreateFolders(const std::string& path) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (IsDirectory(path)) return ERROR_SUCCESS;

  // Make each missing folder from the top down; another process making the same folder at the
  // same moment is no failure.
  size_t position = 0;
  for (;;) {
    position = path.find('/', position + 1);
    const std::string prefix = path.substr(0, position);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0755) != 0) {
      const int error = errno;
      if (error != EEXIST) return ErrorFromErrno(error);
      if (!IsDirectory(prefix)) return ERROR_PATH_NOT_FOUND;
    }
    if (position == std::string::npos) break;
  }
  return ERROR_SUCCESS;
}

bool FolderWritable(const std::string& folder) {
  std::string path = folder;
  if (path.empty()) return false;

  // Climb to the nearest folder that exists: that is the one a write would change first.
  for (;;) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
      return S_ISDIR(info.st_mode) &&
             faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    }
    if (errno != ENOENT) return false;
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
      path = ".";
    } else if (slash == 0) {
      if (path == "/") return false;
      path = "/";
    } else {
      path.erase(slash);
    }
  }
}

}  // namespace steward::posix

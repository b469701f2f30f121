// Writing a file as open(path, "w") does, with an atomic replace where it is safe: the target a
// name leads to (through symbolic links), the checks that decide between a new file put in the
// target's place and a write in place, the unnamed or named temporary file, and the sync and
// rename that finish it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "core/interrupt.hpp"
#include "io/file_handle.hpp"

namespace velk::io {

namespace {

// The folder part of a path with its trailing "/", or "" for a bare name.
std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Opens name for writing in place (truncating it), as the C library's create does.
Result<int> open_in_place(const std::string& name) {
  for (;;) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EINTR) return fail_with(Error::from_errno());
    interrupt::checkpoint();  // a FIFO with no reader blocks the open
  }
}

// The path a name leads to once every symbolic link on its last component is followed, the
// last link's target included when it does not exist yet (writing through a dangling link
// creates that file, as open does). A loop is left to the open, which reports it.
std::string link_target(const std::string& name) {
  std::string path = name;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string link(static_cast<std::size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return path;
    link.resize(static_cast<std::size_t>(n));
    // A relative target is read from the link's own folder.
    path = link.front() == '/' ? link : folder_of(path) + link;
  }
  return path;
}

// Whether replacing the file by a new one would change what other names or users see of it:
// another owner or group than a new file would get, or more than one hard link to it.
bool replacing_changes_the_file(const struct stat& st, const std::string& folder) {
  if (st.st_nlink > 1 || st.st_uid != ::geteuid()) return true;
  // A new file takes its group from a set-group-ID folder, else from the process.
  struct stat dir;
  gid_t group = ::getegid();
  if (::stat(folder.empty() ? "." : folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISGID))
    group = dir.st_gid;
  return st.st_gid != group;
}

// The name of a temporary file beside target, which says what it is should a crash leave it:
// ".<name>.velk-incomplete-<pid>-<n>.tmp".
std::string temporary_name(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::size_t slash = target.rfind('/');
  return folder_of(target) + "." + target.substr(slash == std::string::npos ? 0 : slash + 1) +
         ".velk-incomplete-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1, std::memory_order_relaxed)) + ".tmp";
}

// An unnamed file in target's folder (O_TMPFILE), which no crash can leave behind; -1 (errno
// set) where the system or the file system offers none, or where it could not be named later
// (its name is given through /proc/self/fd).
int open_unnamed(const std::string& target, mode_t mode) {
#ifdef O_TMPFILE
  if (::access("/proc/self/fd", X_OK) != 0) return -1;
  const std::string folder = folder_of(target);
  return ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
#else
  (void)target;
  (void)mode;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// A fresh named file beside target, created exclusively with the given mode (before the
// process mask); -1 (errno set) when none can be made there.
int open_temporary(const std::string& target, mode_t mode, std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = temporary_name(target);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != EEXIST && errno != EINTR)) return fd;
  }
  return -1;
}

Result<File> in_place(const std::string& name) {
  auto fd = open_in_place(name);
  if (!fd) return fail_with(fd.error());
  return File::adopt(*fd);
}

// Flushes a folder's entries to disk, so that a rename in it survives a power cut. A file
// system that cannot sync folders is not an error.
void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

Result<File> File::create(const std::string& name) {
  if (auto ok = check_file_name(name); !ok) return fail_with(ok.error());
  const std::string target = link_target(name);
  struct stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  // Not a regular file (a FIFO, a device, a folder), or not reachable: written in place, and
  // any failure of that is the one an in-place create reports.
  if ((exists && !S_ISREG(st.st_mode)) || (!exists && errno != ENOENT)) return in_place(name);
  if (exists) {
    // A file the caller may not write is refused with the error open would give.
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
      return fail_with(Error::from_errno());
    if (replacing_changes_the_file(st, folder_of(target))) return in_place(name);
  }
  const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
  std::string temporary;
  bool unnamed = true;
  int fd = open_unnamed(target, mode);
  if (fd < 0) {
    unnamed = false;
    fd = open_temporary(target, mode, temporary);
  }
  // No temporary file can be made in that folder (read-only, no write permission, missing).
  if (fd < 0) return in_place(name);
  // A replaced file keeps its mode exactly, whatever the process mask.
  if (exists) ::fchmod(fd, mode);
  File file(fd);
  file.temporary_ = std::move(temporary);
  file.unnamed_ = unnamed;
  file.target_ = target;
  return file;
}

void File::discard_temporary() noexcept {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

Status File::close() {
  const int fd = fd_;
  fd_ = -1;
  const bool replacing = !target_.empty();
  // A new file's bytes reach the disk before its name does, so that a power cut leaves the
  // old file or the new one.
  Status ok = replacing ? publish(fd) : Status{};
  // The descriptor is released even when close reports EINTR; only real failures count.
  if (::close(fd) != 0 && errno != EINTR && ok) ok = fail_with(Error::from_errno());
  if (ok && !temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0)
    ok = fail_with(Error::from_errno());
  if (!ok) {
    discard_temporary();
    target_.clear();
    return ok;
  }
  temporary_.clear();
  if (replacing) sync_folder(folder_of(target_));
  target_.clear();
  return ok;
}

Status File::publish(int fd) {
  if (::fsync(fd) != 0) return fail_with(Error::from_errno());
  if (!unnamed_) return {};
  // The unnamed file gets its name only now, complete: straight as the target when there is
  // none yet, else as a temporary name renamed over it.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return {};
  if (errno != EEXIST) return fail_with(Error::from_errno());
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = temporary_name(target_);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return {};
    if (errno != EEXIST) break;
  }
  Error error = Error::from_errno();
  temporary_.clear();
  return fail_with(std::move(error));
}

}  // namespace velk::io

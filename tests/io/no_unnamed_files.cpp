// Loaded with LD_PRELOAD: open(2) refuses O_TMPFILE with EOPNOTSUPP, as a file system without
// unnamed files does, and says so on stderr, so the writers' named temporary file is what runs.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace {

using OpenFunction = int (*)(const char*, int, ...);

int forward(const char* path, int flags, mode_t mode) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    static const char said[] = "refused O_TMPFILE\n";
    (void)!::write(2, said, sizeof said - 1);
    errno = EOPNOTSUPP;
    return -1;
  }
  const auto real = reinterpret_cast<OpenFunction>(::dlsym(RTLD_NEXT, "open"));
  return real(path, flags, mode);
}

mode_t mode_argument(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return forward(path, flags, mode);
}

// The large-file name of the same function.
extern "C" int open64(const char* path, int flags, ...) __attribute__((alias("open")));

// A disk that fills up, for tests that run the program as a child process:
// preloaded (LD_PRELOAD), it lets the writes to files whose path holds
// TESS_FULL_DEVICE_MATCH take TESS_FULL_DEVICE_BYTES bytes in all, then
// answers as a full device does: a short write, then ENOSPC. Writes to
// anything else (standard error, pipes, other files) pass untouched. Copies
// made in the kernel (copy_file_range, sendfile) fill the device as well.
// It can also make renames fail (see rename() below).

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fnmatch.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/sendfile.h>
#include <sys/uio.h>
#include <unistd.h>

static atomic_llong g_left = -1;  // bytes the device still takes; -1 before the first look

static long long bytes_left(void) {
  long long left = atomic_load(&g_left);
  if (left >= 0) return left;
  const char* text = getenv("TESS_FULL_DEVICE_BYTES");
  long long start = text != NULL ? atoll(text) : 0;
  if (start < 0) start = 0;
  long long expected = -1;
  atomic_compare_exchange_strong(&g_left, &expected, start);
  return atomic_load(&g_left);
}

// Whether `fd` is a regular file on the filling device.
static int on_device(int fd) {
  const char* match = getenv("TESS_FULL_DEVICE_MATCH");
  if (match == NULL || *match == '\0') return 0;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  char link[64];
  char path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  return strstr(path, match) != NULL;
}

// How many of `size` bytes the device takes now; -1 with ENOSPC when none.
static ssize_t take(int fd, size_t size) {
  if (size == 0 || !on_device(fd)) return (ssize_t)size;
  long long left = bytes_left();
  for (;;) {
    if (left <= 0) {
      errno = ENOSPC;
      return -1;
    }
    const long long taken = (long long)size < left ? (long long)size : left;
    if (atomic_compare_exchange_weak(&g_left, &left, left - taken)) return (ssize_t)taken;
  }
}

typedef ssize_t (*WriteFn)(int, const void*, size_t);
typedef ssize_t (*PwriteFn)(int, const void*, size_t, off_t);
typedef ssize_t (*WritevFn)(int, const struct iovec*, int);
typedef ssize_t (*PwritevFn)(int, const struct iovec*, int, off_t);

// dlsym hands back an object pointer; POSIX lets it be read as a function pointer.
#define NEXT(name, type)   \
  static type real = NULL; \
  if (real == NULL) *(void**)(&real) = dlsym(RTLD_NEXT, name)

static ssize_t real_write(int fd, const void* data, size_t size) {
  NEXT("write", WriteFn);
  return real(fd, data, size);
}

ssize_t write(int fd, const void* data, size_t size) {
  const ssize_t allowed = take(fd, size);
  return allowed < 0 ? -1 : real_write(fd, data, (size_t)allowed);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  NEXT("pwrite", PwriteFn);
  const ssize_t allowed = take(fd, size);
  return allowed < 0 ? -1 : real(fd, data, (size_t)allowed, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) { return pwrite(fd, data, size, offset); }

static size_t total(const struct iovec* iov, int count) {
  size_t sum = 0;
  for (int i = 0; i < count; ++i) sum += iov[i].iov_len;
  return sum;
}

// A vector write the device cannot take whole becomes a plain write of what fits.
static ssize_t first_part(int fd, const struct iovec* iov, int count, size_t allowed, off_t offset) {
  char* joined = malloc(allowed);
  if (joined == NULL) {
    errno = ENOMEM;
    return -1;
  }
  size_t at = 0;
  for (int i = 0; i < count && at < allowed; ++i) {
    const size_t part = iov[i].iov_len < allowed - at ? iov[i].iov_len : allowed - at;
    memcpy(joined + at, iov[i].iov_base, part);
    at += part;
  }
  NEXT("pwrite", PwriteFn);
  const ssize_t written = offset < 0 ? real_write(fd, joined, allowed) : real(fd, joined, allowed, offset);
  free(joined);
  return written;
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  NEXT("writev", WritevFn);
  const size_t size = total(iov, count);
  const ssize_t allowed = take(fd, size);
  if (allowed < 0) return -1;
  return (size_t)allowed == size ? real(fd, iov, count) : first_part(fd, iov, count, (size_t)allowed, -1);
}

ssize_t pwritev(int fd, const struct iovec* iov, int count, off_t offset) {
  NEXT("pwritev", PwritevFn);
  const size_t size = total(iov, count);
  const ssize_t allowed = take(fd, size);
  if (allowed < 0) return -1;
  return (size_t)allowed == size ? real(fd, iov, count, offset) : first_part(fd, iov, count, (size_t)allowed, offset);
}

ssize_t pwritev64(int fd, const struct iovec* iov, int count, off_t offset) { return pwritev(fd, iov, count, offset); }

typedef ssize_t (*CopyRangeFn)(int, off64_t*, int, off64_t*, size_t, unsigned int);
typedef ssize_t (*SendfileFn)(int, int, off_t*, size_t);

ssize_t copy_file_range(int in, off64_t* in_offset, int out, off64_t* out_offset, size_t size, unsigned int flags) {
  NEXT("copy_file_range", CopyRangeFn);
  const ssize_t allowed = take(out, size);
  return allowed < 0 ? -1 : real(in, in_offset, out, out_offset, (size_t)allowed, flags);
}

ssize_t sendfile(int out, int in, off_t* offset, size_t size) {
  NEXT("sendfile", SendfileFn);
  const ssize_t allowed = take(out, size);
  return allowed < 0 ? -1 : real(out, in, offset, (size_t)allowed);
}

ssize_t sendfile64(int out, int in, off_t* offset, size_t size) { return sendfile(out, in, offset, size); }

// A rename that fails: with TESS_FAIL_RENAME_MATCH set to a shell pattern
// ("*" stops at "/"), renaming a path it matches fails with EIO, so the tests
// see what a run does when putting an earlier file back fails.
typedef int (*RenameFn)(const char*, const char*);

int rename(const char* from, const char* to) {
  NEXT("rename", RenameFn);
  const char* match = getenv("TESS_FAIL_RENAME_MATCH");
  if (match != NULL && *match != '\0' && fnmatch(match, from, FNM_PATHNAME) == 0) {
    errno = EIO;
    return -1;
  }
  return real(from, to);
}

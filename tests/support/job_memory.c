// SPDX-License-Identifier: GPL-3.0-or-later
// Worker threads of the job pool that find no memory, for tests that run the
// program as a child process: preloaded (LD_PRELOAD), it makes every
// allocation of TESS_JOB_MEMORY_BYTES bytes or more (default 1) by a thread
// named "tess-job" fail as an exhausted heap does (NULL, errno ENOMEM), so a
// job that allocates throws std::bad_alloc. Every other thread allocates as
// usual, so the run itself goes on and must notice the failed jobs.

#define _GNU_SOURCE
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);

// Decided once a worker has its name; a thread is named right after it starts,
// so an unnamed thread is asked again.
static __thread int t_job_thread;

static size_t smallest_failing(void) {
  static size_t bytes;  // 0 until read; the environment needs no allocation to read
  if (bytes == 0) {
    const char* text = getenv("TESS_JOB_MEMORY_BYTES");
    const long long value = text != NULL ? atoll(text) : 1;
    bytes = value > 0 ? (size_t)value : 1;
  }
  return bytes;
}

static int job_thread(void) {
  if (t_job_thread) return 1;
  char name[17] = {0};
  if (prctl(PR_GET_NAME, name, 0, 0, 0) == 0 && strcmp(name, "tess-job") == 0) t_job_thread = 1;
  return t_job_thread;
}

void* malloc(size_t size) {
  if (size >= smallest_failing() && job_thread()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  if (count * size >= smallest_failing() && job_thread()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
  if (size >= smallest_failing() && job_thread()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_realloc(block, size);
}

/* Heap meter for the benchmark, loaded with LD_PRELOAD: counts the bytes held by malloc and its
 * relatives (as malloc_usable_size reports them) and, when the process ends, writes
 * "peak_bytes current_bytes\n" to the file named by BENCH_HEAP_OUT. The peak is the program's
 * memory beyond its mapped files, code and stack. Single-threaded programs only need the atomics
 * for signal safety; they cost nothing measurable next to malloc itself. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* p, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void __libc_free(void* p);

static long long current_bytes;
static long long peak_bytes;

static void Add(void* p) {
  if (!p) return;
  long long now = __atomic_add_fetch(&current_bytes, (long long)malloc_usable_size(p), __ATOMIC_RELAXED);
  if (now > peak_bytes) peak_bytes = now;
}

static void Remove(void* p) {
  if (p) __atomic_sub_fetch(&current_bytes, (long long)malloc_usable_size(p), __ATOMIC_RELAXED);
}

void* malloc(size_t size) {
  void* p = __libc_malloc(size);
  Add(p);
  return p;
}

void* calloc(size_t count, size_t size) {
  void* p = __libc_calloc(count, size);
  Add(p);
  return p;
}

void* realloc(void* old, size_t size) {
  size_t old_size = old ? malloc_usable_size(old) : 0;
  void* p = __libc_realloc(old, size);
  if (!p && size != 0) return p; /* failed: the old block stays */
  __atomic_sub_fetch(&current_bytes, (long long)old_size, __ATOMIC_RELAXED);
  Add(p);
  return p;
}

void free(void* p) {
  Remove(p);
  __libc_free(p);
}

void* memalign(size_t alignment, size_t size) {
  void* p = __libc_memalign(alignment, size);
  Add(p);
  return p;
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
  void* p = __libc_memalign(alignment, size);
  if (!p) return 12; /* ENOMEM */
  Add(p);
  *out = p;
  return 0;
}

void* valloc(size_t size) { return memalign((size_t)sysconf(_SC_PAGESIZE), size); }

void* pvalloc(size_t size) {
  size_t page = (size_t)sysconf(_SC_PAGESIZE);
  return memalign(page, (size + page - 1) / page * page);
}

__attribute__((destructor)) static void Report(void) {
  const char* path = getenv("BENCH_HEAP_OUT");
  if (!path || !*path) return;
  char line[64];
  int n = snprintf(line, sizeof line, "%lld %lld\n", peak_bytes, current_bytes);
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, line, (size_t)n) != n) { /* nothing to do: the report is best effort */ }
  close(fd);
}

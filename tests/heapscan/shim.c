/* A free(3) interposer for the heap-scan test, loaded with LD_PRELOAD.
 *
 * While armed, every block the process frees (through free or realloc) is
 * kept back, with the stack it was freed from, instead of going back to the
 * heap. heapscan_release() then searches each kept block, over its whole
 * usable size, for the byte patterns registered with heapscan_watch(),
 * reports every find on stderr with that stack, and frees the blocks.
 * Outside an armed window each freed block is zeroed before it is freed, so
 * that no earlier content (the test's own copies of keys) can reappear in a
 * block handed out during the window.
 *
 * The interposer never allocates: its tables are static or mmap'd, and it
 * frees through glibc's __libc_free. One spin lock serialises it. */
#define _GNU_SOURCE
#include <execinfo.h>
#include <malloc.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

extern void* __libc_malloc(size_t);
extern void __libc_free(void*);

#define EXPORT __attribute__((visibility("default")))

enum { kMaxPatterns = 64, kMaxPatternLen = 512, kFrames = 12, kMaxKept = 1 << 20 };

struct Pattern {
  char name[64];
  unsigned char bytes[kMaxPatternLen];
  size_t len;
  size_t hits;
};

struct Kept {
  void* block;
  size_t size;
  int frames;
  void* stack[kFrames];
};

static struct Pattern g_patterns[kMaxPatterns];
static int g_pattern_count;
static struct Kept* g_kept; /* mmap'd, kMaxKept entries */
static size_t g_kept_count;
static size_t g_overflow;
static int g_armed;
static int g_paused;
static atomic_flag g_lock = ATOMIC_FLAG_INIT;
static __thread int t_inside; /* set while this thread holds the lock */

static void lock(void) {
  while (atomic_flag_test_and_set_explicit(&g_lock, memory_order_acquire)) {
  }
}
static void unlock(void) { atomic_flag_clear_explicit(&g_lock, memory_order_release); }

static void say(const char* text) {
  ssize_t ignored = write(2, text, strlen(text));
  (void)ignored;
}

/* scan counts and reports every registered pattern found in `block`. */
static void scan(const unsigned char* block, size_t size, void* const* stack, int frames) {
  for (int i = 0; i < g_pattern_count; ++i) {
    struct Pattern* p = &g_patterns[i];
    const unsigned char* at = memmem(block, size, p->bytes, p->len);
    if (at == NULL) continue;
    ++p->hits;
    char line[256];
    snprintf(line, sizeof line, "heapscan: \"%.63s\" in a freed block of %zu bytes, at offset %zu; freed from:\n",
             p->name, size, (size_t)(at - block));
    say(line);
    if (frames > 0) backtrace_symbols_fd(stack, frames, 2);
  }
}

static void release_one(void* block, size_t size) {
  memset(block, 0, size);
  __libc_free(block);
}

/* dispose frees `block`, or keeps it while armed. */
static void dispose(void* block) {
  const size_t size = malloc_usable_size(block);
  if (t_inside) { /* a free from inside the interposer: let it through */
    release_one(block, size);
    return;
  }
  lock();
  if (!g_armed || g_paused) {
    unlock();
    release_one(block, size);
    return;
  }
  t_inside = 1;
  void* stack[kFrames];
  const int frames = backtrace(stack, kFrames);
  if (g_kept != NULL && g_kept_count < kMaxKept) {
    struct Kept* k = &g_kept[g_kept_count++];
    k->block = block;
    k->size = size;
    k->frames = frames;
    memcpy(k->stack, stack, sizeof stack);
    t_inside = 0;
    unlock();
    return;
  }
  ++g_overflow;
  scan(block, size, stack, frames);
  t_inside = 0;
  unlock();
  release_one(block, size);
}

EXPORT void free(void* block) {
  if (block != NULL) dispose(block);
}

EXPORT void* realloc(void* block, size_t size) {
  if (block == NULL) return __libc_malloc(size);
  if (size == 0) {
    dispose(block);
    return NULL;
  }
  /* Always move, so the old block is seen as freed. */
  void* moved = __libc_malloc(size);
  if (moved == NULL) return NULL;
  const size_t old = malloc_usable_size(block);
  memcpy(moved, block, old < size ? old : size);
  dispose(block);
  return moved;
}

__attribute__((constructor)) static void heapscan_init(void) {
  void* warm[2];
  backtrace(warm, 2); /* loads the unwinder now, not inside free */
  void* m = mmap(NULL, sizeof(struct Kept) * (size_t)kMaxKept, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  g_kept = m == MAP_FAILED ? NULL : (struct Kept*)m;
}

/* heapscan_present tells the driver that the interposer is loaded. */
EXPORT int heapscan_present(void) { return g_kept != NULL; }

/* heapscan_watch registers `len` bytes of `pattern` under `name`. */
EXPORT int heapscan_watch(const char* name, const void* pattern, size_t len) {
  if (len == 0 || len > kMaxPatternLen) return 0;
  lock();
  int ok = 0;
  if (g_pattern_count < kMaxPatterns) {
    struct Pattern* p = &g_patterns[g_pattern_count++];
    snprintf(p->name, sizeof p->name, "%s", name);
    memcpy(p->bytes, pattern, len);
    p->len = len;
    p->hits = 0;
    ok = 1;
  }
  unlock();
  return ok;
}

/* heapscan_arm starts (1) or stops (0) keeping freed blocks. */
EXPORT void heapscan_arm(int on) {
  lock();
  g_armed = on;
  unlock();
}

/* heapscan_pause lets frees through, zeroed, while the driver works out its
 * patterns inside an armed window. */
EXPORT void heapscan_pause(int on) {
  lock();
  g_paused = on;
  unlock();
}

/* heapscan_release scans and frees every kept block; it returns how many
 * blocks it scanned. */
EXPORT size_t heapscan_release(void) {
  lock();
  t_inside = 1;
  const size_t n = g_kept_count;
  for (size_t i = 0; i < n; ++i) {
    struct Kept* k = &g_kept[i];
    scan(k->block, k->size, k->stack, k->frames);
    release_one(k->block, k->size);
  }
  g_kept_count = 0;
  t_inside = 0;
  unlock();
  return n;
}

/* heapscan_hits is the number of blocks `name` was found in. */
EXPORT size_t heapscan_hits(const char* name) {
  size_t hits = 0;
  lock();
  for (int i = 0; i < g_pattern_count; ++i) {
    if (strcmp(g_patterns[i].name, name) == 0) hits += g_patterns[i].hits;
  }
  unlock();
  return hits;
}

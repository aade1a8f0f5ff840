/* Preloaded into 32-bit Wine processes that run under qemu-i386 (user mode),
 * to work around the ways in which qemu 7.2 differs from a real kernel that
 * Wine runs into: mmap placement, trap numbers, and segment reloads.
 * scripts/env/wine-qemu.sh builds it at run time with `gcc -m32 -nostdlib`, so it
 * needs no 32-bit C library headers or multilib packages: it includes no
 * header and declares the few C library entry points and layouts it uses.
 */

typedef unsigned int size_t;
typedef long long off64_t;

/* The i386 glibc ABI, as far as this file needs it. */
#define RTLD_NEXT ((void *)-1L)
#define MAP_FAILED ((void *)-1L)
#define O_RDONLY 0
#define MAP_FIXED_NOREPLACE 0x100000
#define EEXIST 17
#define ENOSYS 38
#define SYS_set_thread_area 243
#define SA_SIGINFO 4
#define SIGILL 4
#define SIGTRAP 5
#define SIGFPE 8
#define SIGSEGV 11
#define MAX_SIGNAL 65
#define FPE_INTDIV 1
#define FPE_INTOVF 2
#define SEGV_MAPERR 1
#define SEGV_ACCERR 2
#define TRAP_TRACE 2
/* Index of the trap number among the saved registers (REG_TRAPNO), and the
 * byte offset of those registers in the i386 ucontext. */
#define REG_TRAPNO 12
#define UCONTEXT_GREGS 20

/* x86 exception vectors, as a real kernel reports them. */
#define TRAP_DIVIDE 0
#define TRAP_SINGLE_STEP 1
#define TRAP_BREAKPOINT 3
#define TRAP_OVERFLOW 4
#define TRAP_INVALID_OPCODE 6
#define TRAP_PROTECTION 13
#define TRAP_PAGE_FAULT 14
#define TRAP_FPU_ERROR 16

typedef struct {
  int si_signo;
  int si_errno;
  int si_code;
} siginfo_head;

typedef void (*signal_action)(int, siginfo_head *, void *);

struct sigaction_abi {
  signal_action handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

extern void *dlsym(void *handle, const char *name);
extern int *__errno_location(void);
extern int open(const char *path, int flags, ...);
extern long read(int fd, void *buffer, size_t size);
extern int close(int fd);
long syscall(long number, ...);
int munmap(void *address, size_t length);

/* The C library's own function behind one this file replaces. */
static void *next(const char *name) { return dlsym(RTLD_NEXT, name); }

/* The guest's mappings as qemu shows them in /proc/self/maps: a picture that
 * answers "is this range taken?" without asking the emulator. It may be out of
 * date, but only in the safe direction: a range it calls free is still checked
 * by the real call, and it is read again after any unmapping. */
#define MAX_RANGES 8192
static struct { unsigned long start, end; } taken[MAX_RANGES];
static int taken_count = -1; /* -1: to be read */
static char maps_text[512 * 1024];

static unsigned long parse_hex(const char **text) {
  unsigned long value = 0;
  for (;; ++*text) {
    char c = **text;
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return value;
    value = value * 16 + digit;
  }
}

static void note_taken(unsigned long start, unsigned long end) {
  if (taken_count >= 0 && taken_count < MAX_RANGES) {
    taken[taken_count].start = start;
    taken[taken_count++].end = end;
  }
}

static void read_maps(void) {
  long size = 0, got;
  const char *line;
  int fd = open("/proc/self/maps", O_RDONLY);
  taken_count = 0;
  if (fd < 0) return;
  while (size < (long)sizeof maps_text - 1 && (got = read(fd, maps_text + size, sizeof maps_text - 1 - size)) > 0)
    size += got;
  close(fd);
  maps_text[size] = 0;
  for (line = maps_text; *line;) {
    unsigned long start = parse_hex(&line), end;
    ++line; /* the '-' between the two addresses */
    end = parse_hex(&line);
    note_taken(start, end);
    while (*line && *line++ != '\n') {}
  }
}

static int is_taken(unsigned long start, unsigned long length) {
  int i;
  if (taken_count < 0) read_maps();
  for (i = 0; i < taken_count; ++i)
    if (start < taken[i].end && taken[i].start < start + length) return 1;
  return 0;
}

/* Wine reserves its address space at start with MAP_FIXED_NOREPLACE mappings,
 * halving each range that is taken until it reaches 64 KiB pieces, and places
 * later mappings the same way. qemu 7.2 treats MAP_FIXED_NOREPLACE as a mere
 * hint: for a taken range it searches its whole address space for another
 * place and maps there, and Wine unmaps that again. Tens of thousands of such
 * calls take about a minute per process start. Answering EEXIST at once for a
 * range that is taken, as the kernel does, brings that under a second. */
void *mmap64(void *address, size_t length, int protection, int flags, int fd, off64_t offset) {
  typedef void *(*mmap64_fn)(void *, size_t, int, int, int, off64_t);
  static mmap64_fn real;
  unsigned long start = (unsigned long)address;
  void *result;
  if (!real) real = (mmap64_fn)next("mmap64");
  if ((flags & MAP_FIXED_NOREPLACE) && is_taken(start, length)) {
    *__errno_location() = EEXIST;
    return MAP_FAILED;
  }
  result = real(address, length, protection, flags, fd, offset);
  if (result == MAP_FAILED) return result;
  if ((flags & MAP_FIXED_NOREPLACE) && result != address) {
    /* Taken after all, by a mapping made without this library. */
    munmap(result, length);
    taken_count = -1;
    *__errno_location() = EEXIST;
    return MAP_FAILED;
  }
  note_taken((unsigned long)result, (unsigned long)result + length);
  return result;
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, long offset) {
  return mmap64(address, length, protection, flags, fd, offset);
}

int munmap(void *address, size_t length) {
  typedef int (*munmap_fn)(void *, size_t);
  static munmap_fn real;
  if (!real) real = (munmap_fn)next("munmap");
  taken_count = -1;
  return real(address, length);
}

/* The exception vector a real kernel would have put in the context. */
static int trap_number(int signal, int code) {
  switch (signal) {
  case SIGSEGV:
    return code == SEGV_MAPERR || code == SEGV_ACCERR ? TRAP_PAGE_FAULT : TRAP_PROTECTION;
  case SIGFPE:
    return code == FPE_INTDIV ? TRAP_DIVIDE : code == FPE_INTOVF ? TRAP_OVERFLOW : TRAP_FPU_ERROR;
  case SIGTRAP:
    return code == TRAP_TRACE ? TRAP_SINGLE_STEP : TRAP_BREAKPOINT;
  default:
    return TRAP_INVALID_OPCODE;
  }
}

static signal_action wine_handlers[MAX_SIGNAL];

/* qemu leaves -1 as the trap number of the signal context for faults of the
 * emulated program. Wine's handlers decide from that number what happened
 * (a page fault is an access violation, or a guard page that grows a stack),
 * and take -1 for an illegal instruction. Fill in what the kernel would. */
static void fill_in_trap_number(int signal, siginfo_head *info, void *context) {
  int *trap = (int *)((char *)context + UCONTEXT_GREGS) + REG_TRAPNO;
  if (*trap == -1) *trap = trap_number(signal, info->si_code);
}

static int is_fault_signal(int signal) {
  return signal == SIGSEGV || signal == SIGILL || signal == SIGFPE || signal == SIGTRAP;
}

/* glibc points %gs at each thread's own TLS through one GDT entry, which the
 * kernel keeps per thread; qemu keeps one GDT for the whole process, last
 * written by the thread started last, and reloads %gs from it whenever a
 * signal handler returns (and Wine's handlers load %gs themselves). A thread
 * that reloads after another thread started goes on with the newer thread's
 * TLS. Wine's unix side finds its TEB there (pthread_getspecific), so the
 * thread then uses another thread's server pipes and identity, and waits for
 * replies that never come. Every thread therefore gets an LDT entry of its
 * own with its TLS base (see own_tls_selector below), so that every reload
 * finds its own. Threads that still use the GDT entry (started before this
 * library, or past the LDT's room) are covered by writing their base back
 * into the entry just before a handler returns. */
static void keep_own_tls(unsigned int selector, unsigned int base) {
  struct { unsigned int entry_number, base_addr, limit, flags; } desc;
  if (selector & 4) return; /* an LDT selector: not shared this way */
  desc.entry_number = selector >> 3;
  desc.base_addr = base;
  desc.limit = 0xfffff;
  desc.flags = 1 | 1 << 4 | 1 << 6; /* 32-bit, limit in pages, usable */
  syscall(SYS_set_thread_area, &desc);
}

#define SYS_modify_ldt 123
#define SYS_rt_sigprocmask 175
#define SYS_sched_yield 158
#define SIG_SETMASK 2
#define LDT_ENTRIES 8192
/* Wine allocates its own LDT entries (each thread's %fs) from the bottom up;
 * the TLS entries are taken from the top down, far from Wine's. */
#define FIRST_TLS_LDT_ENTRY (LDT_ENTRIES - 1)
#define LAST_TLS_LDT_ENTRY 4096

static int next_tls_ldt_entry = FIRST_TLS_LDT_ENTRY;
/* The GDT entry glibc gave the main thread's TLS, which it hands on to every
 * thread it starts. */
static unsigned int gdt_tls_selector;

/* Points %gs at an LDT entry of this thread's own, with the base it has now.
 * Keeps the GDT selector where the LDT is full or cannot be written. */
static void own_tls_selector(void) {
  struct { unsigned int entry_number, base_addr, limit, flags; } desc;
  unsigned int selector, base;
  int entry;
  __asm__ volatile("movl %%gs, %0" : "=r"(selector));
  if (selector & 4) return; /* already in the LDT */
  gdt_tls_selector = selector;
  __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
  entry = __sync_fetch_and_sub(&next_tls_ldt_entry, 1);
  if (entry < LAST_TLS_LDT_ENTRY) return;
  desc.entry_number = entry;
  desc.base_addr = base;
  desc.limit = 0xfffff;
  desc.flags = 1 | 1 << 4 | 1 << 6; /* 32-bit, limit in pages, usable */
  if (syscall(SYS_modify_ldt, 1, &desc, sizeof desc) != 0) return;
  selector = entry << 3 | 4 | 3; /* LDT, user privilege */
  __asm__ volatile("movl %0, %%gs" : : "r"(selector));
}

/* The main thread moves before Wine notes its %gs for its signal handlers. */
__attribute__((constructor)) static void own_tls_for_main_thread(void) { own_tls_selector(); }

/* glibc's pthread_create passes the new thread's TLS to clone as a GDT entry
 * whose number it takes from the caller's %gs, so the caller must be on the
 * GDT entry while it creates a thread, with its own base written there. One
 * thread is created at a time, with the caller's signals blocked, until the
 * new thread has moved to an LDT entry of its own: nothing else writes the
 * GDT entry meanwhile. */
typedef struct {
  void *(*start)(void *);
  void *argument;
  unsigned long signals[2]; /* the caller's mask, which the thread starts with */
  volatile int moved;
} thread_start;
static volatile int creating; /* a spin lock: held for a few microseconds */

static void *start_on_own_selector(void *opaque) {
  thread_start *start = opaque;
  void *(*routine)(void *) = start->start;
  void *argument = start->argument;
  own_tls_selector();
  syscall(SYS_rt_sigprocmask, SIG_SETMASK, start->signals, 0, 8);
  __sync_synchronize();
  start->moved = 1; /* start is the creator's, and may be gone after this */
  return routine(argument);
}

int pthread_create(void *thread, const void *attributes, void *(*routine)(void *), void *argument) {
  typedef int (*create_fn)(void *, const void *, void *(*)(void *), void *);
  static create_fn real;
  unsigned long all_signals[2] = {~0ul, ~0ul};
  unsigned int selector, base;
  thread_start start = {routine, argument, {0, 0}, 0};
  int result;
  if (!real) real = (create_fn)next("pthread_create");
  __asm__ volatile("movl %%gs, %0" : "=r"(selector));
  if (!(selector & 4) || !gdt_tls_selector) return real(thread, attributes, routine, argument);
  syscall(SYS_rt_sigprocmask, SIG_SETMASK, all_signals, start.signals, 8);
  while (__sync_lock_test_and_set(&creating, 1)) syscall(SYS_sched_yield);
  __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
  keep_own_tls(gdt_tls_selector, base);
  __asm__ volatile("movl %0, %%gs" : : "r"(gdt_tls_selector));
  result = real(thread, attributes, start_on_own_selector, &start);
  if (result == 0)
    while (!start.moved) syscall(SYS_sched_yield);
  __asm__ volatile("movl %0, %%gs" : : "r"(selector));
  __sync_lock_release(&creating);
  syscall(SYS_rt_sigprocmask, SIG_SETMASK, start.signals, 0, 8);
  return result;
}

/* In front of every handler of Wine's: the fixes above, then Wine's handler. */
static void before_wine_handler(int signal, siginfo_head *info, void *context) {
  unsigned int selector, base;
  __asm__ volatile("movl %%gs, %0" : "=r"(selector));
  /* glibc's thread control block starts with a pointer to itself. */
  __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
  if (is_fault_signal(signal)) fill_in_trap_number(signal, info, context);
  wine_handlers[signal](signal, info, context);
  keep_own_tls(selector & 0xffff, base);
}

/* Installs before_wine_handler in front of every handler that takes the
 * signal context, and reports the caller's own handler back where it asks
 * for the previous one. */
int sigaction(int signal, const struct sigaction_abi *action, struct sigaction_abi *previous) {
  typedef int (*sigaction_fn)(int, const struct sigaction_abi *, struct sigaction_abi *);
  static sigaction_fn real;
  struct sigaction_abi wrapped;
  signal_action replaced = 0;
  int result;
  if (!real) real = (sigaction_fn)next("sigaction");
  if (signal <= 0 || signal >= MAX_SIGNAL) return real(signal, action, previous);
  replaced = wine_handlers[signal];
  if (action && (action->flags & SA_SIGINFO)) {
    wrapped = *action;
    wrapped.handler = before_wine_handler;
    wine_handlers[signal] = action->handler;
    action = &wrapped;
  }
  result = real(signal, action, previous);
  if (result == 0 && previous && previous->handler == before_wine_handler) previous->handler = replaced;
  return result;
}

/* The first field of the descriptor that set_thread_area takes. */
struct thread_area_head {
  unsigned int entry_number;
};

/* Wine points %fs at each thread's TEB; its system call dispatcher finds the
 * thread's frame there. Where set_thread_area can allocate a GDT entry, Wine
 * uses that one entry for every thread, as the kernel keeps the GDT's TLS
 * entries per thread. qemu keeps one GDT for the whole process and reloads
 * the segment registers from it when a signal handler returns, so a thread
 * that takes a signal after a newer thread started would go on with the
 * newer thread's TEB. Refusing the allocation makes Wine give each thread a
 * selector of its own in the LDT, which is shared between threads on a real
 * kernel too, so every reload finds the thread's own TEB. */
long syscall(long number, ...) {
  typedef long (*syscall_fn)(long, ...);
  static syscall_fn real;
  __builtin_va_list list;
  long a1, a2, a3, a4, a5, a6;
  /* Six arguments, the most any system call takes; reading more than the
   * caller passed only reads its stack. */
  __builtin_va_start(list, number);
  a1 = __builtin_va_arg(list, long);
  a2 = __builtin_va_arg(list, long);
  a3 = __builtin_va_arg(list, long);
  a4 = __builtin_va_arg(list, long);
  a5 = __builtin_va_arg(list, long);
  a6 = __builtin_va_arg(list, long);
  __builtin_va_end(list);
  if (!real) real = (syscall_fn)next("syscall");
  if (number == SYS_set_thread_area && a1 && ((struct thread_area_head *)a1)->entry_number == (unsigned int)-1) {
    *__errno_location() = ENOSYS;
    return -1;
  }
  return real(number, a1, a2, a3, a4, a5, a6);
}

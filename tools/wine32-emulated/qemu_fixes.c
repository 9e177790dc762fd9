/* Preloaded into Wine's 32-bit loader when it runs under qemu-i386 user-mode emulation (see
 * loader.sh), to make up for three ways in which qemu 7.2 differs from a Linux kernel that Wine
 * depends on:
 *
 * 1. mmap with MAP_FIXED_NOREPLACE: qemu takes the address as a hint and maps elsewhere when it
 *    is taken. Wine reserves its address space by trying addresses one after another and takes
 *    a mapping elsewhere for "try the next one", so each process start makes tens of thousands
 *    of calls (about 45 s). Here such a mapping fails with EEXIST, as on Linux.
 * 2. Signal context: qemu leaves the trap number at -1, and Wine's handlers decide by it what a
 *    fault was ("Got unexpected trap -1", and the program dies). Here it is filled in from the
 *    signal and its code, the way the kernel would have reported the fault.
 * 3. Thread segments: qemu keeps one descriptor table for all threads, so a thread-local GDT
 *    entry holds the base that the last thread gave it, while Linux switches it with the thread.
 *    A thread that reloads such a selector takes another thread's base. Wine reloads %fs and %gs
 *    in its signal handlers and when a system call returns with a whole context (NtContinue,
 *    which ends every exception that is unwound or continued), and qemu's sigreturn reloads them
 *    again. With the C library's %gs that means another thread's (perhaps an ended thread's)
 *    thread-local data, where Wine's Unix side keeps its TEB: NtCurrentTeb() then reads null, or
 *    the other thread's TEB, and the thread faults or talks to wineserver as that other thread.
 *    qemu reports it as "uncaught target signal 11": DOSBox died so in about half its starts,
 *    and a 32-bit GoogleTest program at its first failure (GoogleTest has started a thread by
 *    then, and the failure's OutputDebugStringA raises an exception that ends in NtContinue).
 *    Here Wine is refused the GDT entry it asks for its TEB, so it gives each thread an LDT
 *    selector of its own (its way on kernels without set_thread_area), and each thread moves its
 *    %gs to an LDT entry of its own too, before Wine notes it (Wine then leaves the LDT's first
 *    512 entries to the C library); pthread_create is wrapped for that. A thread whose %gs is
 *    still the GDT entry (where no LDT entry was free) is covered by the wrapping of every signal
 *    handler, which writes the thread's own %gs base back into the shared entry before the
 *    handler runs and again before sigreturn.
 *
 * Not made up for: a thread that the C library starts without pthread_create (timer threads of
 * SIGEV_THREAD, POSIX aio; Wine 8.0 does not seem to use them) shares its creator's %gs base; a
 * thread left on the shared GDT entry (all 511 LDT entries taken) is covered in its signal
 * handlers but not when NtContinue reloads %gs; and qemu's other differences from Linux, where
 * Wine does not run into them.
 *
 * Built with gcc -m32 -nostdlib (no 32-bit C library headers are needed), so the few types and
 * constants of the i386 Linux ABI used here are spelt out. */

typedef unsigned int size_t;
typedef long off_t;
typedef long long off64_t;

#define MAP_FIXED_NOREPLACE 0x100000
#define MAP_FAILED ((void*)-1)
#define EEXIST 17
#define ENOSYS 38
#define RTLD_NEXT ((void*)-1)

extern void* dlsym(void* module, const char* name);
extern int* __errno_location(void);
extern int munmap(void* address, size_t size);
extern int close(int descriptor);

static void* RefuseElsewhere(void* wanted, void* got, size_t size, int flags) {
  if ((flags & MAP_FIXED_NOREPLACE) == 0 || got == MAP_FAILED || got == wanted) return got;
  munmap(got, size);
  *__errno_location() = EEXIST;
  return MAP_FAILED;
}

void* mmap64(void* address, size_t size, int protection, int flags, int fd, off64_t offset) {
  static void* (*real)(void*, size_t, int, int, int, off64_t);
  if (!real) real = (void* (*)(void*, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
  return RefuseElsewhere(address, real(address, size, protection, flags, fd, offset), size, flags);
}

void* mmap(void* address, size_t size, int protection, int flags, int fd, off_t offset) {
  static void* (*real)(void*, size_t, int, int, int, off_t);
  if (!real) real = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
  return RefuseElsewhere(address, real(address, size, protection, flags, fd, offset), size, flags);
}

#define SIGILL 4
#define SIGTRAP 5
#define SIGBUS 7
#define SIGFPE 8
#define SIGSEGV 11
#define SA_SIGINFO 4
#define SI_KERNEL 0x80
#define SEGV_MAPERR 1
#define SEGV_ACCERR 2
#define FPE_INTDIV 1
#define FPE_INTOVF 2

struct SignalInfo {
  int number, error, code;
};
/* The start of the i386 ucontext_t: flags, link, the signal stack, then the registers. */
struct SignalContext {
  unsigned long flags;
  void* link;
  void* stack;
  int stackFlags;
  size_t stackSize;
  int registers[19];
};
#define REG_TRAPNO 12
typedef void (*Handler)(int, struct SignalInfo*, void*);
/* glibc's struct sigaction on i386. */
struct Action {
  Handler handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

/* The x86 exception that makes the kernel raise `signal` with `code`; -1 for signals that no
 * exception raises. */
static int TrapOf(int signal, int code) {
  switch (signal) {
    case SIGSEGV: /* page fault, else a general protection fault (SI_KERNEL) */
      return code == SEGV_MAPERR || code == SEGV_ACCERR ? 14 : 13;
    case SIGBUS: /* segment not present or stack fault: handled as a protection fault */
      return 13;
    case SIGILL:
      return 6;
    case SIGFPE: /* integer divide error, else an x87 floating-point error */
      return code == FPE_INTDIV || code == FPE_INTOVF ? 0 : 16;
    case SIGTRAP: /* breakpoint (int3, SI_KERNEL), else single step */
      return code == SI_KERNEL ? 3 : 1;
  }
  return -1;
}

static Handler wineHandlers[32];

/* struct user_desc of set_thread_area: the entry, its base and limit, then the flag bits. */
struct SegmentDescriptor {
  unsigned entry, base, limit, flags;
};
#define SEGMENT_32BIT 1
#define SEGMENT_LIMIT_IN_PAGES (1 << 4)
#define SEGMENT_USEABLE (1 << 6)
#define SYS_set_thread_area 243

/* Writes this thread's %gs base (the C library's thread block, which starts with a pointer to
 * itself) back into the GDT entry that its selector names, as the C library set it up. */
static void KeepThreadSegment(void) {
  unsigned short selector;
  __asm__ volatile("movw %%gs, %0" : "=r"(selector));
  if (selector == 0 || (selector & 4) != 0) return; /* none, or an LDT selector */
  struct SegmentDescriptor descriptor = {selector >> 3, 0, 0xfffff,
                                         SEGMENT_32BIT | SEGMENT_LIMIT_IN_PAGES | SEGMENT_USEABLE};
  __asm__ volatile("movl %%gs:0, %0" : "=r"(descriptor.base));
  int result;
  __asm__ volatile("pushl %%ebx\n\tmovl %2, %%ebx\n\tint $0x80\n\tpopl %%ebx"
                   : "=a"(result)
                   : "0"(SYS_set_thread_area), "r"(&descriptor)
                   : "memory");
}

static void Wrapped(int signal, struct SignalInfo* info, void* context) {
  struct SignalContext* state = context;
  KeepThreadSegment();
  if (state->registers[REG_TRAPNO] == -1) state->registers[REG_TRAPNO] = TrapOf(signal, info->code);
  wineHandlers[signal](signal, info, context);
  KeepThreadSegment();
}

int sigaction(int signal, const struct Action* action, struct Action* previous) {
  static int (*real)(int, const struct Action*, struct Action*);
  if (!real)
    real = (int (*)(int, const struct Action*, struct Action*))dlsym(RTLD_NEXT, "sigaction");
  const int wrappable = signal > 0 && signal < 32;
  const Handler before = wrappable ? wineHandlers[signal] : 0;
  struct Action wrapped;
  /* Only real handlers that take the context are wrapped, not SIG_DFL (0) or SIG_IGN (1). */
  if (wrappable && action && (action->flags & SA_SIGINFO) && (unsigned long)action->handler > 1) {
    wrapped = *action;
    wineHandlers[signal] = action->handler;
    wrapped.handler = Wrapped;
    action = &wrapped;
  }
  const int result = real(signal, action, previous);
  if (result == 0 && previous && previous->handler == Wrapped) previous->handler = before;
  return result;
}

#define SYS_modify_ldt 123
#define LDT_WRITE 0x11
#define SIG_SETMASK 2
/* The LDT entries that Wine leaves to the C library once the first thread's %gs is an LDT
 * selector. Entry 0 is not used. */
#define LIBRARY_ENTRIES 512

extern void* malloc(size_t size);
extern void free(void* block);
extern int pthread_key_create(unsigned* key, void (*destructor)(void*));
extern int pthread_setspecific(unsigned key, const void* value);
extern int pthread_sigmask(int how, const unsigned long* set, unsigned long* previous);
extern int sched_yield(void);
long syscall(long number, long a, long b, long c, long d, long e, long f);

static volatile char entryTaken[LIBRARY_ENTRIES];
static unsigned nextEntry = 1;
static unsigned entryKey;          /* its value in a thread: the thread's entry, freed at its end */
static unsigned short gdtSelector; /* the C library's %gs selector, before it was moved */
static volatile int creating;      /* a thread's pthread_create has that selector in %gs */

static void FreeEntry(void* entry) { entryTaken[(unsigned)entry] = 0; }

__attribute__((constructor)) static void MakeEntryKey(void) {
  pthread_key_create(&entryKey, FreeEntry);
}

/* Writes `base` into the segment descriptor `entry` of the GDT (set_thread_area) or the LDT. */
static long WriteEntry(unsigned entry, unsigned base, int inLdt) {
  struct SegmentDescriptor descriptor = {entry, base, 0xfffff,
                                         SEGMENT_32BIT | SEGMENT_LIMIT_IN_PAGES | SEGMENT_USEABLE};
  if (inLdt)
    return syscall(SYS_modify_ldt, LDT_WRITE, (long)&descriptor, sizeof descriptor, 0, 0, 0);
  return syscall(SYS_set_thread_area, (long)&descriptor, 0, 0, 0, 0, 0);
}

/* Moves this thread's %gs from the shared GDT entry to an LDT entry of its own with the same base.
 * Entries are handed out in turn, so that an ended thread's entry is taken again only long after
 * its end. Where none is free, the thread keeps the GDT entry. */
static void TakeOwnEntry(void) {
  unsigned short selector;
  unsigned base;
  __asm__ volatile("movw %%gs, %0" : "=r"(selector));
  if (selector == 0 || (selector & 4) != 0) return;
  __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
  for (int tries = 0; tries < LIBRARY_ENTRIES; ++tries) {
    const unsigned entry = __sync_fetch_and_add(&nextEntry, 1) % LIBRARY_ENTRIES;
    if (entry == 0 || !__sync_bool_compare_and_swap(&entryTaken[entry], 0, 1)) continue;
    if (WriteEntry(entry, base, 1) != 0) {
      entryTaken[entry] = 0;
      return;
    }
    gdtSelector = selector;
    selector = (unsigned short)(entry << 3 | 7);
    __asm__ volatile("movw %0, %%gs" : : "r"(selector));
    pthread_setspecific(entryKey, (void*)entry);
    return;
  }
}

struct Start {
  void* (*routine)(void*);
  void* argument;
  int masked;             /* whether the creator blocked all signals, which the thread inherits */
  unsigned long mask[32]; /* then the mask to go back to */
};

static void* StartWithOwnEntry(void* start) {
  const struct Start copy = *(struct Start*)start;
  free(start);
  TakeOwnEntry();
  if (copy.masked) pthread_sigmask(SIG_SETMASK, copy.mask, 0);
  return copy.routine(copy.argument);
}

/* Every thread started through here moves its %gs to an entry of its own before it runs. The C
 * library sets the new thread's base in the GDT entry that the creator's %gs selector names (an
 * LDT selector would give the new thread the creator's base), so for the call the creator's %gs
 * is that GDT entry again, with its base: one thread at a time, with signals blocked. */
int pthread_create(unsigned long* thread, const void* attributes, void* (*routine)(void*),
                   void* argument) {
  typedef int (*Create)(unsigned long*, const void*, void* (*)(void*), void*);
  static Create real;
  if (!real) real = (Create)dlsym(RTLD_NEXT, "pthread_create");
  struct Start* start = malloc(sizeof *start);
  if (!start) return real(thread, attributes, routine, argument);
  start->routine = routine;
  start->argument = argument;
  unsigned short own;
  unsigned base;
  unsigned long all[32], previous[32];
  __asm__ volatile("movw %%gs, %0" : "=r"(own));
  start->masked = (own & 4) != 0 && gdtSelector != 0;
  if (start->masked) {
    for (int i = 0; i < 32; ++i) all[i] = ~0UL;
    pthread_sigmask(SIG_SETMASK, all, previous);
    for (int i = 0; i < 32; ++i) start->mask[i] = previous[i];
    while (__sync_lock_test_and_set(&creating, 1)) sched_yield();
    __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
    WriteEntry(gdtSelector >> 3, base, 0);
    __asm__ volatile("movw %0, %%gs" : : "r"(gdtSelector));
  }
  const int masked = start->masked; /* the thread may free `start` before the call returns */
  const int result = real(thread, attributes, StartWithOwnEntry, start);
  if (masked) {
    __asm__ volatile("movw %0, %%gs" : : "r"(own));
    __sync_lock_release(&creating);
    pthread_sigmask(SIG_SETMASK, previous, 0);
  }
  if (result != 0) free(start);
  return result;
}

/* Wine asks for a free GDT entry (entry -1) for its TEB selector once, in its first thread, before
 * it starts any other; refused, it uses the LDT, which is one table for the whole process on Linux
 * too. That first thread moves its %gs then, before Wine notes it. Other calls go through. */
long syscall(long number, long a, long b, long c, long d, long e, long f) {
  static long (*real)(long, long, long, long, long, long, long);
  if (!real) real = (long (*)(long, long, long, long, long, long, long))dlsym(RTLD_NEXT, "syscall");
  if (number == SYS_set_thread_area && ((struct SegmentDescriptor*)a)->entry == (unsigned)-1) {
    TakeOwnEntry();
    *__errno_location() = ENOSYS;
    return -1;
  }
  return real(number, a, b, c, d, e, f);
}

/* What follows `prefix` in `text`, or 0 where text does not start with it. */
static const char* After(const char* text, const char* prefix) {
  while (*prefix && *text == *prefix) ++prefix, ++text;
  return *prefix ? 0 : text;
}

/* Wine hands its environment to every program it starts, 64-bit Linux programs among them,
 * which cannot load this library and would complain. Once loaded, it leaves the environment,
 * and closes the descriptor that loader.sh opened it through, which every program Wine starts
 * would otherwise inherit. */
__attribute__((constructor)) static void LeaveTheEnvironment(int argc, char** argv, char** envp) {
  (void)argc;
  (void)argv;
  for (char** entry = envp; *entry; ++entry) {
    const char* value = After(*entry, "LD_PRELOAD=");
    if (!value) continue;
    const char* number = After(value, "/proc/self/fd/");
    int descriptor = 0;
    while (number && *number >= '0' && *number <= '9')
      descriptor = descriptor * 10 + *number++ - '0';
    if (descriptor > 2) close(descriptor);
    do entry[0] = entry[1];
    while (*entry++);
    return;
  }
}

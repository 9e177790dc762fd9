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
 *    A thread that reloads such a selector takes another thread's base; Wine's signal handlers
 *    reload %fs and %gs, and qemu's sigreturn reloads them again. With the C library's %gs that
 *    means another thread's (perhaps an ended thread's) thread-local data: NtCurrentTeb() then
 *    reads null and the handler faults, which qemu reports as "uncaught target signal 11"
 *    (DOSBox died so in about half its starts). Here Wine is refused the GDT entry it asks for
 *    its TEB, so it gives each thread an LDT selector of its own (its way on kernels without
 *    set_thread_area), and every signal handler is wrapped so that the thread's own %gs base is
 *    written back into the shared entry before the handler runs and again before sigreturn.
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

/* Wine asks for a free GDT entry (entry -1) for its TEB selector once; refused, it uses the LDT,
 * which is one table for the whole process on Linux too. Other calls go through. */
long syscall(long number, long a, long b, long c, long d, long e, long f) {
  static long (*real)(long, long, long, long, long, long, long);
  if (!real) real = (long (*)(long, long, long, long, long, long, long))dlsym(RTLD_NEXT, "syscall");
  if (number == SYS_set_thread_area && ((struct SegmentDescriptor*)a)->entry == (unsigned)-1) {
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

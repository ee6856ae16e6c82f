/*
 * trapfix: preloaded into the 32-bit Wine loader when it runs under
 * qemu-i386 (user mode).
 *
 * qemu-user hands signal handlers a sigcontext whose trapno is -1 for
 * faults it raises itself (page faults, divide errors, breakpoints...).
 * Wine's i386 signal handlers decide what happened from trapno, so every
 * access violation turned into "illegal instruction", guard pages were not
 * handled and IsBadReadPtr-style probes crashed.  This shim wraps the
 * handlers that are installed for the fault signals and, when trapno is -1,
 * fills in the x86 trap number that the signal and si_code imply before
 * calling the real handler.
 *
 * The wrapper runs before Wine has restored its own segment registers, so
 * it must not touch TLS (no errno, no stack protector, no libc calls).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <ucontext.h>

typedef void (*sa_handler_t)(int, siginfo_t *, void *);
typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);

static sa_handler_t wrapped[_NSIG];
static sigaction_fn real_sigaction;

static int trap_for(int sig, int code)
{
    switch (sig)
    {
    case SIGSEGV:
        if (code == SEGV_MAPERR || code == SEGV_ACCERR) return 14; /* page fault */
        return 13;                                                  /* general protection */
    case SIGBUS:
        return 13;
    case SIGFPE:
        if (code == FPE_INTDIV) return 0;  /* divide error */
        if (code == FPE_INTOVF) return 4;  /* overflow */
        return 16;                         /* x87 floating point */
    case SIGTRAP:
        if (code == TRAP_TRACE) return 1;  /* single step */
        return 3;                          /* breakpoint */
    case SIGILL:
        return 6;                          /* invalid opcode */
    }
    return -1;
}

__attribute__((optimize("no-stack-protector")))
static void trampoline(int sig, siginfo_t *info, void *ctx)
{
    ucontext_t *uc = ctx;
    if (uc && info && (int)uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
        uc->uc_mcontext.gregs[REG_TRAPNO] = trap_for(sig, info->si_code);
    if (sig > 0 && sig < _NSIG && wrapped[sig]) wrapped[sig](sig, info, ctx);
}

static int is_fault_signal(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGTRAP || sig == SIGILL;
}

int sigaction(int sig, const struct sigaction *act, struct sigaction *old)
{
    if (!real_sigaction) real_sigaction = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    if (!act || !is_fault_signal(sig) || !(act->sa_flags & SA_SIGINFO))
    {
        int ret = real_sigaction(sig, act, old);
        if (!ret && act && is_fault_signal(sig)) wrapped[sig] = NULL;
        if (!ret && old && is_fault_signal(sig) && old->sa_sigaction == trampoline && wrapped[sig])
            old->sa_sigaction = wrapped[sig];
        return ret;
    }
    struct sigaction mine = *act;
    sa_handler_t prev = wrapped[sig];
    wrapped[sig] = act->sa_sigaction;
    mine.sa_sigaction = trampoline;
    int ret = real_sigaction(sig, &mine, old);
    if (ret) wrapped[sig] = prev;
    else if (old && old->sa_sigaction == trampoline) old->sa_sigaction = prev;
    return ret;
}

/* Do not hand the preload on to the processes this one starts. */
__attribute__((constructor)) static void drop_preload(void)
{
    const char *p = getenv("LD_PRELOAD");
    if (p && strstr(p, "trapfix")) unsetenv("LD_PRELOAD");
}

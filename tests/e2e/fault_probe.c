/* Checks that hardware faults reach structured exception handling as the
 * right exceptions, with the right details. Where the shipped program runs
 * under an emulator, these depend on what the emulator tells Wine about each
 * fault; a wrong report turns every access violation (and every guard page
 * that grows a stack) into an illegal instruction, which kills the program.
 *
 *   fault_probe        prints one line per check; exit code = failed checks
 */
#include <windows.h>
#include <setjmp.h>
#include <stdio.h>

static jmp_buf resume_point;
static EXCEPTION_RECORD caught;

static void resume_after_fault(void) { longjmp(resume_point, 1); }

/* Records the exception and continues in resume_after_fault, on the
 * faulting code's stack, which longjmp then leaves. */
static LONG CALLBACK Catch(EXCEPTION_POINTERS *info)
{
    caught = *info->ExceptionRecord;
#ifdef _WIN64
    info->ContextRecord->Rsp = (info->ContextRecord->Rsp & ~(DWORD64)15) - 8;
    info->ContextRecord->Rip = (DWORD64)resume_after_fault;
#else
    info->ContextRecord->Eip = (DWORD)resume_after_fault;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

static int failures;

static void Check(BOOL ok, const char *what)
{
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) failures++;
}

/* Runs fault(argument) and returns what was caught (code 0 when nothing was). */
static EXCEPTION_RECORD Provoke(void (*fault)(volatile char *), volatile char *argument)
{
    ZeroMemory(&caught, sizeof caught);
    if (setjmp(resume_point) == 0) fault(argument);
    return caught;
}

static void ReadFrom(volatile char *p) { (void)*p; }
static void WriteTo(volatile char *p) { *p = 1; }
static void DivideByZero(volatile char *zero) { volatile int n = 10 / *zero; (void)n; }

int main(void)
{
    char zero = 0;
    volatile char *unmapped = (volatile char *)(ULONG_PTR)0x10;
    char *guarded = VirtualAlloc(NULL, 4096, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD);
    EXCEPTION_RECORD r;
    AddVectoredExceptionHandler(1, Catch);

    r = Provoke(ReadFrom, unmapped);
    Check(r.ExceptionCode == EXCEPTION_ACCESS_VIOLATION, "reading an unmapped address is an access violation");
    Check(r.NumberParameters >= 2 && r.ExceptionInformation[0] == 0 && r.ExceptionInformation[1] == 0x10,
          "... a read, at that address");

    r = Provoke(WriteTo, unmapped);
    Check(r.ExceptionCode == EXCEPTION_ACCESS_VIOLATION, "writing an unmapped address is an access violation");
    Check(r.NumberParameters >= 2 && r.ExceptionInformation[0] == 1 && r.ExceptionInformation[1] == 0x10,
          "... a write, at that address");

    r = Provoke(ReadFrom, (volatile char *)guarded);
    Check(r.ExceptionCode == STATUS_GUARD_PAGE_VIOLATION, "touching a guard page raises a guard page violation");
    r = Provoke(ReadFrom, (volatile char *)guarded);
    Check(r.ExceptionCode == 0, "... once: the page is readable after it");

    r = Provoke(DivideByZero, &zero);
    Check(r.ExceptionCode == EXCEPTION_INT_DIVIDE_BY_ZERO, "an integer division by zero is reported as such");

    printf(failures ? "%d failed\n" : "all fault checks passed\n", failures);
    return failures;
}

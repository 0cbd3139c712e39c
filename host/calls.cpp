// Calls into the plug-in. Every export is stdcall: the callee removes its
// arguments from the stack. In a 32-bit process each call goes through a
// small thunk that notes the stack pointer before the arguments are pushed
// and compares it after the call; a plug-in whose export leaves its arguments
// behind (cdecl) or removes too many is reported, and the stack pointer is put
// back so that the host runs on. A 64-bit process has one calling convention:
// nothing to check.
#include "host.h"

#if defined(__i386__)
// uintptr_t CallCounted(const void* fn, const uintptr_t* args, int count, int32_t* left)
// Pushes args[count-1] .. args[0], calls fn and stores in *left how many
// bytes fn left on the stack (negative: removed too many). EAX is fn's.
extern "C" uintptr_t CallCounted(const void* fn, const uintptr_t* args, int count, int32_t* left);
asm(".text\n"
    ".globl _CallCounted\n"
    "_CallCounted:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  pushl %ebx\n"
    "  subl $4, %esp\n"
    "  movl %esp, -16(%ebp)\n"   // the stack pointer the callee must leave
    "  movl 12(%ebp), %esi\n"
    "  movl 16(%ebp), %ecx\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  movl -16(%ebp), %ecx\n"
    "  subl %esp, %ecx\n"
    "  movl -16(%ebp), %esp\n"
    "  movl 20(%ebp), %edx\n"
    "  movl %ecx, (%edx)\n"
    "  addl $4, %esp\n"
    "  popl %ebx\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebp\n"
    "  ret\n");
#else
static uintptr_t CallCounted(const void* fn, const uintptr_t* a, int count, int32_t* left) {
    typedef uintptr_t (*F0)();
    typedef uintptr_t (*F1)(uintptr_t);
    typedef uintptr_t (*F2)(uintptr_t, uintptr_t);
    typedef uintptr_t (*F3)(uintptr_t, uintptr_t, uintptr_t);
    typedef uintptr_t (*F4)(uintptr_t, uintptr_t, uintptr_t, uintptr_t);
    typedef uintptr_t (*F5)(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t);
    *left = 0;
    switch (count) {
        case 0: return ((F0)fn)();
        case 1: return ((F1)fn)(a[0]);
        case 2: return ((F2)fn)(a[0], a[1]);
        case 3: return ((F3)fn)(a[0], a[1], a[2]);
        case 4: return ((F4)fn)(a[0], a[1], a[2], a[3]);
        default: return ((F5)fn)(a[0], a[1], a[2], a[3], a[4]);
    }
}
#endif

uintptr_t CallPlugin(const char* name, FARPROC fn, const uintptr_t* args, int count, std::vector<Imbalance>* seen) {
    int32_t left = 0;
    uintptr_t result = CallCounted(reinterpret_cast<const void*>(fn), args, count < 5 ? count : 5, &left);
    if (left != 0) seen->push_back({name, left});
    return result;
}

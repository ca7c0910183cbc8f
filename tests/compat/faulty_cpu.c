// Code above the processor floor that the instruction check must name: on i686 a function
// compiled for the Pentium Pro (faulty_p6.c) and a conditional move written by hand; on x86_64 a
// population count.
#if defined(__i386__)
__declspec(dllexport) int HandMadeMove(int a, int b)
{
    int larger = a;
    __asm__("cmpl %1, %2\n\tcmovg %2, %0" : "+r"(larger) : "r"(a), "r"(b) : "cc");
    return larger;
}
#else
__declspec(dllexport) int BitCount(unsigned value)
{
    unsigned count;
    __asm__("popcnt %1, %0" : "=r"(count) : "r"(value) : "cc");
    return (int)count;
}
#endif

// The start-up of a 32-bit GUI program (install.exe), in place of the toolchain's (crt2.o, whose
// code needs a Pentium Pro; README.md). It does what that start-up does for a WinMain program, in
// its order: the C initialisers, the thread-local callbacks, the floating-point state, the global
// constructors, the command line without the program's name, the window's show state; then WinMain,
// and exit() with its result, which runs the atexit handlers.
#include <windows.h>

#include <cstdlib>

extern "C" {
typedef void(__cdecl* InitFunction)(void);
// The C and C++ initialiser tables of the runtime (.CRT$XI*, .CRT$XC*) and msvcrt's walk over them.
extern InitFunction __xi_a[], __xi_z[], __xc_a[], __xc_z[];
__declspec(dllimport) void __cdecl _initterm(InitFunction* first, InitFunction* last);
__declspec(dllimport) void __cdecl __set_app_type(int type);
__declspec(dllimport) char** __cdecl __p__acmdln(void);
extern const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback;
extern IMAGE_DOS_HEADER __ImageBase;
void __cdecl _fpreset(void);
void __cdecl __main(void);
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
int WinMainCRTStartup(void);
int __cdecl atexit(void(__cdecl* handler)(void));
}

namespace {

constexpr int kGuiApplication = 2;  // _GUI_APP

// The command line after the program's name (which may be quoted) and the blanks after it. Bytes
// above 0x7F belong to the name (the toolchain's start-up compared them as negative numbers and so
// ended an unquoted name at its first such byte).
char* ArgumentsOf(char* line)
{
    if (!line) return nullptr;
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    bool quoted = false;
    while (*line && (!blank(*line) || quoted)) {
        if (*line == '"') quoted = !quoted;
        ++line;
    }
    while (*line && blank(*line)) ++line;
    return line;
}

int ShowCommand()
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace

// A program's atexit handlers are msvcrt's onexit table, which exit() runs.
int __cdecl atexit(void(__cdecl* handler)(void))
{
    return _onexit(reinterpret_cast<_onexit_t>(handler)) ? 0 : -1;
}

int WinMainCRTStartup(void)
{
    __set_app_type(kGuiApplication);
    const int showCommand = ShowCommand();
    _initterm(__xi_a, __xi_z);
    _initterm(__xc_a, __xc_z);
    if (__dyn_tls_init_callback) __dyn_tls_init_callback(nullptr, DLL_THREAD_ATTACH, nullptr);
    _fpreset();
    __main();
    char* arguments = ArgumentsOf(*__p__acmdln());
    std::exit(WinMain(reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr, arguments, showCommand));
}

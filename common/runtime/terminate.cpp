// The C++ runtime's answer to an exception that nothing catches is to print the exception's type,
// demangled, to the standard error stream, and then to abort. Our deliverables are a Control Panel
// applet, a page provider and a GUI program: they have no such stream, and the demangler is about
// 50 KB of each file. Defined here, this handler takes the runtime's place, and the process ends
// as it would have ended, without the message nobody could read.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

}  // namespace __gnu_cxx

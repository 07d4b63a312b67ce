#include <cstdlib>

// A failure that reaches std::terminate ends the program quietly. Without this, the C++ runtime's
// verbose handler would bring its symbol demangler (some 60 KiB) into window programs that have
// no console to print to.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

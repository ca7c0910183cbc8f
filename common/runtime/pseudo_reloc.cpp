// The toolchain's start-up calls the relocator of runtime pseudo-relocations (imported data the
// linker could not bind), whose own code needs a Pentium Pro. The i686 deliverables are linked with
// --disable-runtime-pseudo-reloc: the linker refuses any import that would need one, so there is
// never anything to relocate.
extern "C" void _pei386_runtime_relocator(void) {}

// The oldest processors our files are for, and the check that their code keeps to them.
#pragma once

#include <string>
#include <vector>

enum class InstructionFloor {
    I486,    // 32-bit files: the i486 with its x87; no P6, MMX or SSE, no cpuid, rdtsc, cmpxchg8b
    X86_64,  // 64-bit files: the first x86-64 processors (SSE2); no SSE3 or later, no lahf/sahf
};

struct Violation {
    std::string function;
    std::string instruction;
    std::string address;
};

// "i486" or "x86-64".
bool ParseInstructionFloor(const std::string& name, InstructionFloor& floor);

// The instructions above the floor in objdump's disassembly (AT&T syntax, no raw bytes), each with
// the function it lies in.
std::vector<Violation> FindInstructionsAboveFloor(InstructionFloor floor, const std::string& disassembly);

// Disassembles the code of the PE file at path function by function, with the toolchain whose tools
// are named toolPrefix + "objdump" and so on. Returns an empty string when the file could be read,
// otherwise what went wrong.
std::string CheckInstructions(const std::string& path, InstructionFloor floor, const std::string& toolPrefix,
                              std::vector<Violation>& found);

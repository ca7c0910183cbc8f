// The processors a file is for, checked in its code: every instruction of every function is
// decoded (by the toolchain's objdump) and compared with what the oldest processor has.
//
// Functions are found by the symbols of the file's debug file (.debug/<name>.debug beside it, or
// the file itself when it keeps its symbols). A linear disassembly of a code section would also
// decode data that lies there as instructions and lose its way after it; so the check adds the
// symbols to a scratch copy of the file, where objdump starts afresh at each function.
#include "instruction_floor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

// The mnemonics objdump prints (AT&T syntax) above each floor.
const char* const kAboveI486 =
    // Pentium Pro: conditional moves, the x87 compares that set the flags, long NOPs.
    "cmov[a-z]+|fcmov[a-z]+|fu?comip?|nop[wlq]"
    // Pentium: processor identification, time stamp and model registers, 8-byte compare-exchange.
    "|cpuid|rdtscp?|rdmsr|wrmsr|rdpmc|cmpxchg8b"
    // Pentium II and later: fast system calls, x87/SSE state, cache control, fences.
    "|sysenter|sysexit|syscall|sysret|fxsave|fxrstor|xsave[a-z0-9]*|xrstor[a-z0-9]*|ldmxcsr|stmxcsr"
    "|[slm]fence|prefetch[a-z0-9]*|clflush[a-z]*|movnti|emms|femms|fisttp[a-z]*";
// Operands that only MMX, SSE or AVX have.
const char* const kVectorRegisterI486 = "%[xyz]?mm[0-9]";

const char* const kAboveX86_64 =
    // SSE3 and SSSE3.
    "addsubp[sd]|h(add|sub)p[sd]|lddqu|movddup|movs[hl]dup|fisttp[a-z]*|monitor|mwait"
    "|pshufb|ph(add|sub)(s?w|d)|pmaddubsw|pmulhrsw|psign[bwd]|pabs[bwd]|palignr"
    // SSE4.1 and SSE4.2.
    "|blendv?p[sd]|pblend(vb|w)|dpp[sd]|extractps|insertps|movntdqa|mpsadbw|packusdw|pcmpeqq"
    "|pextr[bdq]|phminposuw|pinsr[bdq]|pm(ax|in)(sb|sd|ud|uw)|pmov[sz]x[a-z]+|pmuldq|pmulld|ptest"
    "|round[ps][sd]|crc32[a-z]*|pcmp[ei]str[im]|pcmpgtq"
    // Bit counts, byte-swapping moves, 16-byte compare-exchange, flags to AH in 64-bit mode.
    "|popcnt|lzcnt|movbe|cmpxchg16b|lahf|sahf"
    // BMI, ADX, AES, carry-less multiply, random numbers, extended state, 3DNow!.
    "|andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|adcx|adox"
    "|aes[a-z]+|pclmul[a-z]*|rdrand|rdseed|rdtscp|xsave[a-z0-9]*|xrstor[a-z0-9]*|xgetbv"
    "|femms|pf[a-z0-9]+|pi2f[dw]|pf2i[dw]|pavgusb|pmulhrw|pswapd"
    // AVX and later: every VEX- and EVEX-encoded instruction (verr and verw are the 286's).
    "|v(?!err|erw)[a-z0-9]+";
const char* const kVectorRegisterX86_64 = "%[yz]mm[0-9]|%k[0-7]";

struct Function {
    uint64_t address;
    std::string name;
};

struct Section {
    std::string name;
    uint64_t address, size;
};

std::string Run(const std::string& command, bool& ok)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ok = false;
        return output;
    }
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    ok = pclose(pipe) == 0;
    return output;
}

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The sections that hold code, from objdump -h: "  0 .text  0001bb98  62c41000 ..." followed by a
// line of flags that names CODE.
std::vector<Section> CodeSections(const std::string& headers)
{
    std::vector<Section> sections;
    std::istringstream lines(headers);
    std::string line, flags;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        int index;
        std::string name, size, vma;
        if (!(words >> index >> name >> size >> vma) || !std::getline(lines, flags)) continue;
        if (flags.find("CODE") != std::string::npos)
            sections.push_back({name, std::stoull(vma, nullptr, 16), std::stoull(size, nullptr, 16)});
    }
    return sections;
}

// The functions of the code sections, from nm -n: "62c41020 T __CRT_INIT@12". Section symbols
// (".text") and local labels name no function.
std::vector<Function> Functions(const std::string& symbols)
{
    std::vector<Function> functions;
    std::istringstream lines(symbols);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string address, type, name;
        if (!(words >> address >> type >> name) || (type != "t" && type != "T")) continue;
        if (name[0] == '.' || name.compare(0, 2, "L.") == 0) continue;
        functions.push_back({std::stoull(address, nullptr, 16), name});
    }
    return functions;
}

}  // namespace

bool ParseInstructionFloor(const std::string& name, InstructionFloor& floor)
{
    if (name == "i486") floor = InstructionFloor::I486;
    else if (name == "x86-64") floor = InstructionFloor::X86_64;
    else return false;
    return true;
}

std::vector<Violation> FindInstructionsAboveFloor(InstructionFloor floor, const std::string& disassembly)
{
    static const std::regex above486(std::string("^(") + kAboveI486 + ")$");
    static const std::regex vector486(kVectorRegisterI486);
    static const std::regex above64(std::string("^(") + kAboveX86_64 + ")$");
    static const std::regex vector64(kVectorRegisterX86_64);
    const std::regex& above = floor == InstructionFloor::I486 ? above486 : above64;
    const std::regex& vector = floor == InstructionFloor::I486 ? vector486 : vector64;

    std::vector<Violation> found;
    std::istringstream lines(disassembly);
    std::string line, function = "(before the first function)";
    static const std::regex header("^[0-9a-f]+ <(.*)>:$");
    // The constructor and destructor lists, which the linker puts at the end of .text, are data.
    static const std::regex dataTable("^_*[CD]TOR_LIST__$");
    bool data = false;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, header)) {
            function = match[1];
            data = std::regex_match(function, dataTable);
            continue;
        }
        if (data) continue;
        // "  62c41003:\tcmovne %eax,%edx" (prefixes such as "lock" or "rep" come first)
        const size_t colon = line.find(":\t");
        if (colon == std::string::npos || line.find_first_not_of(" 0123456789abcdef") != colon) continue;
        const std::string address = line.substr(line.find_first_not_of(' '), colon - line.find_first_not_of(' '));
        std::istringstream words(line.substr(colon + 2));
        std::string mnemonic, word;
        while (words >> word) {
            if (word == "lock" || word == "rep" || word == "repz" || word == "repnz" || word == "repe" ||
                word == "repne" || word == "data16" || word == "addr32" || word == "notrack" ||
                (word.size() == 2 && word[1] == 's' && std::string("cdefgs").find(word[0]) != std::string::npos))
                continue;
            mnemonic = word;
            break;
        }
        if (mnemonic.empty() || mnemonic == "(bad)") continue;
        std::string operands;
        std::getline(words, operands);
        const std::string instruction = mnemonic + operands;
        if (std::regex_match(mnemonic, above) || std::regex_search(operands, vector))
            found.push_back({function, instruction, address});
    }
    return found;
}

std::string CheckInstructions(const std::string& path, InstructionFloor floor, const std::string& toolPrefix,
                              std::vector<Violation>& found)
{
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string symbolFile = folder + "/.debug/" + name + ".debug";
    if (access(symbolFile.c_str(), R_OK) != 0) symbolFile = path;

    bool ok = true;
    const std::vector<Section> sections = CodeSections(Run(toolPrefix + "objdump -h " + Quote(path), ok));
    if (!ok || sections.empty()) return "has no code section objdump can read";
    std::vector<Function> functions = Functions(Run(toolPrefix + "nm -n " + Quote(symbolFile), ok));
    if (!ok || functions.empty()) return "no function symbols in " + symbolFile;

    // The symbols, as offsets in their sections, onto a scratch copy of the file.
    char scratch[] = "/tmp/pecheck-XXXXXX";
    const int descriptor = mkstemp(scratch);
    if (descriptor < 0) return "cannot make a scratch file";
    close(descriptor);
    const std::string copy = scratch, responses = copy + ".symbols";
    FILE* list = std::fopen(responses.c_str(), "w");
    size_t added = 0;
    for (const Function& f : functions)
        for (const Section& s : sections)
            if (f.address >= s.address && f.address < s.address + s.size) {
                std::fprintf(list, "--add-symbol \"%s=%s:0x%llx,function,global\"\n", f.name.c_str(), s.name.c_str(),
                             static_cast<unsigned long long>(f.address - s.address));
                ++added;
            }
    std::fclose(list);
    std::string error;
    if (!added) {
        error = "none of the symbols of " + symbolFile + " lies in a code section";
    } else {
        Run(toolPrefix + "objcopy @" + Quote(responses) + " " + Quote(path) + " " + Quote(copy) + " 2>&1", ok);
        if (!ok) error = "objcopy could not add the function symbols";
    }
    std::string disassembly;
    if (error.empty()) {
        disassembly = Run(toolPrefix + "objdump -d --no-show-raw-insn " + Quote(copy), ok);
        if (!ok) error = "objdump could not disassemble the file";
    }
    std::remove(copy.c_str());
    std::remove(responses.c_str());
    if (!error.empty()) return error;
    found = FindInstructionsAboveFloor(floor, disassembly);
    return "";
}

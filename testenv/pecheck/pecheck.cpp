// pecheck: the build machine's view of what a Windows loader will do with our files.
//
//   pecheck check --floor VERSION ALLOWLIST FILE...
//   pecheck instructions --floor i486|x86-64 --tools TOOL-PREFIX FILE...
//
// check fails, naming file, DLL and function, when a file imports anything the allow-list does not
// name, when an allow-list entry is newer than the floor, when a header asks for a newer system
// than the floor, when a DLL declares implicit thread-local data, when a kernel-mode image imports
// from anything but ntoskrnl.exe and HAL.dll, or when a checksum is wrong (the linker and objcopy
// write it; a driver with a wrong one does not load). instructions fails, naming file, function
// and instruction, for every instruction above the processor floor (instruction_floor.h).
#include "instruction_floor.h"
#include "pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Windows versions in release order, with the version number their headers carry.
struct WindowsVersion {
    const char* name;
    uint16_t major, minor;
};
constexpr WindowsVersion kVersions[] = {
    {"NT3.1", 3, 10}, {"NT3.5", 3, 50},  {"NT3.51", 3, 51}, {"NT4.0", 4, 0}, {"2000", 5, 0},
    {"XP", 5, 1},     {"2003", 5, 2},    {"2003SP1", 5, 2}, {"Vista", 6, 0}, {"7", 6, 1},
    {"8", 6, 2},      {"8.1", 6, 3},     {"10", 10, 0},
};
constexpr int kVersionCount = sizeof kVersions / sizeof kVersions[0];

int VersionRank(const std::string& name)
{
    for (int i = 0; i < kVersionCount; ++i)
        if (name == kVersions[i].name) return i;
    return -1;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Problems {
public:
    void Add(const std::string& where, const std::string& what)
    {
        std::fprintf(stderr, "%s: %s\n", where.c_str(), what.c_str());
        ++count_;
    }
    int Count() const { return count_; }

private:
    int count_ = 0;
};

// (dll in lower case, function) -> first Windows version.
using AllowList = std::map<std::pair<std::string, std::string>, std::string>;

bool ReadAllowList(const std::string& path, int floorRank, AllowList& list, Problems& problems)
{
    std::ifstream file(path);
    if (!file) {
        problems.Add(path, "cannot be read");
        return false;
    }
    const std::string name = BaseName(path);
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        std::istringstream words(line);
        std::string dll, function, version, evidence;
        if (!(words >> dll) || dll[0] == '#') continue;
        const std::string where = name + ":" + std::to_string(number);
        if (!(words >> function >> version >> evidence)) {
            problems.Add(where, "expected: DLL function first-version evidence");
            continue;
        }
        const int rank = VersionRank(version);
        if (rank < 0)
            problems.Add(where, "unknown Windows version \"" + version + "\"");
        else if (rank > floorRank)
            problems.Add(where, dll + " " + function + " first appears in " + version +
                                    ", later than the floor " + kVersions[floorRank].name);
        list[{Lower(dll), function}] = version;
    }
    return true;
}

void CheckHeader(const std::string& file, const PeImage& image, int floorRank, Problems& problems)
{
    const WindowsVersion& floor = kVersions[floorRank];
    auto newer = [&](uint16_t major, uint16_t minor) {
        return major > floor.major || (major == floor.major && minor > floor.minor);
    };
    auto version = [](uint16_t major, uint16_t minor) { return std::to_string(major) + "." + std::to_string(minor); };
    if (newer(image.osMajor, image.osMinor))
        problems.Add(file, "asks for operating system " + version(image.osMajor, image.osMinor) +
                               ", newer than the floor " + floor.name);
    if (newer(image.subsystemMajor, image.subsystemMinor))
        problems.Add(file, "asks for subsystem " + version(image.subsystemMajor, image.subsystemMinor) +
                               ", newer than the floor " + floor.name);
    const bool driverName = Lower(file).size() > 4 && Lower(file).substr(file.size() - 4) == ".sys";
    if (driverName != image.IsKernelMode())
        problems.Add(file, driverName ? "is a .sys but not a kernel-mode (native) image"
                                      : "is a kernel-mode (native) image but not a .sys");
}

void CheckImports(const std::string& file, const PeImage& image, const AllowList& list,
                  const std::string& listName, Problems& problems)
{
    std::vector<PeImport> all = image.imports;
    all.insert(all.end(), image.delayImports.begin(), image.delayImports.end());
    for (const PeImport& import : all) {
        const std::string dll = Lower(import.dll);
        if (image.IsKernelMode() && dll != "ntoskrnl.exe" && dll != "hal.dll")
            problems.Add(file, import.dll + " " + import.function + ": a driver imports from ntoskrnl.exe and HAL.dll only");
        else if (!list.count({dll, import.function}))
            problems.Add(file, import.dll + " " + import.function + " is not in " + listName +
                                   " (a function the floor may not have)");
    }
}

// A DLL loaded with LoadLibrary gets no implicit thread-local storage on XP and older. The
// runtime's own start marker, padded to a pointer, is all the template may hold. (GCC 12 for
// mingw-w64 emulates thread_local and __thread with TlsAlloc and puts nothing here; a compiler
// with native TLS, or data placed in .tls$ by hand, would.)
void CheckThreadLocals(const std::string& file, const PeImage& image, Problems& problems)
{
    if (!image.IsDll() || !image.hasTls) return;
    const uint64_t markers = image.is64 ? 8 : 4;
    if (image.tlsTemplateBytes > markers || image.tlsZeroFill)
        problems.Add(file, "declares implicit thread-local data (" + std::to_string(image.tlsTemplateBytes) +
                               " bytes of template, " + std::to_string(image.tlsZeroFill) + " zero-filled)");
}

int Check(int floorRank, const std::string& listPath, const std::vector<std::string>& files)
{
    Problems problems;
    AllowList list;
    if (!ReadAllowList(listPath, floorRank, list, problems)) return 1;
    for (const std::string& path : files) {
        const std::string file = BaseName(path);
        PeImage image;
        const std::string error = ReadPeImage(path, image);
        if (!error.empty()) {
            problems.Add(file, error);
            continue;
        }
        CheckHeader(file, image, floorRank, problems);
        CheckImports(file, image, list, BaseName(listPath), problems);
        CheckThreadLocals(file, image, problems);
        const uint32_t expected = PeChecksum(image.bytes, image.checksumOffset);
        if (image.checksum != expected) {
            char text[80];
            std::snprintf(text, sizeof text, "checksum is %08x, should be %08x", image.checksum, expected);
            problems.Add(file, text);
        }
        std::printf("%s: %zu imports checked\n", file.c_str(), image.imports.size() + image.delayImports.size());
    }
    if (problems.Count()) std::fprintf(stderr, "%d problem(s)\n", problems.Count());
    return problems.Count() ? 1 : 0;
}

int CheckProcessor(InstructionFloor floor, const std::string& tools, const std::vector<std::string>& files)
{
    Problems problems;
    for (const std::string& path : files) {
        const std::string file = BaseName(path);
        std::vector<Violation> found;
        const std::string error = CheckInstructions(path, floor, tools, found);
        if (!error.empty()) {
            problems.Add(file, error);
            continue;
        }
        for (const Violation& v : found)
            problems.Add(file, v.function + ": " + v.instruction + " (at " + v.address + ") is above the processor floor");
        std::printf("%s: %zu instructions above the floor\n", file.c_str(), found.size());
    }
    if (problems.Count()) std::fprintf(stderr, "%d problem(s)\n", problems.Count());
    return problems.Count() ? 1 : 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: pecheck check --floor VERSION ALLOWLIST FILE...\n"
                         "       pecheck instructions --floor i486|x86-64 --tools TOOL-PREFIX FILE...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 5 && args[0] == "check" && args[1] == "--floor") {
        const int floorRank = VersionRank(args[2]);
        if (floorRank < 0) {
            std::fprintf(stderr, "unknown floor \"%s\"\n", args[2].c_str());
            return 2;
        }
        return Check(floorRank, args[3], {args.begin() + 4, args.end()});
    }
    InstructionFloor processor;
    if (args.size() >= 6 && args[0] == "instructions" && args[1] == "--floor" && args[3] == "--tools") {
        if (!ParseInstructionFloor(args[2], processor)) {
            std::fprintf(stderr, "unknown processor floor \"%s\"\n", args[2].c_str());
            return 2;
        }
        return CheckProcessor(processor, args[4], {args.begin() + 5, args.end()});
    }
    return Usage();
}

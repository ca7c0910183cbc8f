// What the Windows loader reads from a PE file (an .exe, .dll, .cpl or .sys): the headers that say
// which system it needs, the functions it imports, its thread-local template and its checksum.
// Plain C++ without Windows headers: it runs on the build machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PeImport {
    std::string dll;
    std::string function;  // "#<ordinal>" for an import by ordinal
};

struct PeImage {
    std::vector<uint8_t> bytes;
    bool is64 = false;
    uint16_t characteristics = 0;
    uint16_t subsystem = 0;
    uint16_t osMajor = 0, osMinor = 0;
    uint16_t subsystemMajor = 0, subsystemMinor = 0;
    size_t checksumOffset = 0;
    uint32_t checksum = 0;
    std::vector<PeImport> imports;       // bound when the file is loaded
    std::vector<PeImport> delayImports;  // bound on the first call
    bool hasTls = false;
    uint64_t tlsTemplateBytes = 0;  // initialised data copied for each thread
    uint32_t tlsZeroFill = 0;       // zeroed bytes added after it

    bool IsDll() const { return (characteristics & 0x2000) != 0; }
    bool IsKernelMode() const { return subsystem == 1; }  // IMAGE_SUBSYSTEM_NATIVE
};

// Reads and parses the file. Returns an empty string on success, otherwise what is wrong.
std::string ReadPeImage(const std::string& path, PeImage& image);

// The image checksum as the system computes it (CheckSumMappedFile): the 16-bit one's-complement
// sum of the file with its checksum field taken as 0, plus the file's length.
uint32_t PeChecksum(const std::vector<uint8_t>& bytes, size_t checksumOffset);

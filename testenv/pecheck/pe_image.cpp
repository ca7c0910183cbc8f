#include "pe_image.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

constexpr uint16_t kPe32 = 0x10b;
constexpr uint16_t kPe32Plus = 0x20b;
constexpr int kImportDirectory = 1;
constexpr int kTlsDirectory = 9;
constexpr int kDelayImportDirectory = 13;

struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

// Bounded little-endian reads; a read outside the file throws, and ReadPeImage reports it.
class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    uint64_t Get(size_t offset, int size) const
    {
        if (offset > bytes_.size() || bytes_.size() - offset < static_cast<size_t>(size))
            throw std::runtime_error("truncated file");
        uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes_[offset + i];
        return value;
    }
    uint16_t U16(size_t offset) const { return static_cast<uint16_t>(Get(offset, 2)); }
    uint32_t U32(size_t offset) const { return static_cast<uint32_t>(Get(offset, 4)); }

    std::string String(size_t offset) const
    {
        std::string text;
        for (; offset < bytes_.size() && bytes_[offset]; ++offset) {
            if (text.size() == 512) throw std::runtime_error("name without end");
            text += static_cast<char>(bytes_[offset]);
        }
        if (offset >= bytes_.size()) throw std::runtime_error("name without end");
        return text;
    }

private:
    const std::vector<uint8_t>& bytes_;
};

class Parser {
public:
    Parser(PeImage& image) : image_(image), read_(image.bytes) {}

    void Parse()
    {
        if (read_.U16(0) != 0x5a4d) throw std::runtime_error("no MZ header");
        const size_t nt = read_.U32(0x3c);
        if (read_.U32(nt) != 0x4550) throw std::runtime_error("no PE signature");
        const size_t coff = nt + 4;
        const uint16_t sectionCount = read_.U16(coff + 2);
        const uint16_t optionalSize = read_.U16(coff + 16);
        image_.characteristics = read_.U16(coff + 18);
        const size_t optional = coff + 20;
        const uint16_t magic = read_.U16(optional);
        if (magic != kPe32 && magic != kPe32Plus) throw std::runtime_error("unknown optional header");
        image_.is64 = magic == kPe32Plus;
        imageBase_ = image_.is64 ? read_.Get(optional + 24, 8) : read_.U32(optional + 28);
        image_.osMajor = read_.U16(optional + 40);
        image_.osMinor = read_.U16(optional + 42);
        image_.subsystemMajor = read_.U16(optional + 48);
        image_.subsystemMinor = read_.U16(optional + 50);
        image_.checksumOffset = optional + 64;
        image_.checksum = read_.U32(image_.checksumOffset);
        image_.subsystem = read_.U16(optional + 68);
        directoryCount_ = read_.U32(optional + (image_.is64 ? 108 : 92));
        directories_ = optional + (image_.is64 ? 112 : 96);

        const size_t table = optional + optionalSize;
        for (uint16_t i = 0; i < sectionCount; ++i) {
            const size_t entry = table + 40u * i;
            sections_.push_back({read_.U32(entry + 12), read_.U32(entry + 8), read_.U32(entry + 20), read_.U32(entry + 16)});
        }
        ReadImports();
        ReadDelayImports();
        ReadTls();
    }

private:
    // RVA and size of data directory `index`; 0 when the image has none.
    uint32_t Directory(int index, uint32_t* size = nullptr) const
    {
        if (static_cast<uint32_t>(index) >= directoryCount_) return 0;
        if (size) *size = read_.U32(directories_ + 8u * index + 4);
        return read_.U32(directories_ + 8u * index);
    }

    size_t Offset(uint64_t rva) const
    {
        for (const Section& section : sections_) {
            const uint32_t extent = section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
            if (rva >= section.virtualAddress && rva - section.virtualAddress < extent) {
                const uint64_t within = rva - section.virtualAddress;
                if (within >= section.rawSize) throw std::runtime_error("address outside the file's data");
                return static_cast<size_t>(section.rawOffset + within);
            }
        }
        throw std::runtime_error("address outside every section");
    }

    // One DLL's name table: names, or "#n" for ordinals, until the zero entry.
    void ReadThunks(const std::string& dll, uint64_t tableRva, std::vector<PeImport>& out) const
    {
        const int width = image_.is64 ? 8 : 4;
        const uint64_t ordinalFlag = image_.is64 ? 0x8000000000000000ull : 0x80000000u;
        for (size_t entry = Offset(tableRva);; entry += width) {
            const uint64_t thunk = read_.Get(entry, width);
            if (!thunk) return;
            if (thunk & ordinalFlag)
                out.push_back({dll, "#" + std::to_string(thunk & 0xffff)});
            else
                out.push_back({dll, read_.String(Offset(thunk & 0x7fffffff) + 2)});
        }
    }

    void ReadImports()
    {
        const uint32_t rva = Directory(kImportDirectory);
        if (!rva) return;
        for (size_t descriptor = Offset(rva);; descriptor += 20) {
            const uint32_t names = read_.U32(descriptor), dllName = read_.U32(descriptor + 12);
            const uint32_t addresses = read_.U32(descriptor + 16);
            if (!dllName && !addresses) return;
            ReadThunks(read_.String(Offset(dllName)), names ? names : addresses, image_.imports);
        }
    }

    void ReadDelayImports()
    {
        const uint32_t rva = Directory(kDelayImportDirectory);
        if (!rva) return;
        for (size_t descriptor = Offset(rva);; descriptor += 32) {
            const bool relative = read_.U32(descriptor) & 1;  // otherwise virtual addresses
            const uint64_t base = relative ? 0 : imageBase_;
            const uint32_t dllName = read_.U32(descriptor + 4), names = read_.U32(descriptor + 16);
            if (!dllName) return;
            ReadThunks(read_.String(Offset(dllName - base)), names - base, image_.delayImports);
        }
    }

    void ReadTls()
    {
        const uint32_t rva = Directory(kTlsDirectory);
        if (!rva) return;
        const size_t tls = Offset(rva);
        const int width = image_.is64 ? 8 : 4;
        const uint64_t start = read_.Get(tls, width), end = read_.Get(tls + width, width);
        if (end < start) throw std::runtime_error("thread-local template ends before it starts");
        image_.hasTls = true;
        image_.tlsTemplateBytes = end - start;
        image_.tlsZeroFill = read_.U32(tls + 4u * width);
    }

    PeImage& image_;
    Reader read_;
    uint64_t imageBase_ = 0;
    uint32_t directoryCount_ = 0;
    size_t directories_ = 0;
    std::vector<Section> sections_;
};

}  // namespace

std::string ReadPeImage(const std::string& path, PeImage& image)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return "cannot be read";
    image = PeImage();
    image.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    try {
        Parser(image).Parse();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

uint32_t PeChecksum(const std::vector<uint8_t>& bytes, size_t checksumOffset)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i >= checksumOffset && i < checksumOffset + 4) continue;
        const uint16_t word = static_cast<uint16_t>(bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0));
        sum += word;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum + bytes.size());
}

#include "options.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kMaxPort = 256;
constexpr std::size_t kMaxArguments = 255;
constexpr int kBadCommandLine = 7;
constexpr int kConfigNotFound = 11;

bool IsBlank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

const char* SkipBlanks(const char* text)
{
    while (*text && IsBlank(*text)) ++text;
    return text;
}

std::string Trim(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t length = std::strlen(prefix);
    if (text.size() < length) return false;
    for (size_t i = 0; i < length; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool EqualsNoCase(const std::string& text, const char* other)
{
    return text.size() == std::strlen(other) && StartsWithNoCase(text, other);
}

// A decimal number; numbers beyond the map read as kMaxPort + 1 so that they are rejected.
int ReadNumber(const char*& text)
{
    long value = 0;
    while (std::isdigit(static_cast<unsigned char>(*text))) {
        if (value <= kMaxPort) value = value * 10 + (*text - '0');
        ++text;
    }
    return value > kMaxPort ? kMaxPort + 1 : static_cast<int>(value);
}

void SetPorts(uint8_t (&map)[kPortMapBytes], int first, int last)
{
    for (int n = first; n <= last; ++n) map[(n - 1) / 8] |= static_cast<uint8_t>(1u << ((n - 1) % 8));
}

enum Keyword { kAutoStart, kNoReboot, kNoUserInfo, kDestPath, kQuiet, kForce, kComExclude, kLptExclude, kAdminName };
const char* const kKeywords[] = {"AUTOSTARTDRIVERS", "NOREBOOT", "NOUSERINFO", "DESTPATH", "QUIET",
                                 "FORCE", "COMEXCLUDE", "LPTEXCLUDE", "ADMINNAME"};

void ApplyLine(const std::string& line, InstallOptions& options)
{
    for (int k = 0; k < static_cast<int>(sizeof kKeywords / sizeof kKeywords[0]); ++k) {
        if (!StartsWithNoCase(line, kKeywords[k])) continue;
        const std::string rest = line.substr(std::strlen(kKeywords[k]));
        switch (k) {
        case kAutoStart: options.autoStartDrivers |= rest.empty(); break;
        case kNoReboot: options.noReboot |= rest.empty(); break;
        case kNoUserInfo: options.noUserInfo |= rest.empty(); break;
        case kQuiet: options.quiet |= rest.empty(); break;
        case kForce: options.force |= rest.empty(); break;
        case kDestPath: {
            std::string value = Trim(rest);
            if (!value.empty() && value[0] == '=') value = Trim(value.substr(1));
            if (!value.empty()) {
                options.destPath = value;
                options.destPathSet = true;
            }
            break;
        }
        case kComExclude:
        case kLptExclude: {
            if (rest.empty() || rest[0] != '=') break;
            PortMapOption& map = k == kComExclude ? options.comExclude : options.lptExclude;
            if (ParsePortList(rest.c_str() + 1, map.bits)) map.write = true;
            break;
        }
        case kAdminName: {
            if (rest.empty() || rest[0] != '=') break;
            const std::string name = Trim(rest.substr(1));
            if (name.size() <= kAdminNameChars) options.adminName = name;
            break;
        }
        default: break;
        }
        return;
    }
}

std::vector<std::string> SplitArguments(const std::string& commandLine)
{
    std::vector<std::string> arguments = {"Install"};
    const char* at = commandLine.c_str();
    while (*(at = SkipBlanks(at)) && arguments.size() <= kMaxArguments) {
        const char* start = at;
        while (*at && !IsBlank(*at)) ++at;
        arguments.emplace_back(start, at);
    }
    return arguments;
}

}  // namespace

int ParsePortList(const char* text, uint8_t (&map)[kPortMapBytes])
{
    text = SkipBlanks(text);
    while (*text) {
        if (*text != ',') {
            const int first = ReadNumber(text);
            int last = first;
            text = SkipBlanks(text);
            if (*text == '-') {
                text = SkipBlanks(text + 1);
                last = ReadNumber(text);
                text = SkipBlanks(text);
            }
            if (first == 0 || last == 0 || last < first || last > kMaxPort) return 0;
            SetPorts(map, first, last);
        }
        if (*text == ',') ++text;
        text = SkipBlanks(text);
    }
    return 1;
}

void ApplyConfigLine(const std::string& text, InstallOptions& options)
{
    std::string line = text;
    const size_t comment = line.find('#');
    if (comment != std::string::npos) line.resize(comment);
    line = Trim(line);
    if (!line.empty()) ApplyLine(line, options);
}

int ReadConfigFile(const std::string& path, InstallOptions& options)
{
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return kConfigNotFound;
    // Closed also when memory runs out while a line is taken in.
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, std::fclose);
    // Whole lines, however long: a value is never cut into pieces that read as lines of their own.
    std::string line;
    char piece[256];
    while (std::fgets(piece, sizeof piece, file)) {
        line += piece;
        if (line.back() != '\n' && !std::feof(file)) continue;
        ApplyConfigLine(line, options);
        line.clear();
    }
    if (!line.empty()) ApplyConfigLine(line, options);
    return 0;
}

int ParseCommandLine(const std::string& commandLine, InstallOptions& options, bool& uninstall)
{
    const std::vector<std::string> arguments = SplitArguments(commandLine);
    std::memset(options.comExclude.bits, 0, kPortMapBytes);
    std::memset(options.lptExclude.bits, 0, kPortMapBytes);
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < 2 || argument[0] != '-') return kBadCommandLine;
        if (argument[1] == '-') {
            // --uninstall, or --config=PATH; the value of --config must be attached.
            const size_t equals = argument.find('=');
            const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            if (EqualsNoCase(name, "uninstall") && equals == std::string::npos) {
                uninstall = true;
            } else if (EqualsNoCase(name, "config") && equals != std::string::npos && equals + 1 < argument.size()) {
                if (int result = ReadConfigFile(argument.substr(equals + 1), options)) return result;
            } else {
                return kBadCommandLine;
            }
            continue;
        }
        // Short options, possibly grouped; -c takes the rest of the argument or the next one.
        for (size_t c = 1; c < argument.size(); ++c) {
            const char option = argument[c];
            if (option == 'u' || option == 'U') {
                uninstall = true;
                continue;
            }
            if (option != 'c' && option != 'C') return kBadCommandLine;
            std::string path = argument.substr(c + 1);
            if (path.empty()) {
                if (i + 1 >= arguments.size()) return kBadCommandLine;
                path = arguments[++i];
            }
            if (int result = ReadConfigFile(path, options)) return result;
            break;
        }
    }
    return 0;
}

// The installer's settings from its command line and configuration files. No Windows calls here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int kPortMapBytes = 32;
constexpr std::size_t kAdminNameChars = 126;

struct PortMapOption {
    uint8_t bits[kPortMapBytes] = {};
    bool write = false;  // the list parsed without error
};

struct InstallOptions {
    bool autoStartDrivers = false;
    bool noReboot = false;
    bool noUserInfo = false;
    bool quiet = false;
    bool force = false;
    bool destPathSet = false;
    std::string destPath;
    PortMapOption comExclude, lptExclude;
    std::string adminName = "Administrator";
};

// Parses "x" and "x-z" items separated by commas into map (white space allowed around numbers,
// commas and hyphens). 1 when valid; numbers must lie in 1..256 with z not below x. A list that
// fails part-way leaves the bits set before the failure.
int ParsePortList(const char* text, uint8_t (&map)[kPortMapBytes]);

// Applies one line of a configuration file: a "#" starts a comment, blanks around are dropped,
// unknown keywords are ignored.
void ApplyConfigLine(const std::string& line, InstallOptions& options);

// Adds the keywords of a configuration file to options. 0, or 11 when the file cannot be opened.
int ReadConfigFile(const std::string& path, InstallOptions& options);

// Evaluates the command line (without the program name): -u/-U/--uninstall set uninstall;
// -c/-C PATH, -cPATH and --config=PATH read a configuration file at once. Returns 0, 7 for a bad
// command line, or the configuration file's result.
int ParseCommandLine(const std::string& commandLine, InstallOptions& options, bool& uninstall);

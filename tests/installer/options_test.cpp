// Command line, configuration file and port list grammar of the installer.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "options.h"

namespace {

std::string TempFile(const char* name)
{
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    return std::string(directory) + name;
}

// A configuration file in the temporary folder, removed again at the end of the test.
class ConfigFile {
public:
    ConfigFile(const char* name, const std::string& text) : path_(TempFile(name))
    {
        FILE* file = std::fopen(path_.c_str(), "w");
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
    ~ConfigFile() { DeleteFileA(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

bool PortSet(const uint8_t (&map)[kPortMapBytes], int port)
{
    return (map[(port - 1) / 8] >> ((port - 1) % 8)) & 1;
}

std::string SetPorts(const uint8_t (&map)[kPortMapBytes])
{
    std::string ports;
    for (int port = 1; port <= 256; ++port)
        if (PortSet(map, port)) ports += (ports.empty() ? "" : " ") + std::to_string(port);
    return ports;
}

std::string ParsedPorts(const char* list, int expectedResult = 1)
{
    uint8_t map[kPortMapBytes] = {};
    EXPECT_EQ(expectedResult, ParsePortList(list, map)) << list;
    return SetPorts(map);
}

InstallOptions ReadConfig(const std::string& text)
{
    ConfigFile file("kt_options.cfg", text);
    InstallOptions options;
    EXPECT_EQ(0, ReadConfigFile(file.path(), options));
    return options;
}

TEST(PortList, ItemsRangesAndWhiteSpace)
{
    EXPECT_EQ("3 5 6 7", ParsedPorts("3,5-7"));
    EXPECT_EQ("1 2 8 9 256", ParsedPorts("  1 - 2 ,8, 9 ,256  "));
    EXPECT_EQ("", ParsedPorts(""));
    EXPECT_EQ("4", ParsedPorts(",,4,"));
    EXPECT_EQ("9", ParsedPorts("9-9"));
}

TEST(PortList, InvalidItemsKeepTheBitsSetBeforeThem)
{
    EXPECT_EQ("", ParsedPorts("5-3", 0));
    EXPECT_EQ("", ParsedPorts("0", 0));
    EXPECT_EQ("1 2", ParsedPorts("1-2,4-0", 0));
    EXPECT_EQ("7", ParsedPorts("7,x", 0));
    // Ports beyond the 256-bit map have no bit: such lists are refused, never wrapped.
    EXPECT_EQ("", ParsedPorts("257", 0));
    EXPECT_EQ("", ParsedPorts("250-300", 0));
    EXPECT_EQ("", ParsedPorts("99999999999999999999", 0));
}

TEST(ConfigFile, FlagsAreSetOnlyWhenNothingFollows)
{
    const InstallOptions options = ReadConfig("quiet\nQUIET=1\nforce # comment\n  NoReboot  \nAUTOSTARTDRIVERSX\n");
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.force);
    EXPECT_TRUE(options.noReboot);
    EXPECT_FALSE(options.autoStartDrivers);
    EXPECT_FALSE(options.noUserInfo);

    EXPECT_FALSE(ReadConfig("QUIETLY\nQUIET=1\n").quiet);
}

TEST(ConfigFile, DestinationAndAdministratorName)
{
    InstallOptions options = ReadConfig("destpath = D:\\Drivers\nADMINNAME=  Operator  \n");
    EXPECT_TRUE(options.destPathSet);
    EXPECT_EQ("D:\\Drivers", options.destPath);
    EXPECT_EQ("Operator", options.adminName);

    EXPECT_EQ("", ReadConfig("ADMINNAME=\n").adminName);
    EXPECT_EQ("Administrator", ReadConfig("ADMINNAME = x\n").adminName);
    EXPECT_EQ("Administrator", ReadConfig("ADMINNAME=" + std::string(127, 'a') + "\n").adminName);
    EXPECT_EQ(std::string(126, 'a'), ReadConfig("ADMINNAME=" + std::string(126, 'a') + "\n").adminName);

    options = ReadConfig("DESTPATH\nDESTPATH =   \n");
    EXPECT_FALSE(options.destPathSet);
    EXPECT_EQ("C:\\Alt", ReadConfig("DESTPATHC:\\Alt\n").destPath);
}

TEST(ConfigFile, PortMapsNeedAnEqualsSignDirectlyAfterTheKeyword)
{
    InstallOptions options = ReadConfig("COMEXCLUDE = 3\nLPTEXCLUDE=\n");
    EXPECT_FALSE(options.comExclude.write);
    EXPECT_TRUE(options.lptExclude.write);
    EXPECT_EQ("", SetPorts(options.lptExclude.bits));

    options = ReadConfig("COMEXCLUDE=3,5-7\n");
    EXPECT_TRUE(options.comExclude.write);
    EXPECT_EQ("3 5 6 7", SetPorts(options.comExclude.bits));
    EXPECT_FALSE(options.lptExclude.write);

    EXPECT_FALSE(ReadConfig("COMEXCLUDE=5-3\n").comExclude.write);
    EXPECT_FALSE(ReadConfig("COMEXCLUDE=0\n").comExclude.write);
}

TEST(ConfigFile, LongLinesAreReadWhole)
{
    // A line is never cut into pieces that read as lines of their own: that would cut a long
    // value silently.
    EXPECT_FALSE(ReadConfig(std::string(255, 'x') + "QUIET\n").quiet);
    const std::string destination = "C:\\" + std::string(400, 'd');
    const InstallOptions options = ReadConfig("DESTPATH=" + destination + "\nQUIET");
    EXPECT_EQ(destination, options.destPath);
    EXPECT_TRUE(options.quiet);  // the last line, without a line break
}

TEST(ConfigFile, MissingFileIsReported)
{
    InstallOptions options;
    EXPECT_EQ(11, ReadConfigFile(TempFile("kt_no_such.cfg"), options));
}

TEST(CommandLine, ConfigurationFileForms)
{
    ConfigFile file("kt_setup.cfg", "COMEXCLUDE=2\nQUIET\n");
    for (const std::string& line : {"-c " + file.path(), "-C" + file.path(), "--config=" + file.path(),
                                    "--CONFIG=" + file.path()}) {
        InstallOptions options;
        bool uninstall = false;
        EXPECT_EQ(0, ParseCommandLine(line, options, uninstall)) << line;
        EXPECT_TRUE(options.quiet) << line;
        EXPECT_EQ("2", SetPorts(options.comExclude.bits)) << line;
        EXPECT_FALSE(uninstall);
    }
    InstallOptions options;
    bool uninstall = false;
    EXPECT_EQ(7, ParseCommandLine("--config " + file.path(), options, uninstall));
}

TEST(CommandLine, UninstallGroupedWithConfiguration)
{
    ConfigFile file("kt_setup.cfg", "NOREBOOT\n");
    for (const std::string& line :
         std::vector<std::string>{"-uc " + file.path(), "-U", "--uninstall", "--Uninstall -c" + file.path()}) {
        InstallOptions options;
        bool uninstall = false;
        EXPECT_EQ(0, ParseCommandLine(line, options, uninstall)) << line;
        EXPECT_TRUE(uninstall) << line;
    }
    InstallOptions options;
    bool uninstall = false;
    EXPECT_EQ(0, ParseCommandLine("-uc" + file.path(), options, uninstall));
    EXPECT_TRUE(options.noReboot);
}

TEST(CommandLine, BadArguments)
{
    for (const char* line : {"-", "--", "-x", "-c", "file.cfg", "--uninstall=1", "--config=", "--conf", "-ux"}) {
        InstallOptions options;
        bool uninstall = false;
        EXPECT_EQ(7, ParseCommandLine(line, options, uninstall)) << line;
    }
    InstallOptions options;
    bool uninstall = false;
    EXPECT_EQ(0, ParseCommandLine("   ", options, uninstall));
    EXPECT_EQ(11, ParseCommandLine("-c " + TempFile("kt_no_such.cfg"), options, uninstall));
}

TEST(CommandLine, SecondConfigurationFileAddsToTheFirst)
{
    ConfigFile first("kt_first.cfg", "QUIET\nCOMEXCLUDE=1\n");
    ConfigFile second("kt_second.cfg", "FORCE\nCOMEXCLUDE=9\n");
    InstallOptions options;
    bool uninstall = false;
    EXPECT_EQ(0, ParseCommandLine("-c " + first.path() + " -c " + second.path(), options, uninstall));
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.force);
    EXPECT_EQ("1 9", SetPorts(options.comExclude.bits));
}

}  // namespace

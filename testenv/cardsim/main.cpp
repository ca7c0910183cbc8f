// cardsim: writes a simulated installation into the registry of the current Wine prefix.
//   cardsim write [options]   replace the enumerator's tree and the device maps
//   cardsim remove            delete them
// Options of write (card and port numbers count from 1):
//   --cards N --serial N --parallel N   cards and ports per card (default 2, 4, 1)
//   --absent C --disabled C             card C not present / not enabled
//   --disabled-port C:P                 port P of card C not enabled
//   --error-port C:P=E --error-card C=E Error value E
//   --no-builtin                        no COM1, COM2, LPT1 of the machine in the device maps
//   --install-path PATH                 InstallPath of the product key
//   --uart C:P=T                        port P of card C reports UART type T (up to 921600 baud)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cardsim.h"

namespace {

bool ParseInt(const char* text, int& value)
{
    char* end = nullptr;
    long n = std::strtol(text, &end, 10);
    if (end == text || *end || n < 0 || n > 4096) return false;
    value = static_cast<int>(n);
    return true;
}

// "C:P"
bool ParseCardPort(const std::string& text, int& card, int& port)
{
    size_t colon = text.find(':');
    return colon != std::string::npos && ParseInt(text.substr(0, colon).c_str(), card) &&
           ParseInt(text.substr(colon + 1).c_str(), port);
}

// "X=E": the text X and the number E
bool SplitAssignment(const std::string& text, std::string& ref, DWORD& value)
{
    size_t eq = text.find('=');
    int n = 0;
    if (eq == std::string::npos || !ParseInt(text.substr(eq + 1).c_str(), n)) return false;
    ref = text.substr(0, eq);
    value = static_cast<DWORD>(n);
    return true;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: cardsim write [--cards N] [--serial N] [--parallel N] [--absent C] [--disabled C]\n"
                 "                     [--disabled-port C:P] [--error-port C:P=E] [--error-card C=E]\n"
                 "                     [--no-builtin] [--install-path PATH] [--uart C:P=T]\n"
                 "       cardsim remove\n");
    return 2;
}

// The port's Functionality value: version 1, maximum baud rate, highest UART type, no flags.
LONG WriteUart(const cardsim::Installation& installation, int card, int port, DWORD type)
{
    if (card < 1 || card > static_cast<int>(installation.cards.size())) return ERROR_INVALID_PARAMETER;
    const cardsim::Card& c = installation.cards[card - 1];
    if (port < 1 || port > static_cast<int>(c.ports.size())) return ERROR_INVALID_PARAMETER;
    const DWORD baud = 921600;
    const std::vector<uint8_t> image = {1, 0, uint8_t(baud), uint8_t(baud >> 8), uint8_t(baud >> 16), uint8_t(baud >> 24),
                                        uint8_t(type), uint8_t(type >> 8), 0, 0};
    return cardsim::SetBinary(HKEY_LOCAL_MACHINE,
                              std::string(cardsim::kEnumeratorPath) + "\\" + c.keyName + "\\" + c.ports[port - 1].keyName,
                              "Functionality", image);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    if (!std::strcmp(argv[1], "remove")) {
        LONG rc = cardsim::RemoveAll();
        if (rc != ERROR_SUCCESS) std::fprintf(stderr, "cardsim: registry error %ld\n", rc);
        return rc == ERROR_SUCCESS ? 0 : 1;
    }
    if (std::strcmp(argv[1], "write")) return Usage();

    cardsim::Layout layout;
    std::string installPath;
    std::vector<std::pair<std::pair<int, int>, DWORD>> uarts;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--no-builtin") {
            layout.builtinPorts = false;
            continue;
        }
        if (i + 1 >= argc) return Usage();
        const char* arg = argv[++i];
        int a = 0, b = 0;
        DWORD error = 0;
        std::string ref;
        bool ok = true;
        if (option == "--cards") ok = ParseInt(arg, layout.cards);
        else if (option == "--serial") ok = ParseInt(arg, layout.serialPerCard);
        else if (option == "--parallel") ok = ParseInt(arg, layout.parallelPerCard);
        else if (option == "--absent") {
            ok = ParseInt(arg, a);
            layout.absentCards.insert(a);
        } else if (option == "--disabled") {
            ok = ParseInt(arg, a);
            layout.disabledCards.insert(a);
        } else if (option == "--disabled-port") {
            ok = ParseCardPort(arg, a, b);
            layout.disabledPorts.insert({a, b});
        } else if (option == "--error-port") {
            ok = SplitAssignment(arg, ref, error) && ParseCardPort(ref, a, b);
            layout.portErrors.push_back({{a, b}, error});
        } else if (option == "--error-card") {
            ok = SplitAssignment(arg, ref, error) && ParseInt(ref.c_str(), a);
            layout.cardErrors.push_back({a, error});
        } else if (option == "--uart") {
            ok = SplitAssignment(arg, ref, error) && ParseCardPort(ref, a, b);
            uarts.push_back({{a, b}, error});
        } else if (option == "--install-path") installPath = arg;
        else return Usage();
        if (!ok) {
            std::fprintf(stderr, "cardsim: bad value for %s: %s\n", option.c_str(), arg);
            return 2;
        }
    }

    cardsim::Installation installation = cardsim::BuildInstallation(layout);
    if (!installPath.empty()) installation.installPath = installPath;
    LONG rc = cardsim::Write(installation);
    for (const auto& [cardPort, type] : uarts)
        if (rc == ERROR_SUCCESS) rc = WriteUart(installation, cardPort.first, cardPort.second, type);
    if (rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "cardsim: registry error %ld\n", rc);
        return 1;
    }
    std::printf("cardsim: %d card(s) with %d serial and %d parallel port(s) each written\n",
                layout.cards, layout.serialPerCard, layout.parallelPerCard);
    return 0;
}

// Writes, reads back and prints "Configuration.ini" with the program's own
// CConfig, built alike for Linux and for Windows, so that the two builds'
// files can be compared byte for byte (config_interop.sh):
//   kivo_config_tool write DIR CATEGORY EMAIL_HEX AUTORUN CHECK PENDING
//       a record with these values and patterned reserved fields, saved
//   kivo_config_tool resave DIR     loads the file and saves it again
//   kivo_config_tool dump DIR       prints the record loaded from the file
// DIR ends without a separator; texts travel as hex, so that no command-line
// code page touches them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Config.h"
#include "platform/System.h"

namespace {

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

std::string ToHex(const char* data, std::size_t size) {
    std::string hex;
    char digits[3];
    for (std::size_t i = 0; i < size; ++i) hex.append(digits, std::snprintf(digits, 3, "%02x", data[i] & 0xFF));
    return hex;
}

void Pattern(char* field, std::size_t size, int seed) {
    for (std::size_t i = 0; i < size; ++i) field[i] = static_cast<char>((seed * 31 + static_cast<int>(i) * 7) & 0xFF);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string command = argv[1];
    CConfig config(std::string(argv[2]) + kivo::platform::PathSeparator());
    if (command == "write" && argc == 8) {
        config.m_nCategory = std::atoi(argv[3]);
        const std::string email = FromHex(argv[4]);
        if (email.size() >= sizeof config.m_szEmail) return 2;
        std::memset(config.m_szEmail, 0, sizeof config.m_szEmail);
        std::memcpy(config.m_szEmail, email.data(), email.size());
        config.m_bAutoRun = std::atoi(argv[5]);
        config.m_bCheckUpdate = std::atoi(argv[6]);
        config.m_bUpdatePending = std::atoi(argv[7]);
        Pattern(config.m_szReserved1, sizeof config.m_szReserved1, 1);
        Pattern(config.m_szReserved2, sizeof config.m_szReserved2, 2);
        Pattern(config.m_szReserved3, sizeof config.m_szReserved3, 3);
        return config.SaveConfig() == 1 ? 0 : 1;
    }
    if (command == "resave") return config.LoadConfig() == 1 && config.SaveConfig() == 1 ? 0 : 1;
    if (command == "dump") {
        if (config.LoadConfig() != 1) return 1;
        std::printf("category %d\nemail %s\nautorun %d\ncheck %d\npending %d\nreserved %s\n%s\n%s\n",
                    static_cast<int>(config.m_nCategory), ToHex(config.m_szEmail, sizeof config.m_szEmail).c_str(),
                    static_cast<int>(config.m_bAutoRun), static_cast<int>(config.m_bCheckUpdate),
                    static_cast<int>(config.m_bUpdatePending),
                    ToHex(config.m_szReserved1, sizeof config.m_szReserved1).c_str(),
                    ToHex(config.m_szReserved2, sizeof config.m_szReserved2).c_str(),
                    ToHex(config.m_szReserved3, sizeof config.m_szReserved3).c_str());
        return 0;
    }
    return 2;
}

#include "sources/simconnect/simconnect_config.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <map>

#include "platform/documents_folder.h"

namespace rez {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// Keys of one section of one file's text, by lower-case name. Section and
// key names match without regard to case, as the system's profile reader
// does; a value in a matching pair of quotes loses them.
void readSection(const std::string& text, const std::string& section, std::map<std::string, std::string>& keys) {
    std::istringstream file(text);
    const std::string wanted = lower(section);
    bool inside = false;
    std::string line;
    while (std::getline(file, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const auto end = line.find(']');
            inside = end != std::string::npos && lower(trim(line.substr(1, end - 1))) == wanted;
            continue;
        }
        if (!inside) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        keys[lower(trim(line.substr(0, eq)))] = value;
    }
}

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

SimConnectConfig readSimConnectConfig(const std::vector<std::string>& folders, unsigned index,
                                      const std::function<std::string(platform::IpFamily)>& registryPort) {
    std::vector<std::string> texts;
    for (const std::string& folder : folders) texts.push_back(fileText(platform::childPath(folder, "SimConnect.cfg")));
    return parseSimConnectConfig(texts, index, registryPort);
}

SimConnectConfig parseSimConnectConfig(const std::vector<std::string>& texts, unsigned index,
                                       const std::function<std::string(platform::IpFamily)>& registryPort) {
    const std::string section = index == 0 ? "SimConnect" : "SimConnect." + std::to_string(index);
    std::map<std::string, std::string> keys;
    for (const std::string& text : texts) readSection(text, section, keys);

    SimConnectConfig config;
    if (auto it = keys.find("address"); it != keys.end()) config.address = it->second;
    if (auto it = keys.find("port"); it != keys.end()) config.port = it->second;
    if (auto it = keys.find("protocol"); it != keys.end()) {
        const std::string p = lower(it->second);
        if (p == "ipv4" || p == "ipv6") {
            config.protocol = p == "ipv4" ? SimConnectProtocol::IPv4 : SimConnectProtocol::IPv6;
            if (config.port.empty() && registryPort)
                config.port = registryPort(p == "ipv4" ? platform::IpFamily::V4 : platform::IpFamily::V6);
        } else if (p == "pipe" || p == "auto") {
            config.protocol = SimConnectProtocol::Pipe;
        }
    }
    if (auto it = keys.find("maxreceivesize"); it != keys.end()) {
        const unsigned long long v = std::strtoull(it->second.c_str(), nullptr, 10);
        if (v > config.maxReceiveSize) config.maxReceiveSize = static_cast<std::uint32_t>(std::min<unsigned long long>(v, 0xFFFFFFFFull));
    }
    if (auto it = keys.find("disablenagle"); it != keys.end())
        config.disableNagle = std::strtol(it->second.c_str(), nullptr, 10) != 0;
    return config;
}

std::vector<std::string> simConnectConfigFolders() {
    std::vector<std::string> folders;
    if (auto common = platform::commonDocumentsFolder(); !common.empty()) folders.push_back(common);
    if (auto user = platform::documentsFolder(); !user.empty()) folders.push_back(user);
    folders.push_back(".");
    return folders;
}

}  // namespace rez

#include "platform/documents_folder.h"

#include <sys/stat.h>

#include "platform/environment.h"

namespace rez::platform {

namespace {

std::string nonEmpty(const char* name) {
    auto value = environmentVariable(name);
    return value ? *value : std::string();
}

}  // namespace

std::string documentsFolder() {
    if (auto folder = nonEmpty("REZ_DOCUMENTS_DIR"); !folder.empty()) return folder;
    if (auto folder = nonEmpty("XDG_DOCUMENTS_DIR"); !folder.empty()) return folder;
    if (auto home = nonEmpty("HOME"); !home.empty()) return childPath(home, "Documents");
    return {};
}

std::string commonDocumentsFolder() { return nonEmpty("REZ_COMMON_DOCUMENTS_DIR"); }

std::string childPath(const std::string& folder, const std::string& name) { return folder + "/" + name; }

bool createFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

static bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool createFolders(const std::string& path) {
    if (path.empty()) return false;
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        if (!isFolder(path.substr(0, at))) createFolder(path.substr(0, at));
    if (!isFolder(path)) createFolder(path);
    return isFolder(path);
}

std::string logBaseFolder() {
    if (auto folder = nonEmpty("REZ_DOCUMENTS_DIR"); !folder.empty()) return folder;
    if (auto documents = documentsFolder(); !documents.empty() && isFolder(documents)) return documents;
    if (auto state = nonEmpty("XDG_STATE_HOME"); !state.empty()) return state;
    if (auto home = nonEmpty("HOME"); !home.empty()) return childPath(home, ".local/state");
    return {};
}

}  // namespace rez::platform

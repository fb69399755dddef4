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

}  // namespace rez::platform

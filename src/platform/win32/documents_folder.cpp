#include "platform/documents_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/environment.h"

namespace rez::platform {

std::string documentsFolder() {
    if (auto folder = environmentVariable("REZ_DOCUMENTS_DIR"); folder && !folder->empty()) return *folder;
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return path;
}

std::string commonDocumentsFolder() {
    if (auto folder = environmentVariable("REZ_COMMON_DOCUMENTS_DIR"); folder && !folder->empty()) return *folder;
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return path;
}

std::string childPath(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

bool createFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

}  // namespace rez::platform

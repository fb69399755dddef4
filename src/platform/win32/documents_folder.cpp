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

namespace {

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool createFolders(const std::string& path) {
    if (path.empty()) return false;
    // From the first separator after a drive ("C:\") or a share's name on.
    for (std::size_t at = path.find_first_of("\\/", 3); at != std::string::npos; at = path.find_first_of("\\/", at + 1))
        if (!isFolder(path.substr(0, at))) createFolder(path.substr(0, at));
    if (!isFolder(path)) createFolder(path);
    return isFolder(path);
}

std::string logBaseFolder() { return documentsFolder(); }

}  // namespace rez::platform

#pragma once
// Where the user keeps documents, for files the library writes for the user
// to read (the diagnostic log).
//
// REZ_DOCUMENTS_DIR, when set and not empty, names the folder on every
// system, so tests and unusual set-ups can point the log elsewhere. Without
// it: on Windows the shell's Documents folder; on Linux XDG_DOCUMENTS_DIR, then
// $HOME/Documents.
#include <string>

namespace rez::platform {

// The folder without a trailing separator; empty when the system cannot say.
std::string documentsFolder();
// The documents folder shared by all users (Windows: the shell's common
// documents; Linux has none). REZ_COMMON_DOCUMENTS_DIR, when set and not
// empty, names it on every system. Empty when there is none.
std::string commonDocumentsFolder();
// `name` inside `folder`, joined with the system's separator.
std::string childPath(const std::string& folder, const std::string& name);
// Creates one folder; false when it could not be made (also when it exists).
bool createFolder(const std::string& path);

}  // namespace rez::platform

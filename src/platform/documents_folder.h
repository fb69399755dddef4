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
// Creates a folder and whichever of its parents are missing; true when it
// is there afterwards.
bool createFolders(const std::string& path);

// The folder that holds the library's log folder. Windows: the documents
// folder. Linux: REZ_DOCUMENTS_DIR when set; else the documents folder when
// it exists; else the XDG state folder ($XDG_STATE_HOME, or
// $HOME/.local/state), which a fresh machine, root or a service account may
// not have yet either: createFolders makes it. Empty when the system cannot say.
std::string logBaseFolder();

}  // namespace rez::platform

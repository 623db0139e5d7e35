// Per-user folders and the folder operations a cache in them needs: creating,
// moving without replacing, removing whole trees, and random numbers from the
// kernel for names nobody can guess.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norva {

// The per-user data folder: $XDG_DATA_HOME when it is an absolute path, else
// $HOME/.local/share ($HOME when absolute, else the home folder of the user's
// passwd entry). Empty when there is none. Nothing is created.
std::string userDataFolder();

// Creates path and every missing folder above it (mode 0700, as the XDG rules
// ask). True when path is a folder afterwards.
bool createFolders(const std::string &path);

// Creates the one folder path (mode 0700). False when anything is there
// already or its parent is missing: two callers never share a folder.
bool createFolderExclusive(const std::string &path);

// True when path is a folder itself (a symbolic link to one is not).
bool isFolder(const std::string &path);

// True when something (of any kind) is at path.
bool pathExists(const std::string &path);

// The names in folder, without "." and "..", with whether each is a folder
// (symbolic links are not). False when folder cannot be read.
struct FolderEntry {
  std::string name;
  bool folder = false;
};
bool listFolder(const std::string &folder, std::vector<FolderEntry> &out);

// Removes path and, when it is a folder, everything in it; symbolic links are
// removed, never followed. True when nothing is left at path.
bool removeTree(const std::string &path);

enum class MoveOutcome {
  moved,
  targetExists, // something is at to already: it is left as it is, from stays
  failed,
};

// Moves from to to in one atomic rename that never replaces what is at to.
MoveOutcome moveWithoutReplacing(const std::string &from, const std::string &to);

// A uniformly random number from the kernel's random source (getrandom).
// False only when the source cannot be read.
bool secureRandom(uint64_t &out);

} // namespace norva

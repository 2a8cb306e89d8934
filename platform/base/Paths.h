#pragma once
// Where the program's data tree lives: the folder of the running executable.
#include <string>

// The folder of the running executable with a trailing "/". Data paths are this folder joined
// with a relative path by plain concatenation ("dir//data/..." works as well as "dir/data/...").
std::string ProgramFolder();

// Tests that build a data tree of their own point the program folder at it; "" restores the default.
void SetProgramFolder(const std::string& folder);

// True for a path that starts at the root of the file system.
bool IsAbsolutePath(const std::string& path);

// An absolute path as it stands, any other joined to ProgramFolder().
std::string ResolveDataPath(const std::string& path);

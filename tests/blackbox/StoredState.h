// What a program could leave behind: registry keys and files. The tests take
// a picture before the program runs and compare it with one taken after.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace blackbox {

// Everything under a registry key, as text: every subkey, value name, type
// and data, sorted. "(absent)" when the key does not exist.
std::wstring RegistryPicture(HKEY root, const std::wstring& path);

// The names of the direct subkeys of a registry key, sorted.
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path);

// Creates a new, empty folder under the temporary folder and returns its
// path, or an empty string on failure.
std::wstring MakeEmptyFolder();

// The names of everything in the folder and below it, relative to it.
std::vector<std::wstring> FolderContents(const std::wstring& folder);

// Removes the folder and everything in it.
void RemoveFolder(const std::wstring& folder);

} // namespace blackbox

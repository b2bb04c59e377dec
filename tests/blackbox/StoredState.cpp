// Pictures of the registry and of folders; see StoredState.h.
#include "StoredState.h"

#include <algorithm>
#include <cstdio>

namespace blackbox {

namespace {

void PictureKey(HKEY key, const std::wstring& prefix, std::vector<std::wstring>& lines) {
    DWORD longestSubkey = 0;
    DWORD longestValueName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longestSubkey, nullptr, nullptr,
                         &longestValueName, &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        lines.push_back(prefix + L"(unreadable)");
        return;
    }
    std::vector<wchar_t> name(std::max(longestSubkey, longestValueName) + 1);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD dataSize = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(),
                          &dataSize) != ERROR_SUCCESS) {
            break;
        }
        std::wstring line = prefix + L"[" + std::wstring(name.data(), nameLength) + L"] type " +
                            std::to_wstring(type) + L":";
        for (DWORD b = 0; b < dataSize; ++b) {
            wchar_t hex[4];
            std::swprintf(hex, 4, L" %02x", data[b]);
            line += hex;
        }
        lines.push_back(line);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::wstring subkeyName(name.data(), nameLength);
        const std::wstring subkeyPath = prefix + subkeyName + L"\\";
        lines.push_back(subkeyPath);
        HKEY subkey = nullptr;
        if (RegOpenKeyExW(key, subkeyName.c_str(), 0, KEY_READ, &subkey) == ERROR_SUCCESS) {
            PictureKey(subkey, subkeyPath, lines);
            RegCloseKey(subkey);
        }
    }
}

void ListFolder(const std::wstring& folder, const std::wstring& prefix,
                std::vector<std::wstring>& names) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        names.push_back(prefix + name);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ListFolder(folder + L"\\" + name, prefix + name + L"\\", names);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

std::wstring RegistryPicture(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return L"(absent)";
    }
    std::vector<std::wstring> lines;
    PictureKey(key, L"", lines);
    RegCloseKey(key);
    std::sort(lines.begin(), lines.end());
    std::wstring picture = L"(present)\n";
    for (const std::wstring& line : lines) {
        picture += line + L"\n";
    }
    return picture;
}

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, nameLength);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring MakeEmptyFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, temp) == 0) {
        return {};
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring folder =
            std::wstring(temp) + L"vantrel-blackbox-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(attempt);
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            return folder;
        }
    }
    return {};
}

std::vector<std::wstring> FolderContents(const std::wstring& folder) {
    std::vector<std::wstring> names;
    ListFolder(folder, L"", names);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveFolder(const std::wstring& folder) {
    std::vector<std::wstring> names = FolderContents(folder);
    // Deepest first: a folder's contents sort after the folder itself.
    std::sort(names.rbegin(), names.rend());
    for (const std::wstring& name : names) {
        const std::wstring path = folder + L"\\" + name;
        if (!DeleteFileW(path.c_str())) {
            RemoveDirectoryW(path.c_str());
        }
    }
    RemoveDirectoryW(folder.c_str());
}

} // namespace blackbox

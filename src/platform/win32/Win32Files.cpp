#include "platform/win32/Win32Files.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <limits>

#include "base/Text.h"
#include "platform/win32/Handles.h"

namespace qlr::win32 {

namespace {

class HandleStream : public FileStream {
public:
    explicit HandleStream(UniqueHandle file) : file_(std::move(file)) {}

    FileRead Read(void* buffer, std::size_t count) override {
        char* bytes = static_cast<char*>(buffer);
        FileRead read;
        while (read.count < count) {
            DWORD done = 0;
            const DWORD ask =
                static_cast<DWORD>(std::min<std::size_t>(count - read.count, std::numeric_limits<DWORD>::max()));
            if (!::ReadFile(file_.get(), bytes + read.count, ask, &done, nullptr)) {
                read.failed = true;
                break;
            }
            if (done == 0) break;  // the end of the file
            read.count += done;
        }
        return read;
    }

    std::size_t Write(const void* buffer, std::size_t count) override {
        const char* bytes = static_cast<const char*>(buffer);
        std::size_t written = 0;
        while (written < count) {
            DWORD done = 0;
            const DWORD ask =
                static_cast<DWORD>(std::min<std::size_t>(count - written, std::numeric_limits<DWORD>::max()));
            if (!::WriteFile(file_.get(), bytes + written, ask, &done, nullptr) || done == 0) break;
            written += done;
        }
        return written;
    }

    bool Sync() override { return ::FlushFileBuffers(file_.get()) != 0; }

    std::int64_t Size() override {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(file_.get(), &size) ? size.QuadPart : -1;
    }

    std::int64_t Position() override {
        LARGE_INTEGER zero{}, position{};
        return ::SetFilePointerEx(file_.get(), zero, &position, FILE_CURRENT) ? position.QuadPart : -1;
    }

    bool Seek(std::int64_t position) override {
        LARGE_INTEGER to{};
        to.QuadPart = position;
        return position >= 0 && ::SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN);
    }

    std::string Identity() override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(file_.get(), &info)) return {};
        return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
               std::to_string(info.nFileIndexLow);
    }

private:
    UniqueHandle file_;
};

std::unique_ptr<FileStream> Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    UniqueHandle file(::CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<HandleStream>(std::move(file));
}

}  // namespace

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MoveFileOver(const std::string& from, const std::string& to) {
    // Write-through: the move is on disk when the call returns, as an update's commit needs.
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
    return ::MoveFileExA(from.c_str(), to.c_str(), kFlags) != 0;
}

bool DeleteTree(const std::string& path) {
    // The source is a list of names ending in an empty one: path, NUL, NUL.
    std::string source = path;
    source.push_back('\0');
    SHFILEOPSTRUCTA operation{};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = source.c_str();
    operation.pTo = nullptr;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;  // unattended: never a box
    return ::SHFileOperationA(&operation) == 0;
}

std::unique_ptr<FileStream> OpenExistingForRead(const std::string& path) {
    // An editor, a virus scanner or a backup may hold the file in any way; reading must not stop for it.
    return Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
}

std::unique_ptr<FileStream> OpenHeld(const std::string& path) {
    return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

std::unique_ptr<FileStream> CreateAlways(const std::string& path) {
    return Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
}

std::unique_ptr<FileStream> CreateNew(const std::string& path) {
    return Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
}

bool AppendText(const std::string& path, const std::string& text) {
    UniqueHandle file;
    for (int attempt = 0; attempt < 50; ++attempt) {
        file.reset(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) break;
        const DWORD error = ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return false;
        ::Sleep(20);
    }
    if (!file) return false;
    DWORD done = 0;
    // Append-only access makes the one write land at the end, whoever else appends.
    return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr) && done == text.size();
}

std::string CurrentDirectory() {
    std::string folder(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
        if (length == 0) return std::string();
        if (length < folder.size()) {
            folder.resize(length);
            return folder;
        }
        folder.resize(length);
    }
}

std::vector<std::string> ListCurrentFolder(const std::string& mask) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    UniqueFind search(::FindFirstFileA(mask.c_str(), &found));
    if (!search) return names;
    const auto slash = mask.find_last_of("\\/:");
    const std::string nameMask = slash == std::string::npos ? mask : mask.substr(slash + 1);
    constexpr DWORD kSkipped = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    do {
        if (found.dwFileAttributes & kSkipped) continue;
        if (!qlr::MatchesWildcard(nameMask, found.cFileName)) continue;
        names.emplace_back(found.cFileName);
    } while (::FindNextFileA(search.get(), &found));
    return names;
}

std::string TempFolder() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length > MAX_PATH) return std::string();
    return std::string(buffer, length);
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    auto file = CreateAlways(path);
    return file && file->Write(text.data(), text.size()) == text.size();
}

}  // namespace qlr::win32

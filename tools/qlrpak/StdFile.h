#pragma once
// Plain files for the package tool, which runs without the program's platform.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qlr::pak {

class StdFile final : public FileStream {
public:
    // mode as for fopen ("rb", "wb"); nullptr when the file cannot be opened.
    static std::unique_ptr<StdFile> Open(const std::filesystem::path& path, const char* mode);
    ~StdFile() override;
    FileRead Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    bool Sync() override;
    std::int64_t Size() override;
    std::int64_t Position() override;
    bool Seek(std::int64_t position) override;
    // Flushes and closes; false when buffered bytes could not be written.
    bool Close();

private:
    explicit StdFile(std::FILE* file) : file_(file) {}
    std::FILE* file_;
};

// Creates path, which must not exist yet, with text; readable and writable by
// its owner only where the system has such permissions. False when it exists
// or cannot be written.
bool WriteNewPrivateFile(const std::filesystem::path& path, const std::string& text);

// Renames from over to, replacing to when it exists.
bool MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace qlr::pak

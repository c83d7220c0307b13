#include "StdFile.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qlr::pak {

namespace {
int SeekTo(std::FILE* file, std::int64_t position, int whence) {
#ifdef _WIN32
    return _fseeki64(file, position, whence);
#else
    return fseeko(file, static_cast<off_t>(position), whence);
#endif
}
std::int64_t Tell(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<std::int64_t>(ftello(file));
#endif
}
}  // namespace

std::unique_ptr<StdFile> StdFile::Open(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    std::wstring wmode(mode, mode + std::char_traits<char>::length(mode));
    std::FILE* file = _wfopen(path.c_str(), wmode.c_str());
#else
    std::FILE* file = std::fopen(path.c_str(), mode);
#endif
    if (!file) return nullptr;
    return std::unique_ptr<StdFile>(new StdFile(file));
}

StdFile::~StdFile() { Close(); }

bool StdFile::Close() {
    if (!file_) return true;
    bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

FileRead StdFile::Read(void* buffer, std::size_t count) {
    const std::size_t done = std::fread(buffer, 1, count, file_);
    return FileRead{done, done < count && std::ferror(file_) != 0};
}

std::size_t StdFile::Write(const void* buffer, std::size_t count) { return std::fwrite(buffer, 1, count, file_); }

bool StdFile::Sync() {
    if (std::fflush(file_) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(file_)) == 0;
#else
    return fsync(fileno(file_)) == 0;
#endif
}

std::int64_t StdFile::Size() {
    std::int64_t here = Tell(file_);
    if (SeekTo(file_, 0, SEEK_END) != 0) return -1;
    std::int64_t size = Tell(file_);
    SeekTo(file_, here, SEEK_SET);
    return size;
}

std::int64_t StdFile::Position() { return Tell(file_); }

bool StdFile::Seek(std::int64_t position) { return SeekTo(file_, position, SEEK_SET) == 0; }

bool WriteNewPrivateFile(const std::filesystem::path& path, const std::string& text) {
#ifdef _WIN32
    auto file = StdFile::Open(path, "wbx");
    if (!file) return false;
    const bool written = file->Write(text.data(), text.size()) == text.size();
    return file->Close() && written;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    bool written = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        written = n > 0;
        if (written) done += static_cast<std::size_t>(n);
    }
    written = ::fsync(fd) == 0 && written;
    return ::close(fd) == 0 && written;
#endif
}

bool MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    std::error_code error;
    std::filesystem::rename(from, to, error);
    return !error;
#endif
}

}  // namespace qlr::pak

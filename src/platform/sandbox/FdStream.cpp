#include "platform/sandbox/FdStream.h"

#include <sys/stat.h>

#include <cerrno>

namespace qlr::sandbox {

FileRead ReadSome(int fd, void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    FileRead read;
    while (read.count < count) {
        ssize_t got = ::read(fd, out + read.count, count - read.count);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) read.failed = true;
        if (got <= 0) break;
        read.count += static_cast<std::size_t>(got);
    }
    return read;
}

std::size_t WriteSome(int fd, const void* buffer, std::size_t count) {
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t put = ::write(fd, in + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<std::size_t>(put);
    }
    return done;
}

bool WriteAll(int fd, const void* buffer, std::size_t count) { return WriteSome(fd, buffer, count) == count; }

void AllowOwnerExecute(int fd) {
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && !(info.st_mode & S_IXUSR))
        fchmod(fd, (info.st_mode & 07777) | S_IXUSR);
}

FileRead FdStream::Read(void* buffer, std::size_t count) { return ReadSome(fd_.get(), buffer, count); }

std::size_t FdStream::Write(const void* buffer, std::size_t count) { return WriteSome(fd_.get(), buffer, count); }

bool FdStream::Sync() {
    int rc;
    do rc = ::fsync(fd_.get());
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

std::int64_t FdStream::Size() {
    struct stat info;
    return fstat(fd_.get(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

std::int64_t FdStream::Position() { return static_cast<std::int64_t>(lseek(fd_.get(), 0, SEEK_CUR)); }

bool FdStream::Seek(std::int64_t position) {
    return position >= 0 && lseek(fd_.get(), static_cast<off_t>(position), SEEK_SET) == position;
}

std::string FdStream::Identity() {
    struct stat info;
    if (::fstat(fd_.get(), &info) != 0) return {};
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

}  // namespace qlr::sandbox

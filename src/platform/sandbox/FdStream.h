#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/sandbox/UniqueFd.h"

namespace qlr::sandbox {

// A FileStream over an open descriptor.
class FdStream : public FileStream {
public:
    explicit FdStream(UniqueFd fd) : fd_(std::move(fd)) {}
    FileRead Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    bool Sync() override;
    std::int64_t Size() override;
    std::int64_t Position() override;
    bool Seek(std::int64_t position) override;
    std::string Identity() override;

private:
    UniqueFd fd_;
};

// Whole writes and reads, retried over short counts and interruptions.
std::size_t WriteSome(int fd, const void* buffer, std::size_t count);
bool WriteAll(int fd, const void* buffer, std::size_t count);
FileRead ReadSome(int fd, void* buffer, std::size_t count);
// Any file can be started on Windows: the owner may execute what the sandbox writes.
void AllowOwnerExecute(int fd);

}  // namespace qlr::sandbox

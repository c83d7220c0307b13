#include "update/BufferedWriter.h"

namespace qlr {

bool BufferedWriter::Write(const void* data, std::size_t count) {
    if (failed_) return false;
    const char* bytes = static_cast<const char*>(data);
    if (buffer_.size() + count > kCapacity && !Flush()) return false;
    if (count >= kCapacity) {
        failed_ = file_.Write(bytes, count) != count;
        return !failed_;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    return true;
}

bool BufferedWriter::Flush() {
    if (!failed_ && !buffer_.empty()) failed_ = file_.Write(buffer_.data(), buffer_.size()) != buffer_.size();
    buffer_.clear();
    return !failed_;
}

}  // namespace qlr

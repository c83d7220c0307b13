#include <algorithm>
#include <vector>

#include "update/Signature.h"

namespace qlr {

bool HashPrefix(FileStream& file, std::int64_t signedLength, crypto::Sha256& hash) {
    if (!file.Seek(0)) return false;
    std::vector<char> buffer(std::size_t{64} * 1024);
    for (std::int64_t left = signedLength; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, std::int64_t(buffer.size())));
        const std::size_t got = file.Read(buffer.data(), want).count;
        if (got == 0) return false;
        hash.Update(buffer.data(), got);
        left -= static_cast<std::int64_t>(got);
    }
    return true;
}

std::optional<SignatureTrailer> ReadTrailer(FileStream& file) {
    const std::int64_t size = file.Size();
    if (size < 0) return std::nullopt;
    std::string tail(static_cast<std::size_t>(std::min(size, kMaxTrailerSize)), '\0');
    if (!file.Seek(size - static_cast<std::int64_t>(tail.size()))) return std::nullopt;
    const FileRead read = file.Read(tail.data(), tail.size());
    if (read.failed || read.count != tail.size()) return std::nullopt;
    return ParseTrailer(tail);
}

SignatureCheck CheckSignature(FileStream& file, const std::vector<crypto::P256PublicKey>& keys) {
    SignatureCheck check;
    const std::int64_t fileSize = file.Size();
    if (fileSize <= 0) return check;
    const std::optional<SignatureTrailer> read = ReadTrailer(file);
    if (!read) {
        check.verdict = SignatureCheck::Verdict::BadSignature;
        return check;
    }
    const SignatureTrailer& trailer = *read;
    if (trailer.kind == SignatureTrailer::Kind::None) return check;
    check.verdict = SignatureCheck::Verdict::BadSignature;
    if (trailer.kind == SignatureTrailer::Kind::Damaged) return check;

    auto hash = crypto::StartSha256();
    if (!HashPrefix(file, fileSize - kTrailerAfterSigned, *hash)) return check;
    const crypto::Sha256Digest digest = hash->Finish();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (crypto::VerifyP256(keys[i], digest, trailer.signature)) {
            check.verdict = SignatureCheck::Verdict::Good;
            check.name = trailer.name;
            check.key = i;
            break;
        }
    }
    return check;
}

}  // namespace qlr

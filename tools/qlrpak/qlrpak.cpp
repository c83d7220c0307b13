// qlrpak: makes and checks the packages the update server hands out.
//
//   qlrpak create OUT.pak [--sign PRIVATE.pem] WINPATH=LOCALFILE...
//   qlrpak list PAK
//   qlrpak verify PAK [--key PUBLIC.pem]
//   qlrpak extract PAK --to DIR
//   qlrpak keygen PRIVATE.pem PUBLIC.pem
//   qlrpak sign PAK --key PRIVATE.pem [--name NAME]

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "PackageWriter.h"
#include "StdFile.h"
#include "update/Package.h"
#include "update/Signature.h"

namespace fs = std::filesystem;
using qlr::PackageEntry;
using qlr::PackageReader;
using qlr::RunError;
using qlr::pak::StdFile;

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  qlrpak create OUT.pak [--sign PRIVATE.pem] WINPATH=LOCALFILE...\n"
    "      Packs each LOCALFILE to be unpacked at WINPATH (an absolute path on drive\n"
    "      C: such as C:\\TSLData\\QLR\\QLR6-39.exe; split at the first '='). At most\n"
    "      100 entries; empty files and paths the program would refuse are refused.\n"
    "      OUT.pak is replaced only when it is complete. --sign signs it as with 'sign'.\n"
    "  qlrpak list PAK\n"
    "      Prints the entry count, then one line per entry: size, compressed size, path.\n"
    "  qlrpak verify PAK [--key PUBLIC.pem]\n"
    "      Inflates every entry and checks its size and checksum, then reports the\n"
    "      signature: the name it was signed under and, with --key, which key of\n"
    "      PUBLIC.pem made it, or why none did. With --key a package that is not\n"
    "      signed by one of its keys fails.\n"
    "  qlrpak keygen PRIVATE.pem PUBLIC.pem\n"
    "      Makes a P-256 release key pair. PRIVATE.pem is readable by its owner only;\n"
    "      keep it off the build and update servers. PUBLIC.pem goes into the build\n"
    "      (cmake -DQLR_RELEASE_KEYS=PUBLIC.pem). Existing files are not replaced.\n"
    "  qlrpak sign PAK --key PRIVATE.pem [--name NAME]\n"
    "      Signs PAK under NAME, the name the program asks the server for (default:\n"
    "      the file name without .pak, such as QLR6-39 or Foundation). A signature\n"
    "      already there is replaced. PAK is replaced only when it is complete.\n"
    "  qlrpak extract PAK --to DIR\n"
    "      Writes each entry under DIR by its Windows path: C:\\x\\y becomes\n"
    "      DIR/drive_c/x/y (the layout of a sandbox root).\n"
    "  qlrpak --help\n"
    "Signing needs the Linux build of qlrpak (OpenSSL).\n"
    "Exit status: 0 success, 1 a damaged or badly signed package or a failed step,\n"
    "2 bad usage.\n";

int UsageError(const std::string& message) {
    std::cerr << "qlrpak: " << message << "\n\n" << kUsage;
    return 2;
}

// Readable reasons for the program's own terse inflater messages.
std::string Reason(const std::string& message) {
    if (message == "error") return "corrupt compressed data or checksum mismatch";
    if (message == "Stream write error") return "cannot write the output file";
    return message;
}

struct OpenedPackage {
    std::unique_ptr<StdFile> file;
    std::unique_ptr<PackageReader> reader;
    std::int32_t count = 0;
};

// Applies the program's own rules: short files are server messages, more than 100 entries are refused.
OpenedPackage OpenPackage(const std::string& path) {
    OpenedPackage package;
    package.file = StdFile::Open(path, "rb");
    if (!package.file) throw RunError("cannot open " + path);
    std::int64_t size = package.file->Size();
    if (size <= qlr::kMaxServerMessageSize)
        throw RunError(path + " is not a package: " + std::to_string(size) +
                       " bytes is a server message (a package is longer than 500 bytes)");
    package.reader = std::make_unique<PackageReader>(*package.file, path);
    package.count = package.reader->ReadCount();
    if (package.count > qlr::kMaxPackageEntries)
        throw RunError(path + " holds " + std::to_string(package.count) + " entries; at most 100 are unpacked");
    if (package.count < 0) package.count = 0;
    return package;
}

std::string EntryError(std::int32_t index, const PackageEntry& entry, const std::exception& error) {
    return "entry " + std::to_string(index) + " (" + entry.name + "): " + Reason(error.what());
}

// A key file: small text, read whole.
std::string ReadKeyFile(const fs::path& path) {
    auto file = StdFile::Open(path, "rb");
    if (!file) throw RunError("cannot open " + path.string());
    constexpr std::size_t kMaxKeyFile = std::size_t{64} * 1024;
    std::string text(kMaxKeyFile + 1, '\0');
    std::size_t total = 0;
    for (;;) {
        const qlr::FileRead read = file->Read(text.data() + total, text.size() - total);
        if (read.failed) throw RunError("cannot read " + path.string());
        if (read.count == 0) break;
        total += read.count;
    }
    if (total > kMaxKeyFile) throw RunError(path.string() + " is too large for a key file");
    text.resize(total);
    return text;
}

// The name the program asks the server for: the file name without ".pak".
std::string DefaultSignedName(const fs::path& package) {
    std::string name = package.filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pak") == 0) name.resize(name.size() - 4);
    return name;
}

qlr::SignatureTrailer TrailerOf(qlr::FileStream& file, const std::string& path) {
    auto trailer = qlr::ReadTrailer(file);
    if (!trailer) throw RunError("cannot read " + path);
    return *trailer;
}

// The package's own bytes: its length without a signature trailer.
std::int64_t UnsignedLength(qlr::FileStream& file, const std::string& path) {
    const std::int64_t size = file.Size();
    const qlr::SignatureTrailer trailer = TrailerOf(file, path);
    if (trailer.kind == qlr::SignatureTrailer::Kind::Damaged)
        throw RunError(path + " ends in a damaged signature trailer");
    return trailer.kind == qlr::SignatureTrailer::Kind::Present ? size - trailer.size : size;
}

// The trailer that signs the first length bytes of file under name.
std::string MakeTrailer(qlr::FileStream& file, std::int64_t length, const std::string& name,
                        const std::string& privatePem) {
    auto hash = qlr::crypto::StartSha256();
    if (!qlr::HashPrefix(file, length, *hash)) throw RunError("cannot read the package to sign it");
    const std::string head = qlr::TrailerSignedPart(name);
    hash->Update(head.data(), head.size());
    return head + qlr::TrailerClosingPart(qlr::crypto::SignP256(privatePem, hash->Finish()), name);
}

// Takes "--option VALUE" out of args; nullopt when absent. Throws on a missing value.
std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& option) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != option) continue;
        if (i + 1 >= args.size()) throw std::invalid_argument(option + " needs a value");
        std::string value = args[i + 1];
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        return value;
    }
    return std::nullopt;
}

int Create(std::vector<std::string> args) {
    std::optional<std::string> signKey;
    try {
        signKey = TakeOption(args, "--sign");
    } catch (const std::invalid_argument& error) {
        return UsageError(error.what());
    }
    if (args.size() < 2) return UsageError("create needs OUT.pak and at least one WINPATH=LOCALFILE");
    const fs::path out = args[0];
    const std::string signedName = DefaultSignedName(out);
    if (signKey && !qlr::IsSignableName(signedName))
        return UsageError("cannot sign under the name " + signedName + " (1 to 255 characters, no path)");
    struct Source {
        std::string name;
        fs::path local;
        std::int32_t size;
    };
    std::vector<Source> sources;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto eq = arg.find('=');
        if (eq == std::string::npos) return UsageError("expected WINPATH=LOCALFILE, got: " + arg);
        Source source{arg.substr(0, eq), fs::path(arg.substr(eq + 1)), 0};
        if (source.name.empty()) return UsageError("empty entry name in: " + arg);
        std::error_code error;
        auto size = fs::file_size(source.local, error);
        if (error || !fs::is_regular_file(source.local)) {
            std::cerr << "qlrpak: cannot read " << source.local.string() << "\n";
            return 1;
        }
        if (size == 0) return UsageError("empty file (the program cannot unpack it): " + source.local.string());
        if (size > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max()))
            return UsageError("file larger than 2147483647 bytes: " + source.local.string());
        source.size = static_cast<std::int32_t>(size);
        sources.push_back(std::move(source));
    }
    if (sources.size() > static_cast<std::size_t>(qlr::kMaxPackageEntries))
        return UsageError("more than 100 entries (the program refuses such a package)");

    fs::path temporary = out;
    temporary += ".part";
    try {
        const std::string privatePem = signKey ? ReadKeyFile(*signKey) : std::string();
        auto file = StdFile::Open(temporary, "wb");
        if (!file) throw RunError("cannot create " + temporary.string());
        qlr::PackageWriter writer(*file, static_cast<std::int32_t>(sources.size()));
        for (const Source& source : sources) {
            auto in = StdFile::Open(source.local, "rb");
            if (!in) throw RunError("cannot open " + source.local.string());
            writer.AddEntry(source.name, source.size, [&](char* buffer, std::size_t n) {
                const qlr::FileRead read = in->Read(buffer, n);
                if (read.failed) throw RunError("cannot read " + source.local.string());
                return read.count;
            });
        }
        std::int64_t length = writer.Finish();
        if (!file->Close()) throw RunError("cannot write " + temporary.string());
        if (signKey) {
            auto written = StdFile::Open(temporary, "rb");
            if (!written) throw RunError("cannot read " + temporary.string());
            const std::string trailer = MakeTrailer(*written, length, signedName, privatePem);
            written.reset();
            auto tail = StdFile::Open(temporary, "ab");
            if (!tail || tail->Write(trailer.data(), trailer.size()) != trailer.size() || !tail->Close())
                throw RunError("cannot write " + temporary.string());
            length += static_cast<std::int64_t>(trailer.size());
        }
        if (!qlr::pak::MoveFileOver(temporary, out)) throw RunError("cannot replace " + out.string());
        std::cout << out.string() << ": " << sources.size() << " files, " << length << " bytes"
                  << (signKey ? ", signed as " + signedName : std::string()) << "\n";
        return 0;
    } catch (const std::exception& error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        std::cerr << "qlrpak: " << error.what() << "\n";
        return 1;
    }
}

int List(const std::string& path) {
    OpenedPackage package = OpenPackage(path);
    std::cout << package.count << " files\n";
    for (std::int32_t i = 1; i <= package.count; ++i) {
        PackageEntry entry = package.reader->ReadEntryHeader();
        std::int64_t compressed = 0;
        try {
            compressed = package.reader->InflateEntry(entry.size, [](const char*, std::size_t) { return true; });
        } catch (const std::exception& error) {
            throw RunError(EntryError(i, entry, error));
        }
        std::cout << entry.size << "\t" << compressed << "\t" << entry.name << "\n";
    }
    return 0;
}

// Inflates every entry; throws on the first damaged one. Returns the entry count.
std::int32_t CheckEntries(const std::string& path) {
    OpenedPackage package = OpenPackage(path);
    for (std::int32_t i = 1; i <= package.count; ++i) {
        PackageEntry entry = package.reader->ReadEntryHeader();
        try {
            package.reader->InflateEntry(entry.size, [](const char*, std::size_t) { return true; });
        } catch (const std::exception& error) {
            throw RunError(EntryError(i, entry, error));
        }
    }
    return package.count;
}

int Verify(const std::string& path, const std::optional<std::string>& keyFile) {
    const std::int32_t count = CheckEntries(path);
    std::cout << path << ": OK, " << count << " files\n";
    auto file = StdFile::Open(path, "rb");
    if (!file) throw RunError("cannot open " + path);
    if (!keyFile) {
        const qlr::SignatureTrailer trailer = TrailerOf(*file, path);
        switch (trailer.kind) {
            case qlr::SignatureTrailer::Kind::None: std::cout << "signature: none (not signed)\n"; return 0;
            case qlr::SignatureTrailer::Kind::Damaged:
                std::cout << "signature: BAD (damaged signature trailer)\n";
                return 1;
            case qlr::SignatureTrailer::Kind::Present: break;
        }
        std::cout << "signature: signed as " << trailer.name << " (not checked: give --key PUBLIC.pem)\n";
        return 0;
    }
    const auto keys = qlr::ParsePublicKeys(ReadKeyFile(*keyFile));
    if (keys.empty()) throw RunError(*keyFile + " holds no -----BEGIN PUBLIC KEY----- block");
    const qlr::SignatureCheck check = qlr::CheckSignature(*file, keys);
    switch (check.verdict) {
        case qlr::SignatureCheck::Verdict::NotSigned: std::cout << "signature: none (not signed)\n"; return 1;
        case qlr::SignatureCheck::Verdict::BadSignature:
            std::cout << "signature: BAD (made with none of the " << keys.size() << " key(s) of " << *keyFile
                      << ", or the package was changed after signing)\n";
            return 1;
        case qlr::SignatureCheck::Verdict::Good: break;
    }
    std::cout << "signature: good, signed as " << check.name << " with key " << check.key + 1 << " of " << *keyFile
              << "\n";
    const std::string served = DefaultSignedName(path);
    if (served != check.name)
        std::cout << "note: served as " << fs::path(path).filename().string() << " it is refused (signed as "
                  << check.name << ")\n";
    return 0;
}

int Keygen(const std::vector<std::string>& args) {
    if (args.size() != 2) return UsageError("keygen needs PRIVATE.pem and PUBLIC.pem");
    for (const std::string& path : args)
        if (fs::exists(path)) throw RunError(path + " exists; a key file is never replaced");
    const qlr::crypto::P256KeyPair pair = qlr::crypto::MakeP256KeyPair();
    if (!qlr::pak::WriteNewPrivateFile(args[0], pair.privatePem)) throw RunError("cannot write " + args[0]);
    auto file = StdFile::Open(args[1], "wb");
    if (!file || file->Write(pair.publicPem.data(), pair.publicPem.size()) != pair.publicPem.size() || !file->Close()) {
        std::error_code ignored;
        fs::remove(args[1], ignored);
        throw RunError("cannot write " + args[1]);
    }
    std::cout << args[0] << ": private key (owner only; keep it safe)\n"
              << args[1] << ": public key (build with -DQLR_RELEASE_KEYS=" << args[1] << ")\n";
    return 0;
}

int Sign(std::vector<std::string> args) {
    std::optional<std::string> key, name;
    try {
        key = TakeOption(args, "--key");
        name = TakeOption(args, "--name");
    } catch (const std::invalid_argument& error) {
        return UsageError(error.what());
    }
    if (args.size() != 1 || !key) return UsageError("sign needs PAK --key PRIVATE.pem [--name NAME]");
    const fs::path path = args[0];
    const std::string signedName = name ? *name : DefaultSignedName(path);
    if (!qlr::IsSignableName(signedName))
        return UsageError("cannot sign under the name " + signedName + " (1 to 255 characters, no path)");
    const std::string privatePem = ReadKeyFile(*key);
    CheckEntries(path.string());

    auto in = StdFile::Open(path, "rb");
    if (!in) throw RunError("cannot open " + path.string());
    const std::int64_t length = UnsignedLength(*in, path.string());
    const std::string trailer = MakeTrailer(*in, length, signedName, privatePem);
    fs::path temporary = path;
    temporary += ".part";
    try {
        auto out = StdFile::Open(temporary, "wb");
        if (!out || !in->Seek(0)) throw RunError("cannot create " + temporary.string());
        std::vector<char> buffer(std::size_t{64} * 1024);
        for (std::int64_t left = length; left > 0;) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, std::int64_t(buffer.size())));
            const std::size_t got = in->Read(buffer.data(), want).count;
            if (got == 0) throw RunError("cannot read " + path.string());
            if (out->Write(buffer.data(), got) != got) throw RunError("cannot write " + temporary.string());
            left -= static_cast<std::int64_t>(got);
        }
        if (out->Write(trailer.data(), trailer.size()) != trailer.size() || !out->Close())
            throw RunError("cannot write " + temporary.string());
        in.reset();
        if (!qlr::pak::MoveFileOver(temporary, path)) throw RunError("cannot replace " + path.string());
    } catch (...) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
    std::cout << path.string() << ": signed as " << signedName << "\n";
    return 0;
}

// DIR/drive_c/... for "C:\...", DIR/... for a relative path; nullopt for
// anything that could point outside DIR.
std::optional<fs::path> LocalPathFor(const fs::path& dir, const std::string& winPath) {
    std::string rest = winPath;
    fs::path result = dir;
    if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
        if (rest.size() < 3 || (rest[2] != '\\' && rest[2] != '/')) return std::nullopt;  // drive-relative
        result /= std::string("drive_") + static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
        rest = rest.substr(3);
    }
    std::size_t start = 0;
    bool any = false;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos) end = rest.size();
        std::string part = rest.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.find(':') != std::string::npos) return std::nullopt;
        result /= part;
        any = true;
        start = end + 1;
    }
    if (!any) return std::nullopt;
    return result;
}

int Extract(const std::string& path, const fs::path& dir) {
    OpenedPackage package = OpenPackage(path);
    for (std::int32_t i = 1; i <= package.count; ++i) {
        PackageEntry entry = package.reader->ReadEntryHeader();
        auto target = LocalPathFor(dir, entry.name);
        if (!target)
            throw RunError("entry " + std::to_string(i) + " (" + entry.name + "): path leaves " + dir.string());
        fs::create_directories(target->parent_path());
        fs::path temporary = *target;
        temporary += ".part";
        try {
            auto out = StdFile::Open(temporary, "wb");
            if (!out) throw RunError("cannot create " + temporary.string());
            package.reader->InflateEntry(entry.size,
                                         [&](const char* data, std::size_t n) { return out->Write(data, n) == n; });
            if (!out->Close()) throw RunError("Stream write error");
            if (!qlr::pak::MoveFileOver(temporary, *target)) throw RunError("cannot replace " + target->string());
        } catch (const std::exception& error) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            throw RunError(EntryError(i, entry, error));
        }
        std::cout << target->string() << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return UsageError("no command given");
    const std::string command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    args.erase(args.begin());
    try {
        if (command == "create") return Create(args);
        if (command == "keygen") return Keygen(args);
        if (command == "sign") return Sign(args);
        if (command == "list") {
            if (args.size() != 1) return UsageError("list needs exactly one PAK");
            return List(args[0]);
        }
        if (command == "verify") {
            std::optional<std::string> key;
            try {
                key = TakeOption(args, "--key");
            } catch (const std::invalid_argument& error) {
                return UsageError(error.what());
            }
            if (args.size() != 1) return UsageError("verify needs exactly one PAK [--key PUBLIC.pem]");
            return Verify(args[0], key);
        }
        if (command == "extract") {
            if (args.size() != 3 || args[1] != "--to") return UsageError("extract needs PAK --to DIR");
            return Extract(args[0], args[2]);
        }
        return UsageError("unknown command: " + command);
    } catch (const std::exception& error) {
        std::cerr << "qlrpak: " << error.what() << "\n";
        return 1;
    }
}

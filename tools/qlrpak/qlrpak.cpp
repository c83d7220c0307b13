// qlrpak: makes and checks the packages the update server hands out.
//
//   qlrpak create OUT.pak WINPATH=LOCALFILE...
//   qlrpak list PAK
//   qlrpak verify PAK
//   qlrpak extract PAK --to DIR

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "PackageWriter.h"
#include "StdFile.h"
#include "update/Package.h"

namespace fs = std::filesystem;
using qlr::PackageEntry;
using qlr::PackageReader;
using qlr::RunError;
using qlr::pak::StdFile;

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  qlrpak create OUT.pak WINPATH=LOCALFILE...\n"
    "      Packs each LOCALFILE to be unpacked at WINPATH (an absolute path on drive\n"
    "      C: such as C:\\TSLData\\QLR\\QLR6-39.exe; split at the first '='). At most\n"
    "      100 entries; empty files and paths the program would refuse are refused.\n"
    "      OUT.pak is replaced only when it is complete.\n"
    "  qlrpak list PAK\n"
    "      Prints the entry count, then one line per entry: size, compressed size, path.\n"
    "  qlrpak verify PAK\n"
    "      Inflates every entry and checks its size and checksum.\n"
    "  qlrpak extract PAK --to DIR\n"
    "      Writes each entry under DIR by its Windows path: C:\\x\\y becomes\n"
    "      DIR/drive_c/x/y (the layout of a sandbox root).\n"
    "  qlrpak --help\n"
    "Exit status: 0 success, 1 a damaged package or a failed step, 2 bad usage.\n";

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
        throw RunError(path + " holds " + std::to_string(package.count) +
                       " entries; at most 100 are unpacked");
    if (package.count < 0) package.count = 0;
    return package;
}

std::string EntryError(std::int32_t index, const PackageEntry& entry, const std::exception& error) {
    return "entry " + std::to_string(index) + " (" + entry.name + "): " + Reason(error.what());
}

int Create(const std::vector<std::string>& args) {
    if (args.size() < 2) return UsageError("create needs OUT.pak and at least one WINPATH=LOCALFILE");
    const fs::path out = args[0];
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
        if (size == 0)
            return UsageError("empty file (the program cannot unpack it): " + source.local.string());
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
        if (!qlr::pak::MoveFileOver(temporary, out)) throw RunError("cannot replace " + out.string());
        std::cout << out.string() << ": " << sources.size() << " files, " << length << " bytes\n";
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
            compressed =
                package.reader->InflateEntry(entry.size, [](const char*, std::size_t) { return true; });
        } catch (const std::exception& error) {
            throw RunError(EntryError(i, entry, error));
        }
        std::cout << entry.size << "\t" << compressed << "\t" << entry.name << "\n";
    }
    return 0;
}

int Verify(const std::string& path) {
    OpenedPackage package = OpenPackage(path);
    for (std::int32_t i = 1; i <= package.count; ++i) {
        PackageEntry entry = package.reader->ReadEntryHeader();
        try {
            package.reader->InflateEntry(entry.size, [](const char*, std::size_t) { return true; });
        } catch (const std::exception& error) {
            throw RunError(EntryError(i, entry, error));
        }
    }
    std::cout << path << ": OK, " << package.count << " files\n";
    return 0;
}

// DIR/drive_c/... for "C:\...", DIR/... for a relative path; nullopt for
// anything that could point outside DIR.
std::optional<fs::path> LocalPathFor(const fs::path& dir, const std::string& winPath) {
    std::string rest = winPath;
    fs::path result = dir;
    if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
        if (rest.size() < 3 || (rest[2] != '\\' && rest[2] != '/')) return std::nullopt;  // drive-relative
        result /=
            std::string("drive_") + static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
        rest = rest.substr(3);
    }
    std::size_t start = 0;
    bool any = false;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos) end = rest.size();
        std::string part = rest.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.find(':') != std::string::npos)
            return std::nullopt;
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
            throw RunError("entry " + std::to_string(i) + " (" + entry.name + "): path leaves " +
                           dir.string());
        fs::create_directories(target->parent_path());
        fs::path temporary = *target;
        temporary += ".part";
        try {
            auto out = StdFile::Open(temporary, "wb");
            if (!out) throw RunError("cannot create " + temporary.string());
            package.reader->InflateEntry(
                entry.size, [&](const char* data, std::size_t n) { return out->Write(data, n) == n; });
            if (!out->Close()) throw RunError("Stream write error");
            if (!qlr::pak::MoveFileOver(temporary, *target))
                throw RunError("cannot replace " + target->string());
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
        if (command == "list" || command == "verify") {
            if (args.size() != 1) return UsageError(command + " needs exactly one PAK");
            return command == "list" ? List(args[0]) : Verify(args[0]);
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

#include <iostream>

#include "Commands.h"
#include "Publisher.h"

namespace qlr::server {

int PublishCommand(const Arguments& arguments) {
    bool watch = false;
    std::filesystem::path root;
    for (const std::string& arg : arguments) {
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--watch") {
            watch = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return UsageError("unknown option: " + arg);
        } else if (root.empty()) {
            root = arg;
        } else {
            return UsageError("publish takes one FOLDER");
        }
    }
    if (root.empty()) return UsageError("publish needs a FOLDER");
    if (!std::filesystem::is_directory(root / "updates")) return UsageError("no updates folder in " + root.string());
    try {
        const Publication publication = BuildPublication(root);
        for (const auto& warning : publication.warnings) std::cerr << "qlr-server: " << warning << "\n";
        WritePublication(root, publication);
        for (const auto& offer : publication.offers) std::cout << offer << "\n";
        std::cout << "published " << (root / "published").string() << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "qlr-server: " << error.what() << "\n";
        return 1;
    }
    if (!watch) return 0;
    Publisher publisher(root);
    while (publisher.WaitForChange()) std::cout << "published again" << std::endl;
    std::cerr << "qlr-server: cannot watch " << root.string() << "\n";
    return 1;
}

}  // namespace qlr::server

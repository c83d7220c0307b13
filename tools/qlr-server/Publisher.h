#pragma once
// Keeps the publication of a root current: it is built again, and written to
// ROOT/published/, only after ROOT/updates/ or ROOT/rollout.txt changed
// (inotify; without it, on every call).

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "Publish.h"

namespace qlr::server {

class Publisher {
public:
    // Publishes once; throws RolloutError when rollout.txt is damaged.
    explicit Publisher(std::filesystem::path root);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // The current publication: as of the last Refresh() while ChangeDescriptor()
    // is one, else built afresh. After a change that cannot be published (a
    // damaged rollout.txt) the last good one stays and the reason goes to
    // standard error once.
    std::shared_ptr<const Publication> Current();

    // Readable when something may have changed (-1 when nothing is watched);
    // Refresh() then publishes again if it did.
    int ChangeDescriptor() const { return inotify_; }
    void Refresh();

    // Blocks until something changed (for `publish --watch`); false without inotify.
    bool WaitForChange();

private:
    bool Changed(bool wait);
    void Watch();
    void Publish();
    void Adopt(std::shared_ptr<const Publication> next);

    std::filesystem::path root_;
    int inotify_ = -1;
    int updatesWatch_ = -1;
    std::mutex mutex_;
    std::shared_ptr<const Publication> current_;
};

}  // namespace qlr::server

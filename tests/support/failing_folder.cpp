#include "support/failing_folder.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace testing_support {

namespace {

std::string system_text(int error) { return std::strerror(error); }

// Moves the calling thread into a private mount namespace once; "" when
// done (now or before), else why not.
std::string private_mount_namespace() {
    static const std::string why = []() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0)
            return "mounting is not allowed here (unshare: " + system_text(errno) + ")";
        // Mounts made here must not reach the system's namespace.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "mounting is not allowed here (private mounts: " + system_text(errno) + ")";
        return std::string();
    }();
    return why;
}

// Writes until the file system has no block left.
bool fill(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    static const char block[4096] = {};
    int error = 0;
    for (;;) {
        if (::write(fd, block, sizeof block) < 0) {
            error = errno;
            break;
        }
    }
    ::close(fd);
    return error == ENOSPC;
}

}  // namespace

FailingFolder::FailingFolder(Kind kind, const std::map<std::string, std::string>& existing)
    : mount_(dir_.file("fs")) {
    out_ = mount_ + "/out";
    unavailable_ = prepare(kind, existing);
}

std::string FailingFolder::prepare(Kind kind, const std::map<std::string, std::string>& existing) {
    std::filesystem::create_directory(mount_);
    std::string why = private_mount_namespace();
    if (!why.empty()) {
        if (kind == ReadOnly && ::geteuid() != 0) {
            // Folder permissions bind everyone but root.
            std::filesystem::create_directory(out_);
            for (const auto& [name, bytes] : existing) write_file(file(name), bytes);
            ::chmod(out_.c_str(), 0555);
            error_ = EACCES;
            return std::string();
        }
        return why;
    }
    if (::mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
        return "mounting a tmpfs is not allowed here (" + system_text(errno) + ")";
    mounted_ = true;
    std::filesystem::create_directory(out_);
    for (const auto& [name, bytes] : existing) write_file(file(name), bytes);
    if (kind == Full) {
        if (!fill(mount_ + "/filler")) return "could not fill the tmpfs";
        error_ = ENOSPC;
    } else {
        if (::mount(nullptr, mount_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return "remounting the tmpfs read-only is not allowed here (" + system_text(errno) + ")";
        error_ = EROFS;
    }
    return std::string();
}

FailingFolder::~FailingFolder() {
    if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
    else ::chmod(out_.c_str(), 0755);  // so that the temporary folder can go
}

std::string FailingFolder::reason() const { return system_text(error_); }

std::vector<std::string> folder_entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testing_support

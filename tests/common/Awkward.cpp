#include "tests/common/Awkward.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace ardentix::test {

namespace {

bool Capabilities(bool set, unsigned (&sets)[6]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (set) {
        for (int i = 0; i < 2; ++i) data[i] = {sets[3 * i], sets[3 * i + 1], sets[3 * i + 2]};
        return ::syscall(SYS_capset, &header, data) == 0;
    }
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        sets[3 * i] = data[i].effective;
        sets[3 * i + 1] = data[i].permitted;
        sets[3 * i + 2] = data[i].inheritable;
    }
    return true;
}

}  // namespace

TWithoutOverride::TWithoutOverride() {
    if (::geteuid() != 0 || !Capabilities(false, saved_)) return;
    unsigned reduced[6];
    std::memcpy(reduced, saved_, sizeof reduced);
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) reduced[3 * (cap / 32)] &= ~(1u << (cap % 32));
    active_ = Capabilities(true, reduced);
}

TWithoutOverride::~TWithoutOverride() {
    if (active_) Capabilities(true, saved_);
}

std::vector<std::string> WithoutOverride(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> all;
    if (::geteuid() == 0)
        all = {"/usr/bin/setpriv", "--inh-caps=-dac_override,-dac_read_search",
               "--bounding-set=-dac_override,-dac_read_search"};
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

TSmallDisk::TSmallDisk(const std::string& folder, long bytes) : folder_(folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    mounted_ = ::mount("ardentix-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

TSmallDisk::~TSmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

std::string MakeTooLongPath(const std::string& folder, const std::string& file_name) {
    const std::string part(200, 'd');
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    std::string path = folder;
    while (path.size() <= PATH_MAX && fd >= 0) {
        ::mkdirat(fd, part.c_str(), 0755);
        const int inner = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = inner;
        path += "/" + part;
    }
    if (fd >= 0) {
        const int file = ::openat(fd, file_name.c_str(), O_WRONLY | O_CREAT, 0644);
        if (file >= 0) ::close(file);
        ::close(fd);
    }
    return path + "/" + file_name;
}

void RemoveTree(const std::string& folder) {
    const std::string command = "rm -rf -- '" + folder + "'";
    if (std::system(command.c_str()) != 0) std::filesystem::remove_all(folder);
}

}  // namespace ardentix::test

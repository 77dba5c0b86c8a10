#pragma once
// What a test needs to make the entries an archive can hold but a test folder
// seldom does: folders that may not be read (also when the tests run as root,
// whose capabilities pass over permissions), and an output folder that fills.
#include <string>
#include <vector>

namespace ardentix::test {

// For its life the calling thread, and the threads it starts, cannot pass over
// permissions; nothing when not running as root.
class TWithoutOverride {
public:
    TWithoutOverride();
    ~TWithoutOverride();
    TWithoutOverride(const TWithoutOverride&) = delete;
    TWithoutOverride& operator=(const TWithoutOverride&) = delete;

private:
    unsigned saved_[6] = {};  // the capability sets as read
    bool active_ = false;
};

// The arguments that start program as a child that cannot pass over
// permissions either: through setpriv when running as root.
std::vector<std::string> WithoutOverride(const std::string& program, const std::vector<std::string>& args);

// A file system of bytes size mounted at folder (made if missing) for the
// object's life; Mounted() false where the system does not let the test
// mount (not root, a container without the right).
class TSmallDisk {
public:
    TSmallDisk(const std::string& folder, long bytes);
    ~TSmallDisk();
    TSmallDisk(const TSmallDisk&) = delete;
    TSmallDisk& operator=(const TSmallDisk&) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

// A path to a file at the end of folders nested so deep that the whole is
// longer than the system takes; the folders are made through handles.
std::string MakeTooLongPath(const std::string& folder, const std::string& file_name);
// Removes a tree however deep (where a path-by-path removal stops).
void RemoveTree(const std::string& folder);

}  // namespace ardentix::test

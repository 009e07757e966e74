#pragma once

// A security descriptor for a file that holds a secret: its DACL grants the current user alone full
// access and is protected, so none of the folder's inheritable entries reach the file.
#include <windows.h>

#include <vector>

namespace launcher {

class CurrentUserOnlySecurity {
public:
    // Throws Error("无法设置文件权限。") when the process's user cannot be read.
    CurrentUserOnlySecurity();
    CurrentUserOnlySecurity(const CurrentUserOnlySecurity&) = delete;
    CurrentUserOnlySecurity& operator=(const CurrentUserOnlySecurity&) = delete;

    // For CreateFileW: the file is created with this DACL. Valid while this object lives.
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    std::vector<unsigned char> user_; // TOKEN_USER: the SID the entry names lives here
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

} // namespace launcher

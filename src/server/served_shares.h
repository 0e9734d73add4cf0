// The share names that servers of this process serve now.
#pragma once

#include <string>

// A claim on a share name within this process, held by its server from
// before its objects are created until after they are released. A second
// server for the same name in the same process is told so, instead of
// meeting the system's refusal of its objects, which would read as another
// process's doing.
class ServedShareClaim {
public:
    ServedShareClaim() = default;
    ~ServedShareClaim();
    ServedShareClaim(const ServedShareClaim&) = delete;
    ServedShareClaim& operator=(const ServedShareClaim&) = delete;

    // False when a server of this process already holds the name.
    bool Claim(const std::string& shareName);

private:
    std::string name_;
    bool held_ = false;
};

#include "served_shares.h"

#include <set>

#include "platform/critical_section.h"
#include "platform/immortal.h"

namespace {

struct ServedShares {
    platform::CriticalSection lock;
    std::set<std::string> names;
};

// Servers may be destroyed by other statics' destructors at exit.
ServedShares& Served() {
    static platform::Immortal<ServedShares> served;
    return served.get();
}

}  // namespace

ServedShareClaim::~ServedShareClaim() {
    if (held_) {
        platform::CriticalSectionLock hold(Served().lock);
        Served().names.erase(name_);
    }
}

bool ServedShareClaim::Claim(const std::string& shareName) {
    platform::CriticalSectionLock hold(Served().lock);
    if (!Served().names.insert(shareName).second) {
        return false;
    }
    name_ = shareName;
    held_ = true;
    return true;
}

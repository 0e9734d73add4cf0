// The server's names on Linux, where anyone may make a file of a predictable
// name first: a name held otherwise than as this user's own private object
// is refused, and says so, rather than used; a name this user left behind is
// still taken over.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "link_test_support.h"
#include "platform/system_names.h"
#include "wire/messages.h"

namespace {

namespace fs = std::filesystem;

using linktest::ServerPtr;
using linktest::UniqueName;

constexpr fs::perms kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms kOpenToAll =
    kOwnerOnly | fs::perms::group_read | fs::perms::group_write | fs::perms::others_read | fs::perms::others_write;
constexpr std::uintmax_t kPlantedBytes = 100;

// A file planted under the system name of `objectName`, removed at the end.
class PlantedName {
public:
    PlantedName(const std::string& objectName, fs::perms permissions)
        : PlantedName(fs::path(platform::NamePath(objectName)), permissions) {}
    PlantedName(const fs::path& path, fs::perms permissions) : path_(path) {
        std::ofstream(path_, std::ios::binary) << std::string(kPlantedBytes, 'p');
        fs::permissions(path_, permissions);
    }
    // A link under the system name of `objectName` to `target`.
    PlantedName(const std::string& objectName, const fs::path& target) : path_(platform::NamePath(objectName)) {
        fs::create_symlink(target, path_);
    }
    ~PlantedName() {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    PlantedName(const PlantedName&) = delete;
    PlantedName& operator=(const PlantedName&) = delete;

    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// Creates a server of `share` that must be refused for `heldName`.
testing::AssertionResult RefusedAsHeld(const std::string& share, const std::string& heldName) {
    ServerPtr server(QuorvexServerCreate(share.c_str(), 4096, 1));
    if (server) {
        return testing::AssertionFailure() << "a server of " << share << " was created";
    }
    const std::string reason = QuorvexServerLastError(nullptr);
    const std::string expected = "the name \"" + heldName + "\" is held by another user";
    if (reason.find(expected) == std::string::npos) {
        return testing::AssertionFailure() << "the reason \"" << reason << "\" does not say " << expected;
    }
    if (reason.find("already served") != std::string::npos) {
        return testing::AssertionFailure() << "the reason \"" << reason << "\" sends the user to another server";
    }
    return testing::AssertionSuccess();
}

TEST(PrivateNamesTest, ASegmentNameOpenToOthersIsRefusedAndLeftAlone) {
    const std::string share = UniqueName("planted");
    const PlantedName planted(share, kOpenToAll);
    EXPECT_TRUE(RefusedAsHeld(share, share));
    EXPECT_EQ(kPlantedBytes, fs::file_size(planted.Path())) << "the planted segment was truncated";
}

TEST(PrivateNamesTest, AMutexNameOpenToOthersIsRefused) {
    const std::string share = UniqueName("plantedmutex");
    const PlantedName planted(MutexName(share), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                                    fs::perms::others_read);
    EXPECT_TRUE(RefusedAsHeld(share, MutexName(share)));
    EXPECT_FALSE(platform::NameIsListed(share)) << "the refused server left its segment's name behind";
}

TEST(PrivateNamesTest, ALinkUnderTheSegmentNameIsRefused) {
    const std::string share = UniqueName("plantedlink");
    // Outside the names' folder, where no clearing of abandoned names can
    // take it away.
    const PlantedName targetFile(fs::temp_directory_path() / UniqueName("linktarget"), kOwnerOnly);
    const PlantedName link(share, targetFile.Path());
    EXPECT_TRUE(RefusedAsHeld(share, share));
    EXPECT_EQ(kPlantedBytes, fs::file_size(targetFile.Path())) << "the link's target was truncated";
}

TEST(PrivateNamesTest, ANameThisUserLeftBehindIsTakenOver) {
    const std::string share = UniqueName("leftover");
    const PlantedName leftover(share, kOwnerOnly);
    const PlantedName leftoverMutex(MutexName(share), kOwnerOnly);
    ServerPtr server(QuorvexServerCreate(share.c_str(), 4096, 1));
    EXPECT_NE(nullptr, server) << QuorvexServerLastError(nullptr);
}

}  // namespace

// Names of named objects that a killed process held: they go once no live
// process holds them, as a Win32 name goes with its last handle, and a name
// that a live process holds stays.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel_objects_support.h"
#include "platform/system_names.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/child_process.h"

namespace {

using kernel_objects::kPatience;
using kernel_objects::Signalled;
using kernel_objects::UniqueName;

// Creates a mapping and its mutex, takes the mutex, tells the parent and
// waits to be killed (args: mapping, held event).
const bool kHoldNamesVerb = testsupport::RegisterChildVerb("hold-names", [](const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return 2;
    }
    // The handles stay open: the process's end is what closes them.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536, args[0].c_str());
    HANDLE mutex = CreateMutexA(nullptr, TRUE, (args[0] + "Mutex").c_str());
    if (mapping == nullptr || mutex == nullptr || !kernel_objects::SignalParent(args[1])) {
        return 3;
    }
    Sleep(kPatience);
    return 4;
});

// Creates an event of its own and ends (args: event).
const bool kCreateEventVerb = testsupport::RegisterChildVerb("create-event", [](const std::vector<std::string>& args) {
    if (args.size() != 1) {
        return 2;
    }
    platform::UniqueEvent event(CreateEventA(nullptr, TRUE, FALSE, args[0].c_str()));
    return event ? 0 : 3;
});

// A child that holds a mapping and its mutex until it is killed.
class HeldNames : public testing::Test {
protected:
    void SetUp() override {
        const std::string heldName = UniqueName("held");
        held = platform::UniqueEvent(CreateEventA(nullptr, TRUE, FALSE, heldName.c_str()));
        ASSERT_TRUE(held);
        ASSERT_TRUE(holder.Start("hold-names", {mapping, heldName}));
        ASSERT_TRUE(Signalled(held.get()));
        ASSERT_TRUE(platform::NameIsListed(mapping));
        ASSERT_TRUE(platform::NameIsListed(mutex));
    }

    bool Listed() const { return platform::NameIsListed(mapping) || platform::NameIsListed(mutex); }

    const std::string mapping = UniqueName("segment");
    const std::string mutex = mapping + "Mutex";
    platform::UniqueEvent held;
    kernel_objects::Child holder;
};

TEST_F(HeldNames, NamesAProcessHoldsStay) {
    platform::RemoveAbandonedNames();
    EXPECT_TRUE(platform::NameIsListed(mapping));
    EXPECT_TRUE(platform::NameIsListed(mutex));
    platform::UniqueMapping opened(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, mapping.c_str()));
    EXPECT_TRUE(opened) << GetLastError();
    holder.Kill();
}

TEST_F(HeldNames, NamesAKilledProcessLeftGoWhenLookedFor) {
    holder.Kill();
    platform::RemoveAbandonedNames();
    EXPECT_FALSE(Listed());
}

TEST_F(HeldNames, TheNextProcessToMakeANamedObjectTakesThemAway) {
    holder.Kill();
    kernel_objects::Child next;
    ASSERT_TRUE(next.Start("create-event", {UniqueName("other")}));
    ASSERT_EQ(0, next.ExitCode());
    EXPECT_FALSE(Listed());
}

TEST_F(HeldNames, ARunningProcessTakesThemAwayWithinASecondOrTwo) {
    holder.Kill();
    // The first named object after a second looks for abandoned names.
    Sleep(1100);
    platform::UniqueEvent other(CreateEventA(nullptr, TRUE, FALSE, UniqueName("other").c_str()));
    ASSERT_TRUE(other);
    EXPECT_FALSE(Listed());
}

TEST_F(HeldNames, AHolderThatStaysKeepsTheNamesAfterAnotherHolderIsKilled) {
    platform::UniqueMapping opened(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, mapping.c_str()));
    ASSERT_TRUE(opened) << GetLastError();
    holder.Kill();
    platform::RemoveAbandonedNames();
    EXPECT_TRUE(platform::NameIsListed(mapping));
    EXPECT_FALSE(platform::NameIsListed(mutex));
    opened.reset();
    EXPECT_FALSE(platform::NameIsListed(mapping));
}

}  // namespace

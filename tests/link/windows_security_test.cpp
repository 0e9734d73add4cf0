// The server's objects as Windows sees them: instances that refuse remote
// clients, and access lists for the creating user and SYSTEM only until the
// server admits every local user.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "link/named_pipe_channel.h"
#include "link_test_support.h"
#include "platform/unique_handle.h"
#include "wire/messages.h"

namespace {

using linktest::ConnectClient;
using linktest::ServerPtr;
using linktest::StartServer;
using linktest::UniqueName;

// The NamedPipeType bit of a pipe whose instances refuse remote clients.
constexpr ULONG kRejectRemoteClients = 0x2;

// The pipe's type as the file system keeps it, read through the client end.
bool PipeType(HANDLE pipe, ULONG& type) {
    IO_STATUS_BLOCK status{};
    FILE_PIPE_LOCAL_INFORMATION info{};
    if (NtQueryInformationFile(pipe, &status, &info, sizeof info, FilePipeLocalInformation) != 0) {
        return false;
    }
    type = info.NamedPipeType;
    return true;
}

// The number of entries in the access list of the object behind `object`;
// -1 when it cannot be read.
int AccessEntries(HANDLE object) {
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return -1;
    }
    const int entries = list != nullptr ? list->AceCount : -1;
    LocalFree(descriptor);
    return entries;
}

// Wine keeps no remote-reject bit (it reports the pipe's type alone), so
// only Windows itself can show it.
bool RunningOnWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(WindowsSecurityTest, EveryInstanceRefusesRemoteClientsAndTheUsersOwnClientsAttach) {
    const std::string name = UniqueName("remote");
    ServerPtr server = StartServer(name, 4096, 2);
    ASSERT_NE(server, nullptr);
    std::vector<platform::UniqueFile> clients;
    for (int client = 1; client <= 2; ++client) {
        clients.emplace_back(
            CreateFileA(PipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(clients.back()) << "client " << client << ", error " << GetLastError();
        DWORD flags = 0;
        DWORD instances = 0;
        ASSERT_TRUE(GetNamedPipeInfo(clients.back().get(), &flags, nullptr, nullptr, &instances));
        EXPECT_EQ(static_cast<DWORD>(PIPE_CLIENT_END | PIPE_TYPE_MESSAGE), flags);
        EXPECT_EQ(2u, instances);
        ULONG type = 0;
        ASSERT_TRUE(PipeType(clients.back().get(), type));
        EXPECT_TRUE(RunningOnWine() || (type & kRejectRemoteClients) != 0)
            << "instance " << client << " accepts remote clients";
    }
    EXPECT_EQ(1, QuorvexServerWaitForClients(server.get(), 2, static_cast<int>(linktest::kWaitMs)));
}

TEST(WindowsSecurityTest, TheSegmentAndMutexAdmitTheUserAndSystemUntilAllLocalUsersAreAdmitted) {
    const std::string name = UniqueName("acl");
    ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    platform::UniqueMapping mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
    platform::UniqueMutex mutex(OpenMutexA(SYNCHRONIZE | READ_CONTROL, FALSE, MutexName(name).c_str()));
    ASSERT_TRUE(mapping && mutex) << GetLastError();
    EXPECT_EQ(2, AccessEntries(mapping.get()));
    EXPECT_EQ(2, AccessEntries(mutex.get()));
    ASSERT_EQ(0, QuorvexServerSetAccess(server.get(), QUORVEX_ACCESS_ALL_LOCAL_USERS))
        << QuorvexServerLastError(server.get());
    EXPECT_EQ(3, AccessEntries(mapping.get()));
    EXPECT_EQ(3, AccessEntries(mutex.get()));
    NamedPipeChannel channel;
    EXPECT_TRUE(ConnectClient(channel, name, server.get(), 1));
}

}  // namespace

// The Windows side of platform/object_security.h: a descriptor made from its
// text form, with the creating user's own SID.
#include "platform/object_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "platform/unique_handle.h"

namespace platform {
namespace {

// An access token: a kernel object of its own kind.
struct TokenTraits : KernelObjectTraits {};

// The text form of the calling process's user SID; false with the last error
// set.
bool CurrentUserSid(std::string& text) {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) {
        return false;
    }
    const UniqueHandle<TokenTraits> token(rawToken);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) {
        return false;
    }
    std::string buffer(size, '\0');
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return false;
    }
    LPSTR sid = nullptr;
    if (!ConvertSidToStringSidA(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        return false;
    }
    text = sid;
    LocalFree(sid);
    return true;
}

}  // namespace

struct ObjectSecurity::Descriptor {
    ~Descriptor() { LocalFree(descriptor); }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes{};
};

ObjectSecurity::ObjectSecurity() noexcept = default;
ObjectSecurity::~ObjectSecurity() = default;
ObjectSecurity::ObjectSecurity(ObjectSecurity&& other) noexcept = default;
ObjectSecurity& ObjectSecurity::operator=(ObjectSecurity&& other) noexcept = default;

bool ObjectSecurity::Build(ObjectAccess access) {
    std::string user;
    if (!CurrentUserSid(user)) {
        return false;
    }
    // Protected, so that nothing is inherited; full access for SYSTEM and the
    // user, and with AllLocalUsers for every authenticated user as well.
    std::string text = "D:P(A;;GA;;;SY)(A;;GA;;;" + user + ")";
    if (access == ObjectAccess::AllLocalUsers) {
        text += "(A;;GA;;;AU)";
    }
    auto made = std::make_unique<Descriptor>();
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &made->descriptor,
                                                              nullptr)) {
        return false;
    }
    made->attributes.nLength = sizeof made->attributes;
    made->attributes.lpSecurityDescriptor = made->descriptor;
    made->attributes.bInheritHandle = FALSE;
    descriptor_ = std::move(made);
    return true;
}

LPSECURITY_ATTRIBUTES ObjectSecurity::Attributes() noexcept {
    return descriptor_ ? &descriptor_->attributes : nullptr;
}

bool ObjectSecurity::ApplyTo(HANDLE object) const {
    if (!descriptor_) {
        return true;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor_->descriptor, &present, &list, &defaulted)) {
        return false;
    }
    const DWORD error =
        SetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, list, nullptr);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return false;
    }
    return true;
}

}  // namespace platform

// Owners and access lists read back from the objects themselves, compared with the accounts an elevated
// program trusts.
#include "system/access_rights.h"

#include "support/guards.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>

namespace {

const ACCESS_MASK EVERY_RIGHT = 0xFFFFFFFF;
const TOKEN_INFORMATION_CLASS TOKEN_ELEVATION_CLASS = static_cast<TOKEN_INFORMATION_CLASS>(20); // TokenElevation
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

void FreeLocal(HLOCAL block)
{
    LocalFree(block);
}
using LocalBlock = Held<HLOCAL, FreeLocal>;

// The accounts whose rights never count against an object: found once per process.
struct TrustedAccounts {
    BYTE system[SECURITY_MAX_SID_SIZE], administrators[SECURITY_MAX_SID_SIZE];
    BYTE creatorOwner[SECURITY_MAX_SID_SIZE], ownerRights[SECURITY_MAX_SID_SIZE];
    BYTE self[SECURITY_MAX_SID_SIZE], selfOwner[SECURITY_MAX_SID_SIZE]; // the account, and the owner it gives

    PSID installer = nullptr; // LocalAlloc'd, kept for the process's life
    bool hasSelf = false;
    bool elevated = false;
};

bool WellKnown(WELL_KNOWN_SID_TYPE type, BYTE* sid)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    return CreateWellKnownSid(type, nullptr, sid, &size) != FALSE;
}

// The process's own account, trusted only while it runs elevated: its unelevated programs are the same
// administrator's.
void FindSelf(TrustedAccounts& t)
{
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
        return;
    }
    KernelHandle token(opened);
    DWORD elevation = 0, size = 0;
    // Elevated, and the administrators' group enabled in the token (a restricted copy of an elevated
    // token holds it for denial only).
    BOOL administrator = FALSE;
    t.elevated = GetTokenInformation(token.get(), TOKEN_ELEVATION_CLASS, &elevation, sizeof(elevation), &size) &&
                 elevation != 0 && CheckTokenMembership(nullptr, t.administrators, &administrator) && administrator;
    BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    BYTE owner[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
    if (t.elevated && GetTokenInformation(token.get(), TokenUser, user, sizeof(user), &size) &&
        GetTokenInformation(token.get(), TokenOwner, owner, sizeof(owner), &size)) {
        t.hasSelf = CopySid(sizeof(t.self), t.self, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) &&
                    CopySid(sizeof(t.selfOwner), t.selfOwner, reinterpret_cast<TOKEN_OWNER*>(owner)->Owner);
    }
}

const TrustedAccounts& Trusted()
{
    static TrustedAccounts t = [] {
        TrustedAccounts found = {};
        WellKnown(WinLocalSystemSid, found.system);
        WellKnown(WinBuiltinAdministratorsSid, found.administrators);
        WellKnown(WinCreatorOwnerSid, found.creatorOwner);      // stands for the owner, who is judged anyway
        WellKnown(WinCreatorOwnerRightsSid, found.ownerRights); // OWNER RIGHTS, the same
        ConvertStringSidToSidA(kTrustedInstaller, &found.installer);
        FindSelf(found);
        return found;
    }();
    return t;
}

bool IsTrusted(PSID sid)
{
    const TrustedAccounts& t = Trusted();
    return EqualSid(sid, const_cast<BYTE*>(t.system)) || EqualSid(sid, const_cast<BYTE*>(t.administrators)) ||
           EqualSid(sid, const_cast<BYTE*>(t.creatorOwner)) || EqualSid(sid, const_cast<BYTE*>(t.ownerRights)) ||
           (t.installer != nullptr && EqualSid(sid, t.installer)) ||
           (t.hasSelf && (EqualSid(sid, const_cast<BYTE*>(t.self)) || EqualSid(sid, const_cast<BYTE*>(t.selfOwner))));
}

// What the allowing entries that apply to the object itself grant to others.
ACCESS_MASK OthersInList(PACL list)
{
    GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ACCESS_MASK rights = 0;
    for (DWORD i = 0; i < list->AceCount; i++) {
        void* entry = nullptr;
        if (!GetAce(list, i, &entry)) {
            return EVERY_RIGHT;
        }
        ACE_HEADER* header = static_cast<ACE_HEADER*>(entry);
        // An entry for what is made inside later, or a denial, grants nothing here; a conditional one may.
        bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
        if ((header->AceFlags & INHERIT_ONLY_ACE) || !allows) {
            continue;
        }
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if (!IsTrusted(&allowed->SidStart)) {
            ACCESS_MASK mask = allowed->Mask;
            MapGenericMask(&mask, &files);
            rights |= mask;
        }
    }
    return rights;
}

} // namespace

ACCESS_MASK AccessRightsOfOthers(HANDLE object)
{
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    DWORD error = GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &list, nullptr, &security);
    LocalBlock held(security);
    if (error != ERROR_SUCCESS || owner == nullptr || list == nullptr || !IsTrusted(owner)) {
        return EVERY_RIGHT;
    }
    return OthersInList(list);
}

ACCESS_MASK AccessRightsOfOthersAt(const char* path)
{
    KernelHandle object(CreateFileA(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return object ? AccessRightsOfOthers(object.get()) : EVERY_RIGHT;
}

bool AccessOwnedBySystemInstaller(HANDLE object)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    DWORD error = GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                                  &security);
    LocalBlock held(security);
    const TrustedAccounts& t = Trusted();
    return error == ERROR_SUCCESS && owner != nullptr && t.installer != nullptr && EqualSid(owner, t.installer);
}

bool AccessObjectOwner(HANDLE object, char* name, size_t nameSize, bool* trusted)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    DWORD error = GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                  nullptr, &security);
    LocalBlock held(security);
    if (error != ERROR_SUCCESS || owner == nullptr || nameSize == 0) {
        return false;
    }
    *trusted = IsTrusted(owner);
    char account[256] = {}, domain[256] = {};
    DWORD accountSize = sizeof(account), domainSize = sizeof(domain);
    SID_NAME_USE use;
    char* sid = nullptr;
    if (LookupAccountSidA(nullptr, owner, account, &accountSize, domain, &domainSize, &use)) {
        snprintf(name, nameSize, "%s%s%s", domain, domain[0] != '\0' ? "\\" : "", account);
    } else if (ConvertSidToStringSidA(owner, &sid)) {
        snprintf(name, nameSize, "%s", sid);
        LocalFree(sid);
    } else {
        snprintf(name, nameSize, "an unknown account");
    }
    return true;
}

bool AccessRunsElevated()
{
    return Trusted().elevated;
}

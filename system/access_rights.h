#pragma once
// Who can change an object: the rights that anyone other than the administrators, the system (and
// TrustedInstaller) hold on a file, folder or key, read from its owner and access list. A program that
// runs with an administrator's rights trusts what only administrators can change; anything else may be
// changed by a standard user between the moment it is judged and the moment it is used.
#include <windows.h>

// Rights that change a folder's entries or an object itself.
const ACCESS_MASK ACCESS_CHANGES_OBJECT = DELETE | WRITE_DAC | WRITE_OWNER;
const ACCESS_MASK ACCESS_ADDS_ENTRIES = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
const ACCESS_MASK ACCESS_WRITES_CONTENT = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA;

// The rights over the object behind handle (opened with READ_CONTROL) that anyone but administrators,
// the system, TrustedInstaller and, in a process running elevated, its own account holds: generic
// rights mapped as for files, denials not subtracted (the answer errs towards "someone else can").
// Every right when the owner is someone else (an owner may rewrite the access list), the list is null,
// or the security cannot be read.
ACCESS_MASK AccessRightsOfOthers(HANDLE object);

// The same for a file or folder by its path (its last name opened without following a link).
ACCESS_MASK AccessRightsOfOthersAt(const char* path);

// Whether the object behind handle (opened with READ_CONTROL) is owned by TrustedInstaller, the account
// that owns the files of the system.
bool AccessOwnedBySystemInstaller(HANDLE object);

// The account that owns a kernel object (opened with READ_CONTROL) as "DOMAIN\\name" (or its SID when
// it has no name), and whether it is one an elevated program trusts; false when it cannot be read.
bool AccessObjectOwner(HANDLE object, char* name, size_t nameSize, bool* trusted);

// Whether this process runs with an administrator's rights (an elevated or unfiltered token).
bool AccessRunsElevated();

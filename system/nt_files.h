#pragma once
// Shared by the deletion gate's files; not for other modules: the system's own file calls below the
// path functions, for work relative to a folder's handle and on handles themselves.
#include <windows.h>

#include <string>
#include <vector>

struct NtDirEntry {
    std::wstring name;
    ULONG attributes;
};

// Opens name relative to the folder handle without following a link at its end; access and the
// options of a folder (FILE_DIRECTORY_FILE) or of anything (0). Null with *error (a Win32 code).
HANDLE NtOpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG options, DWORD* error);

// The entries of a folder opened for listing, without "." and ".."; false with *error on failure.
bool NtListFolder(HANDLE folder, std::vector<NtDirEntry>* entries, DWORD* error);

// The index of the object behind a handle on its volume (FileInternalInformation: one call to the file
// system, where the volume's serial number costs milliseconds under Wine); false when it cannot be had.
bool NtFileIndex(HANDLE handle, ULONGLONG* index);

// The attributes of the object behind a handle, or INVALID_FILE_ATTRIBUTES.
DWORD NtHandleAttributes(HANDLE handle);

// Marks the object behind the handle for deletion when its last handle closes; read-only, hidden and
// system are cleared when they stand in the way (the handle needs FILE_WRITE_ATTRIBUTES for that).
// ERROR_SUCCESS or the Win32 error.
DWORD NtDeleteOnClose(HANDLE handle);

// Whether the object behind a handle was reached by the wide path, with no link on the way. A drive
// letter that maps a folder is taken as the folder it maps, which the system reports instead.
bool NtReachedByPath(HANDLE handle, const std::wstring& path);

// The folder a drive letter maps, as the system defines the drive: a folder of another drive
// ("C:\Data" for a SUBST drive) or of a share ("\\server\share\sub" for a network drive mapped below
// the share's root, "\\server\share" at its root). Empty for a drive that is a volume of its own, an
// unknown drive, or a definition this does not know.
std::wstring NtDriveTarget(wchar_t letter);

#pragma once
// Where phase 1 puts the copy of the program that runs phase 2: a new folder with an unpredictable name
// inside the temporary directory, made by this program (so that nobody can have put a library there
// beforehand that the copy, which runs with the uninstaller's rights, would load) with an access list
// that lets in only administrators, the system and the user, and a new file in it named after the
// product's title (never a path made from it).
#include "engine/session.h"
#include "support/guards.h"

struct Relocation {
    HeapText module; // the running program
    HeapText folder; // the new folder, with its trailing backslash
    HeapText copy;   // the new file in it that receives the copy
};

// The security of a named object of the uninstall's own (the hand-over's objects, the product's claim):
// only administrators, the system and the user who runs the uninstall have access, so another account
// can neither open it nor take its name unseen (the owner of an object made first tells who did). A
// heap block for LocalFree, or null.
PSECURITY_DESCRIPTOR RelocationObjectSecurity();

// The security the new folder is made with: the same three accounts, inherited by what is made in it,
// and nothing inherited from the temporary directory (a protected access list). LocalFree, or null.
PSECURITY_DESCRIPTOR RelocationFolderSecurity();

// Makes the folder and the file; false (nothing left behind) when the temporary directory or a new
// folder or file cannot be had.
bool MakeRelocation(const UninstallSession* session, Relocation* r);

// Copies the program into the file and schedules the copy's removal, then the folder's, at the next
// restart (whether or not the copy succeeded). True when the whole program was copied.
bool CopyProgram(const Relocation* r);

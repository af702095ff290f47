// The session's configuration: the product's structure configuration found beside the program (or in
// the folder the command line names), checked against the installed product, and the user texts read
// from it.
#include "app/session.h"

#include "data/discovery.h"
#include "engine/uninstall_callback.h"
#include "script/load_script.h"
#include "script/object_keys.h"
#include "script/object_text.h"
#include "script/script_parser.h"
#include "support/guards.h"
#include "support/module_path.h"
#include "support/strings.h"
#include "system/gate_paths.h"

#include <string.h>

#include <string>

namespace {

struct TextKey {
    const char* key;
    size_t field;
};

const TextKey kTextKeys[] = {
    {"UN_UNINSTALL", offsetof(UninstallSession, confirmText)},
    {"UN_SUCCESS", offsetof(UninstallSession, successText)},
    {"UN_NOTALL", offsetof(UninstallSession, notAllText)},
    {"UN_LOCKED", offsetof(UninstallSession, lockedText)},
    {"UN_NO_PRIVILEGES", offsetof(UninstallSession, noPrivilegesText)},
    {"UN_DLG_FIXUP", offsetof(UninstallSession, fixupDialogText)},
    {"UN_DLG_REMOVE", offsetof(UninstallSession, removeDialogText)},
    {"UN_DLG_OK", offsetof(UninstallSession, okText)},
    {"UN_DLG_YES", offsetof(UninstallSession, yesText)},
    {"UN_DLG_NO", offsetof(UninstallSession, noText)},
};

// A registry string is read into a 260-byte field with this much room asked for.
const DWORD ITEM_STRING_READ = SESSION_TEXT_SIZE - 2;

void ReleasePaths(UninstallSession* session)
{
    MemFree(session->configPath);
    MemFree(session->configFile);
    MemFree(session->configDir);
    session->configPath = session->configFile = session->configDir = nullptr;
}

// The expanded contents text of the named object, cut to 259 characters; false when there is none.
bool ObjectContents(DatabaseHandle db, const char* name, char* field)
{
    ObjectId id = FindObjectByName(db, name);
    HeapText text(id != 0 ? GetObjectContentsText(id, nullptr, 0) : nullptr);
    if (!text) {
        return false;
    }
    lstrcpynA(field, text.get(), SESSION_TEXT_SIZE);
    return true;
}

// A REG_SZ value of a built-in item into a 260-byte field.
bool ItemString(DatabaseHandle db, const char* name, char* field)
{
    char value[SESSION_TEXT_SIZE] = {};
    DWORD type = 0, size = ITEM_STRING_READ;
    if (QueryItemValueRead(FindObjectByName(db, name), &type, reinterpret_cast<BYTE*>(value), &size, nullptr,
                           nullptr) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    lstrcpynA(field, value, SESSION_TEXT_SIZE);
    return true;
}

// The title: "MAIN_TITLE", else the product's "PRODUCT" value, else the built-in text; then the ten
// user texts that the configuration replaces.
void ReadTexts(UninstallSession* session, DatabaseHandle db)
{
    if (!ObjectContents(db, "MAIN_TITLE", session->title) || session->title[0] == '\0') {
        if (!ItemString(db, "PRODUCT", session->title)) {
            lstrcpynA(session->title, "Uninstall", SESSION_TEXT_SIZE);
        }
    }
    for (const TextKey& t : kTextKeys) {
        char text[SESSION_TEXT_SIZE];
        if (ObjectContents(db, t.key, text)) {
            memcpy(reinterpret_cast<char*>(session) + t.field, text, SESSION_TEXT_SIZE);
        }
    }
    ApplyDialogTexts(session);
}

// Whether two paths name the same file however they are written: normalised, with long names for 8.3
// aliases, compared case-blind. A path the system cannot qualify is compared as it stands.
bool SamePath(const char* a, const char* b)
{
    std::string longA, longB;
    GateVerdict verdict;
    if (NormalisePath(a, &longA, &verdict) && NormalisePath(b, &longB, &verdict)) {
        return StrCompareNoCase(longA.c_str(), longB.c_str()) == 0;
    }
    return StrCompareNoCase(a, b) == 0;
}

// The folder the configuration is searched in, ending in a backslash: the command line's folder or the
// program's own, with long names, so that a start through an 8.3 path finds the product under the names
// its registry value records, and one product always has one configuration path.
char* SearchFolder(const char* pathArgument)
{
    HeapText program(pathArgument != nullptr && pathArgument[0] != '\0' ? nullptr : GetModulePath());
    HeapText folder(program ? PathJoin(program.get(), nullptr, true) : PathJoin(pathArgument, nullptr, false));
    std::string longForm;
    GateVerdict verdict;
    if (!folder || !NormalisePath(folder.get(), &longForm, &verdict)) {
        return folder.release();
    }
    return PathJoin(longForm.c_str(), nullptr, false);
}

// The checks of a loaded script against the registry, then the texts: the LoadSessionTexts result.
int CheckAgainstRegistry(UninstallSession* session, DatabaseHandle db, const char* configFile)
{
    if (!ItemString(db, "VERSION", session->version)) {
        session->version[0] = '\0';
        return CONFIG_NOT_LOADED;
    }
    int result = CONFIG_VERSION_MISMATCH;
    if (FindConfiguration(configFile, nullptr, FIND_STRUCTURE | SCRIPT_REMOVE, session->version, nullptr, nullptr,
                          nullptr, nullptr) == FIND_OK) {
        result = CONFIG_OK;
    }
    MemFree(session->removeValue);
    ObjectId remove = FindObjectByName(db, "REMOVE");
    session->removeValue = ReadItemString(remove);
    if (session->removeValue == nullptr || !SamePath(session->removeValue, session->configFile)) {
        return CONFIG_WRONG_PRODUCT;
    }
    MemFree(session->removeTarget);
    session->removeTarget = GetObjectPath(GetParentObject(remove), 0, nullptr, 0);
    ReadTexts(session, db);
    return result;
}

// Closes a database when the scope ends.
struct ClosingDatabase {
    DatabaseHandle db;
    ~ClosingDatabase() { CloseObjectDatabase(db); }
};

} // namespace

ScriptLocation SessionScriptLocation(const UninstallSession* session)
{
    return ScriptLocation{session->configPath, session->configFile, session->version};
}

int CheckInstalledProduct(const char* text, UINT32 size, const char* path)
{
    if (text == nullptr || size == 0) {
        return 0;
    }
    ClosingDatabase temporary = {CreateObjectDatabase("MAIN_INSTALLED", nullptr, UninstallCallback)};
    if (temporary.db == 0) {
        return 0;
    }
    ParseScript(temporary.db, text, size);
    HeapText remove(ReadItemString(FindObjectByName(temporary.db, "REMOVE")));
    return remove && (path == nullptr || SamePath(remove.get(), path)) ? 1 : 0;
}

int LocateConfiguration(UninstallSession* session, const char* pathArgument)
{
    ReleasePaths(session);
    HeapText searched(SearchFolder(pathArgument));
    if (!searched) {
        return 1;
    }
    session->configPath = MemCopyText(searched.get());
    HeapText found;
    int r = FindConfiguration(session->configPath, nullptr, FIND_STRUCTURE | FIND_INSTALLED | SCRIPT_REMOVE, nullptr,
                              found.out(), nullptr, nullptr, nullptr, CheckInstalledProduct);
    if (r == FIND_OK) {
        MemFree(session->configPath);
        session->configFile = MemCopyText(found.get());
        session->configPath = MemCopyText(found.get());
        session->configDir = found.release();
        if (session->configFile != nullptr && session->configPath != nullptr && session->configDir != nullptr) {
            PathCopyDirectory(session->configDir, strlen(session->configDir) + 1, session->configDir);
            return FIND_OK;
        }
        r = 1; // found, but memory ran out
    }
    ReleasePaths(session);
    session->configPath = searched.release(); // names the folder in the report of a start without a product
    return r;
}

int LoadSessionTexts(UninstallSession* session, const char* configFile)
{
    HeapText directory(PathJoin(configFile, nullptr, true));
    if (!directory) {
        return CONFIG_NOT_LOADED;
    }
    ClosingDatabase main = {CreateObjectDatabase("MAIN", directory.get(), UninstallCallback)};
    ScriptLocation location = SessionScriptLocation(session);
    if (main.db == 0 || !LoadScript(&location, main.db, configFile)) {
        return CONFIG_NOT_LOADED;
    }
    return CheckAgainstRegistry(session, main.db, configFile);
}

// The session's configuration: the product's structure configuration found beside the program (or in
// the folder the command line names), checked against the installed product, and the user texts read
// from it.
#include "app/session.h"

#include "data/discovery.h"
#include "engine/uninstall_callback.h"
#include "script/load_script.h"
#include "script/object_registry.h"
#include "script/object_text.h"
#include "support/memory.h"
#include "support/strings.h"

#include <string.h>

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
    char* text = id != 0 ? GetObjectContentsText(id, nullptr, 0) : nullptr;
    if (text == nullptr) {
        return false;
    }
    lstrcpynA(field, text, SESSION_TEXT_SIZE);
    FreeObjectText(text);
    return true;
}

// A REG_SZ value of a built-in item into a 260-byte field (258 bytes asked for).
bool ItemString(DatabaseHandle db, const char* name, char* field)
{
    char value[SESSION_TEXT_SIZE] = {};
    DWORD type = 0, size = SESSION_TEXT_SIZE - 2;
    if (QueryItemValueRead(FindObjectByName(db, name), &type, reinterpret_cast<BYTE*>(value), &size, nullptr, nullptr) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    lstrcpynA(field, value, SESSION_TEXT_SIZE);
    return true;
}

} // namespace

int LocateConfiguration(UninstallSession* session, const char* pathArgument)
{
    ReleasePaths(session);
    if (pathArgument != nullptr && pathArgument[0] != '\0') {
        // The folder from the command line, as a path that ends in a backslash.
        session->configPath = PathJoin(pathArgument, nullptr, false);
    }
    char* found = nullptr;
    int r = FindConfiguration(session->configPath, nullptr, FIND_STRUCTURE | FIND_INSTALLED | SCRIPT_REMOVE, nullptr,
                              &found, nullptr, nullptr, nullptr);
    if (r == FIND_OK) {
        MemFree(session->configPath);
        session->configFile = MemCopyText(found);
        session->configPath = MemCopyText(found);
        session->configDir = found;
        found = nullptr;
        if (session->configFile == nullptr || session->configPath == nullptr || session->configDir == nullptr) {
            r = 1;
        } else {
            PathCopyDirectory(session->configDir, strlen(session->configDir) + 1, session->configDir);
            return FIND_OK;
        }
    }
    MemFree(found);
    ReleasePaths(session);
    return r;
}

int LoadSessionTexts(UninstallSession* session, const char* configFile)
{
    int result = CONFIG_NOT_LOADED;
    char* directory = PathJoin(configFile, nullptr, true);
    if (directory == nullptr) {
        return result;
    }
    DatabaseHandle db = CreateObjectDatabase("MAIN", directory, UninstallCallback);
    if (db == 0) {
        MemFree(directory);
        return result;
    }
    if (LoadScript(session, db, configFile)) {
        if (!ItemString(db, "VERSION", session->version)) {
            session->version[0] = '\0';
        } else {
            result = CONFIG_VERSION_MISMATCH;
            if (FindConfiguration(configFile, nullptr, FIND_STRUCTURE | SCRIPT_REMOVE, session->version, nullptr, nullptr,
                                  nullptr, nullptr) == FIND_OK) {
                result = CONFIG_OK;
            }
            MemFree(session->removeValue);
            session->removeValue = ReadItemString(FindObjectByName(db, "REMOVE"));
            if (session->removeValue == nullptr || StrCompareNoCase(session->removeValue, session->configFile) != 0) {
                result = CONFIG_WRONG_PRODUCT;
            } else {
                MemFree(session->removeTarget);
                session->removeTarget = GetObjectPath(GetParentObject(FindObjectByName(db, "REMOVE")), 0, nullptr, 0);
                // The title: "MAIN_TITLE", else the product's "PRODUCT" value, else the built-in text.
                if (!ObjectContents(db, "MAIN_TITLE", session->title) || session->title[0] == '\0') {
                    if (!ItemString(db, "PRODUCT", session->title)) {
                        lstrcpynA(session->title, "Uninstall", SESSION_TEXT_SIZE);
                    }
                }
                for (const TextKey& t : kTextKeys) {
                    char* field = reinterpret_cast<char*>(session) + t.field;
                    char text[SESSION_TEXT_SIZE];
                    if (ObjectContents(db, t.key, text)) {
                        memcpy(field, text, SESSION_TEXT_SIZE);
                    }
                }
                ApplyDialogTexts(session);
            }
        }
    }
    CloseObjectDatabase(db);
    MemFree(directory);
    return result;
}

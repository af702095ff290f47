#include "script/script_parser.h"

#include "data/config_text.h"
#include "script/companions.h"
#include "support/memory.h"

#include <string.h>

namespace {

const UINT32 WORD_SIZE = 260; // type words, switch keywords, flag words
const UINT32 ARGUMENT_SIZE = OBJECT_NAME_SIZE;

struct WordBit {
    const char* word;
    UINT32 bit;
};

const WordBit kTypeWords[] = {
    {"_file", OBJECT_FILE},     {"_dir", OBJECT_DIRECTORY},  {"_group", OBJECT_GROUP},
    {"_regkey", OBJECT_REGKEY}, {"_regitem", OBJECT_REGITEM},
};

const WordBit kDatabaseFlagWords[] = {
    {"_KEEP_NEWEST", DATABASE_KEEP_NEWEST},   {"_REPLACE_OLDEST", DATABASE_REPLACE_OLDEST},
    {"_REPLACE_ALWAYS", DATABASE_REPLACE_ALWAYS}, {"_KEEP_ALWAYS", DATABASE_KEEP_ALWAYS},
    {"_REBOOT", DATABASE_REBOOT},             {"_UPDATE", DATABASE_UPDATE},
    {"_REMOVE", DATABASE_REMOVE},
};

// Switches without arguments, tested first, in this order.
const WordBit kFlagSwitches[] = {
    {"_QUERY", OBJECT_QUERY},     {"_REMOVABLE", OBJECT_REMOVABLE}, {"_KEEPCONTENTS", OBJECT_KEEPCONTENTS},
    {"_NONINSTALLABLE", OBJECT_NONINSTALLABLE}, {"_OCX", OBJECT_OCX}, {"_EXE", OBJECT_EXE},
    {"_STRUCTURE", OBJECT_STRUCTURE}, {"_COUNTER", OBJECT_COUNTER}, {"_SETUP", OBJECT_SETUP},
    {"_KILLCHILDREN", OBJECT_KILLCHILDREN}, {"_DELETE", OBJECT_DELETE},
};

const WordBit kSharingModes[] = {
    {"_DOUBLESHARING", SHARING_DLL | SHARING_REGISTRY},
    {"_DLLSHARING", SHARING_DLL},
    {"_REGSHARING", SHARING_REGISTRY},
};

UINT32 Lookup(const WordBit* table, size_t count, const char* word)
{
    for (size_t i = 0; i < count; i++) {
        if (strcmp(table[i].word, word) == 0) {
            return table[i].bit;
        }
    }
    return 0;
}

template <size_t N> UINT32 Lookup(const WordBit (&table)[N], const char* word)
{
    return Lookup(table, N, word);
}

// Frees a heap text at the end of a scope.
struct HeapText {
    char* text;
    ~HeapText() { MemFree(text); }
};

class ScriptReader {
public:
    ScriptReader(DatabaseHandle db, ConfigText* ct) : db_(db), ct_(ct) {}

    // Reads and applies the switches of the current entry until the next ';', '[' or the end.
    void Switches(ObjectId object)
    {
        char keyword[WORD_SIZE];
        while (ConfigTextReadSwitch(ct_, keyword, WORD_SIZE) >= 0) {
            Apply(object, keyword, true);
        }
    }

    // A short argument (names, keys, words): true when one was read; the part of a longer value that
    // does not fit is left for the next switch search to skip.
    bool Word(char* out)
    {
        UINT32 before = ct_->cursor;
        int n = ConfigTextReadValue(ct_, out, ARGUMENT_SIZE, CONFIG_TEXT_ESCAPES);
        // A reader that took nothing would be asked again at the same place for ever.
        return n > 0 || (n == 0 && ct_->cursor != before);
    }

    char* Text() { return ConfigTextReadValueAlloc(ct_, CONFIG_TEXT_ESCAPES); }

private:
    void Apply(ObjectId object, const char* keyword, bool redirectable)
    {
        if (UINT32 bit = Lookup(kFlagSwitches, keyword)) {
            SetObjectFlags(object, bit);
            return;
        }
        char a[ARGUMENT_SIZE], b[ARGUMENT_SIZE];
        if (strcmp(keyword, "_REGISTER") == 0 || strcmp(keyword, "_UNREGISTER") == 0) {
            HeapText text{Text()};
            if (text.text != nullptr) {
                if (strcmp(keyword, "_REGISTER") == 0) {
                    SetObjectRegister(object, text.text);
                } else {
                    SetObjectUnregister(object, text.text);
                }
            }
        } else if (strcmp(keyword, "_UNINSTALL") == 0) {
            HeapText program{Text()};
            HeapText arguments{program.text != nullptr ? Text() : nullptr};
            if (arguments.text != nullptr) {
                SetObjectUninstall(object, program.text, arguments.text);
            }
        } else if (strcmp(keyword, "_SHARED") == 0 || strcmp(keyword, "_SHAREDDLL") == 0) {
            bool key = Word(a) && a[0] != '\0';
            SetObjectShared(object, key ? a : nullptr, strcmp(keyword, "_SHAREDDLL") == 0 ? 1 : 0);
        } else if (strcmp(keyword, "_SOURCE") == 0 || strcmp(keyword, "_TARGETPATH") == 0 ||
                   strcmp(keyword, "_TARGETMASK") == 0 || strcmp(keyword, "_CONTENTS") == 0) {
            HeapText text{Text()};
            if (text.text == nullptr) {
                return;
            }
            if (strcmp(keyword, "_SOURCE") == 0) {
                SetObjectSource(object, text.text);
            } else if (strcmp(keyword, "_CONTENTS") == 0) {
                SetObjectContents(object, text.text);
            } else if (strcmp(keyword, "_TARGETPATH") == 0) {
                SetObjectTargetPath(object, text.text);
            } else {
                SetObjectTargetMask(object, text.text);
            }
        } else if (strcmp(keyword, "_PARENT") == 0) {
            if (Word(a)) {
                ObjectId parent = FindObjectByName(db_, a);
                if (parent != 0) {
                    SetObjectParent(object, parent);
                }
            }
        } else if (strcmp(keyword, "_FRIENDEXT") == 0) {
            FriendExtension record = {};
            if (!Word(record.extension)) {
                return;
            }
            while (Word(a)) {
                if (strcmp(a, "_DEL") == 0) {
                    record.mode |= FRIEND_DELETE;
                } else if (strcmp(a, "_SAT") == 0) {
                    record.mode |= FRIEND_SATELLITE;
                } else if (strcmp(a, "_NEIGH") == 0) {
                    record.mode |= FRIEND_NEIGHBOUR | FRIEND_SATELLITE;
                }
            }
            if (record.mode == 0) {
                record.mode = FRIEND_SATELLITE;
            }
            AddFriendExtension(object, &record);
        } else if (strcmp(keyword, "_GROUP") == 0) {
            if (Word(a) && Word(b)) {
                SetObjectGroup(object, a, b, nullptr, 0);
            }
        } else if (strcmp(keyword, "_ICON") == 0) {
            if (Word(a)) {
                int index = ConfigTextReadInteger(ct_);
                SetObjectGroup(object, nullptr, nullptr, a, index == CONFIG_TEXT_NO_NUMBER ? 0 : index);
            }
        } else if (strcmp(keyword, "_SYSLIB") == 0) {
            bool name = Word(a) && a[0] != '\0';
            SetObjectSysLib(object, name ? a : nullptr);
        } else if (strcmp(keyword, "_SHAREKEY") == 0) {
            UINT32 mode = Word(a) ? Lookup(kSharingModes, a) : 0;
            SetSharingKey(db_, object, mode);
        } else if (strcmp(keyword, "_LANGUAGE") == 0) {
            // The language is dropped and the second word acts as a switch keyword. It may not be
            // "_LANGUAGE" again: a script could otherwise nest without end.
            if (redirectable && Word(a) && Word(b)) {
                Apply(object, b, false);
            }
        }
        // Any other keyword is ignored; the next switch search skips its arguments.
    }

    DatabaseHandle db_;
    ConfigText* ct_;
};

} // namespace

int ParseScript(DatabaseHandle db, const char* text, UINT32 size)
{
    if (text == nullptr || size == 0) {
        return 0;
    }
    ObjectDatabase* d = LockObjectDatabase(db);
    if (d == nullptr) {
        return 0;
    }
    ConfigText ct;
    int section = -1;
    if (ConfigTextOpen(text, size, 0, &ct)) {
        section = ConfigTextFindSection(&ct, "SSCRIPT");
    }
    int result = 0;
    if (section >= 0) {
        ct.cursor = static_cast<UINT32>(section);
        ScriptReader reader(db, &ct);
        char key[WORD_SIZE];
        while (ConfigTextReadKey(&ct, key, WORD_SIZE) >= 0) {
            ObjectId object = 0;
            if (UINT32 type = Lookup(kTypeWords, key)) {
                char name[ARGUMENT_SIZE];
                if (ConfigTextReadValue(&ct, name, ARGUMENT_SIZE, CONFIG_TEXT_ESCAPES) >= 0) {
                    object = AddObject(db, name, type);
                }
                if (object == 0) {
                    continue;
                }
                result = 1;
            } else if (strcmp(key, "_flags") == 0) {
                char word[WORD_SIZE];
                for (;;) {
                    UINT32 before = ct.cursor;
                    int n = ConfigTextReadValue(&ct, word, WORD_SIZE, CONFIG_TEXT_ESCAPES);
                    if (n < 0 || (n == 0 && ct.cursor == before)) {
                        break;
                    }
                    if (UINT32 bit = Lookup(kDatabaseFlagWords, word)) {
                        SetDatabaseFlags(db, bit, 1);
                    }
                }
            } else {
                continue;
            }
            reader.Switches(object);
        }
    }
    UnlockObjectDatabase(db);
    return result;
}

#include "script/script_parser.h"

#include "data/config_text.h"
#include "script/companions.h"
#include "support/guards.h"

#include <string.h>

namespace {

const UINT32 WORD_SIZE = 260; // type words, switch keywords, flag words
const UINT32 ARGUMENT_SIZE = OBJECT_NAME_SIZE;

struct WordBit {
    const char* word;
    UINT32 bit;
};

const WordBit kTypeWords[] = {
    {"_file", OBJECT_FILE},     {"_dir", OBJECT_DIRECTORY},   {"_group", OBJECT_GROUP},
    {"_regkey", OBJECT_REGKEY}, {"_regitem", OBJECT_REGITEM},
};

const WordBit kDatabaseFlagWords[] = {
    {"_KEEP_NEWEST", DATABASE_KEEP_NEWEST},
    {"_REPLACE_OLDEST", DATABASE_REPLACE_OLDEST},
    {"_REPLACE_ALWAYS", DATABASE_REPLACE_ALWAYS},
    {"_KEEP_ALWAYS", DATABASE_KEEP_ALWAYS},
    {"_REBOOT", DATABASE_REBOOT},
    {"_UPDATE", DATABASE_UPDATE},
    {"_REMOVE", DATABASE_REMOVE},
};

// Switches without arguments, tested first, in this order.
const WordBit kFlagSwitches[] = {
    {"_QUERY", OBJECT_QUERY},
    {"_REMOVABLE", OBJECT_REMOVABLE},
    {"_KEEPCONTENTS", OBJECT_KEEPCONTENTS},
    {"_NONINSTALLABLE", OBJECT_NONINSTALLABLE},
    {"_OCX", OBJECT_OCX},
    {"_EXE", OBJECT_EXE},
    {"_STRUCTURE", OBJECT_STRUCTURE},
    {"_COUNTER", OBJECT_COUNTER},
    {"_SETUP", OBJECT_SETUP},
    {"_KILLCHILDREN", OBJECT_KILLCHILDREN},
    {"_DELETE", OBJECT_DELETE},
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

template <size_t N>
UINT32 Lookup(const WordBit (&table)[N], const char* word)
{
    return Lookup(table, N, word);
}

class ScriptReader;
typedef void (*SwitchHandler)(ScriptReader& reader, ObjectId object, const char* keyword);

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

    // Applies one switch keyword. The second word of "_LANGUAGE" is applied as a switch keyword too,
    // but may not be "_LANGUAGE" again: a script could otherwise nest without end.
    void Apply(ObjectId object, const char* keyword, bool redirectable);

    // A short argument (names, keys, words): true when one was read; the part of a longer value that
    // does not fit is left for the next switch search to skip.
    bool Word(char* out) { return ConfigTextNextWord(ct_, out, ARGUMENT_SIZE, CONFIG_TEXT_ESCAPES); }
    // A short argument that is present and not empty.
    bool NonEmptyWord(char* out) { return Word(out) && out[0] != '\0'; }
    // A text argument as a heap text (null when there is none).
    char* Text() { return ConfigTextReadValueAlloc(ct_, CONFIG_TEXT_ESCAPES); }
    int Integer() { return ConfigTextReadInteger(ct_); }
    DatabaseHandle database() const { return db_; }

  private:
    DatabaseHandle db_;
    ConfigText* ct_;
};

// The switches that take a text and hand it to a setter.
void TextSwitch(ScriptReader& r, ObjectId object, const char* keyword)
{
    static const struct {
        const char* word;
        int (*set)(ObjectId, const char*);
    } setters[] = {{"_REGISTER", SetObjectRegister},     {"_UNREGISTER", SetObjectUnregister},
                   {"_SOURCE", SetObjectSource},         {"_TARGETPATH", SetObjectTargetPath},
                   {"_TARGETMASK", SetObjectTargetMask}, {"_CONTENTS", SetObjectContents}};
    HeapText text(r.Text());
    for (const auto& s : setters) {
        if (text && strcmp(keyword, s.word) == 0) {
            s.set(object, text.get());
        }
    }
}

void UninstallSwitch(ScriptReader& r, ObjectId object, const char*)
{
    HeapText program(r.Text());
    HeapText arguments(program ? r.Text() : nullptr);
    if (arguments) {
        SetObjectUninstall(object, program.get(), arguments.get());
    }
}

void SharedSwitch(ScriptReader& r, ObjectId object, const char* keyword)
{
    char key[ARGUMENT_SIZE];
    bool hasKey = r.NonEmptyWord(key);
    SetObjectShared(object, hasKey ? key : nullptr, strcmp(keyword, "_SHAREDDLL") == 0 ? 1 : 0);
}

void ParentSwitch(ScriptReader& r, ObjectId object, const char*)
{
    char name[ARGUMENT_SIZE];
    ObjectId parent = r.Word(name) ? FindObjectByName(r.database(), name) : 0;
    if (parent != 0) {
        SetObjectParent(object, parent);
    }
}

void CompanionSwitch(ScriptReader& r, ObjectId object, const char*)
{
    FriendExtension record = {};
    if (!r.Word(record.extension)) {
        return;
    }
    char word[ARGUMENT_SIZE];
    while (r.Word(word)) {
        if (strcmp(word, "_DEL") == 0) {
            record.mode |= FRIEND_DELETE;
        } else if (strcmp(word, "_SAT") == 0) {
            record.mode |= FRIEND_SATELLITE;
        } else if (strcmp(word, "_NEIGH") == 0) {
            record.mode |= FRIEND_NEIGHBOUR | FRIEND_SATELLITE;
        }
    }
    if (record.mode == 0) {
        record.mode = FRIEND_SATELLITE;
    }
    AddFriendExtension(object, &record);
}

void GroupSwitch(ScriptReader& r, ObjectId object, const char*)
{
    char group[ARGUMENT_SIZE], item[ARGUMENT_SIZE];
    if (r.Word(group) && r.Word(item)) {
        SetObjectGroup(object, group, item, nullptr, 0);
    }
}

void IconSwitch(ScriptReader& r, ObjectId object, const char*)
{
    char icon[ARGUMENT_SIZE];
    if (r.Word(icon)) {
        int index = r.Integer();
        SetObjectGroup(object, nullptr, nullptr, icon, index == CONFIG_TEXT_NO_NUMBER ? 0 : index);
    }
}

void SysLibSwitch(ScriptReader& r, ObjectId object, const char*)
{
    char name[ARGUMENT_SIZE];
    bool named = r.NonEmptyWord(name);
    SetObjectSysLib(object, named ? name : nullptr);
}

void ShareKeySwitch(ScriptReader& r, ObjectId object, const char*)
{
    char word[ARGUMENT_SIZE];
    UINT32 mode = r.Word(word) ? Lookup(kSharingModes, word) : 0;
    SetSharingKey(r.database(), object, mode);
}

void LanguageSwitch(ScriptReader& r, ObjectId object, const char*)
{
    char language[ARGUMENT_SIZE], keyword[ARGUMENT_SIZE];
    if (r.Word(language) && r.Word(keyword)) {
        r.Apply(object, keyword, false); // the language itself is dropped
    }
}

// The switches with arguments, in the order they are tested after the flag switches.
const struct {
    const char* word;
    SwitchHandler handle;
} kSwitches[] = {
    {"_REGISTER", TextSwitch},       {"_UNREGISTER", TextSwitch},  {"_UNINSTALL", UninstallSwitch},
    {"_SHARED", SharedSwitch},       {"_SHAREDDLL", SharedSwitch}, {"_SOURCE", TextSwitch},
    {"_TARGETPATH", TextSwitch},     {"_TARGETMASK", TextSwitch},  {"_PARENT", ParentSwitch},
    {"_FRIENDEXT", CompanionSwitch}, {"_GROUP", GroupSwitch},      {"_ICON", IconSwitch},
    {"_CONTENTS", TextSwitch},       {"_SYSLIB", SysLibSwitch},    {"_SHAREKEY", ShareKeySwitch},
};

void ScriptReader::Apply(ObjectId object, const char* keyword, bool redirectable)
{
    if (UINT32 bit = Lookup(kFlagSwitches, keyword)) {
        SetObjectFlags(object, bit);
        return;
    }
    if (strcmp(keyword, "_LANGUAGE") == 0) {
        if (redirectable) {
            LanguageSwitch(*this, object, keyword);
        }
        return;
    }
    for (const auto& s : kSwitches) {
        if (strcmp(keyword, s.word) == 0) {
            s.handle(*this, object, keyword);
            return;
        }
    }
    // Any other keyword is ignored; the next switch search skips its arguments.
}

} // namespace

namespace {

// An object entry's type word and name: the object (made or declared again), or 0.
ObjectId ObjectEntry(DatabaseHandle db, ConfigText* ct, UINT32 type)
{
    char name[ARGUMENT_SIZE];
    if (ConfigTextReadValue(ct, name, ARGUMENT_SIZE, CONFIG_TEXT_ESCAPES) < 0) {
        return 0;
    }
    return AddObject(db, name, type);
}

// A "_flags" entry's words: each known word sets its database flag.
void FlagsEntry(DatabaseHandle db, ConfigText* ct)
{
    char word[WORD_SIZE];
    while (ConfigTextNextWord(ct, word, WORD_SIZE, CONFIG_TEXT_ESCAPES)) {
        if (UINT32 bit = Lookup(kDatabaseFlagWords, word)) {
            SetDatabaseFlags(db, bit, 1);
        }
    }
}

} // namespace

int ParseScript(DatabaseHandle db, const char* text, UINT32 size)
{
    if (text == nullptr || size == 0) {
        return 0;
    }
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    ConfigText ct;
    if (d == nullptr || !ConfigTextOpen(text, size, 0, &ct)) {
        return 0;
    }
    int section = ConfigTextFindSection(&ct, "SSCRIPT");
    if (section < 0) {
        return 0;
    }
    ct.cursor = static_cast<UINT32>(section);
    ScriptReader reader(db, &ct);
    int result = 0;
    char key[WORD_SIZE];
    while (ConfigTextReadKey(&ct, key, WORD_SIZE) >= 0) {
        ObjectId object = 0;
        if (UINT32 type = Lookup(kTypeWords, key)) {
            object = ObjectEntry(db, &ct, type);
            if (object == 0) {
                continue;
            }
            result = 1;
        } else if (strcmp(key, "_flags") == 0) {
            // Then the switch loop with no object: only "_SHAREKEY" with a mode word does something.
            FlagsEntry(db, &ct);
        } else {
            continue;
        }
        reader.Switches(object);
    }
    return result;
}

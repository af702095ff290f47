#pragma once
// Shared by the files of the object database; not for other modules.
#include "script/object_database.h"

// The object of a database that the caller holds locked, or null.
InstallObject* FindObjectIn(ObjectDatabase* d, ObjectId id);

// Holds an object's database for the life of a scope; the record may be destroyed meanwhile, the
// database handle stays valid.
class ObjectGuard {
public:
    explicit ObjectGuard(ObjectId id) : object_(LockObject(id, &db_)) {}
    ~ObjectGuard()
    {
        if (db_ != 0) {
            UnlockObjectDatabase(db_);
        }
    }
    ObjectGuard(const ObjectGuard&) = delete;
    ObjectGuard& operator=(const ObjectGuard&) = delete;

    InstallObject* object() const { return object_; }
    ObjectDatabase* database() const { return reinterpret_cast<ObjectDatabase*>(db_); }
    // An object the script may change: found and not built-in.
    InstallObject* writable() const
    {
        return object_ != nullptr && !(object_->state & STATE_READ_ONLY) ? object_ : nullptr;
    }

private:
    DatabaseHandle db_ = 0;
    InstallObject* object_;
};

// Replaces a heap text field with a copy of text (null or empty clears it). false when the copy
// could not be made; the field is then empty.
bool ReplaceObjectText(char** field, const char* text);

// Copies at most 31 characters into a name field.
void CopyObjectName(char* field, const char* text);

#pragma once
// Shared by the files of the object database; not for other modules.
#include "script/object_database.h"

// The object of a database that the caller holds locked, or null.
InstallObject* FindObjectIn(ObjectDatabase* d, ObjectId id);

// Holds an object's database for the life of a scope; the record may be destroyed meanwhile, the
// database handle stays valid. Move-only, like the database guard it holds.
class ObjectGuard {
  public:
    explicit ObjectGuard(ObjectId id)
    {
        DatabaseHandle db = 0;
        object_ = LockObject(id, &db);
        held_.reset(db);
    }

    InstallObject* object() const { return object_; }
    ObjectDatabase* database() const { return reinterpret_cast<ObjectDatabase*>(held_.get()); }
    // An object the script may change: found and not built-in.
    InstallObject* writable() const
    {
        return object_ != nullptr && !(object_->state & STATE_READ_ONLY) ? object_ : nullptr;
    }

  private:
    HeldDatabase held_;
    InstallObject* object_ = nullptr;
};

// Replaces a heap text field with a copy of text (null or empty clears it). false when the copy
// could not be made; the field is then empty.
bool ReplaceObjectText(char** field, const char* text);

// Copies at most 31 characters into a name field.
void CopyObjectName(char* field, const char* text);

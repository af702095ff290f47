#pragma once
// The removal preparation: turns a freshly loaded database into a removal plan. Wildcards and
// companions become objects, objects that are not to be handled are dropped, every object is selected,
// shared objects are marked for their count to be lowered and files for their component actions, and
// every removable file is tested for being in use, so that the user is told before anything goes.
#include "script/object_database.h"

// Options.
const UINT32 PREPARE_AGAIN = 0x1;                // work even when the database is already prepared
const UINT32 PREPARE_ASK_QUERIES = 0x2;          // send the "_QUERY" objects to the callback
const UINT32 PREPARE_KEEP_FLAGS = 0x10;          // do not mark the database prepared
const UINT32 PREPARE_NO_IN_USE_TEST = 0x20;      // open no file to test whether it is in use
const UINT32 PREPARE_KEEP_UNTOUCHED = 0x40;      // keep objects the script never named, and "_DELETE" ones
const UINT32 PREPARE_NO_FINAL_WALK = 0x80;       // leave registry keys unopened and groups unfound
const UINT32 PREPARE_EXPAND = 0x1000;            // expand wildcards and companions while walking
const UINT32 PREPARE_MASKS_FROM_TARGET = 0x2000; // wildcards from the target path, not the source

// -1 on failure (a file in use the user was told about, a removable object without a path, an
// aborting answer), else the number of objects counted.
int PrepareRemoval(UINT_PTR context, DatabaseHandle db, UINT32 options);

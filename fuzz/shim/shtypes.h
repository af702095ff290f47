#pragma once
// Test-only stand-in: the item ID list type that the object database's header names.
typedef struct ShimItemIdList ITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;

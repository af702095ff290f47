#pragma once
// Move-only guards for everything the program takes and must give back: a heap block, a registry key,
// a kernel handle, a find handle, a COM interface and a held lock. Each releases what it holds when it
// goes, so that every early return gives back what the function took. None can be copied (a copy
// would release twice); release() hands the resource back to the caller without releasing it.
#include <windows.h>

#include "support/memory.h"
#include "support/reg_keys.h"

// A block of the process heap (MemAlloc, MemCopyText, PathJoin and every "new heap text" result).
template <class T = char>
class HeapPtr {
  public:
    HeapPtr() = default;
    explicit HeapPtr(T* block) : block_(block) {}
    ~HeapPtr() { MemFree(block_); }
    HeapPtr(HeapPtr&& other) noexcept : block_(other.release()) {}
    HeapPtr& operator=(HeapPtr&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    HeapPtr(const HeapPtr&) = delete;
    HeapPtr& operator=(const HeapPtr&) = delete;

    T* get() const { return block_; }
    T* operator->() const { return block_; }
    explicit operator bool() const { return block_ != nullptr; }
    T* release()
    {
        T* block = block_;
        block_ = nullptr;
        return block;
    }
    void reset(T* block = nullptr)
    {
        if (block != block_) {
            MemFree(block_);
        }
        block_ = block;
    }
    // The place for a function that hands out a new block; what was held is released first.
    T** out()
    {
        reset();
        return &block_;
    }

  private:
    T* block_ = nullptr;
};

using HeapText = HeapPtr<char>;

// A registry key; the four predefined roots are never closed.
class RegKeyHandle {
  public:
    RegKeyHandle() = default;
    explicit RegKeyHandle(HKEY key) : key_(key) {}
    ~RegKeyHandle() { reset(); }
    RegKeyHandle(RegKeyHandle&& other) noexcept : key_(other.release()) {}
    RegKeyHandle& operator=(RegKeyHandle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    RegKeyHandle(const RegKeyHandle&) = delete;
    RegKeyHandle& operator=(const RegKeyHandle&) = delete;

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY release()
    {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void reset(HKEY key = nullptr)
    {
        if (key_ != nullptr && key_ != key) {
            CloseRegKey(key_); // leaves a predefined root open
        }
        key_ = key;
    }
    HKEY* out()
    {
        reset();
        return &key_;
    }

  private:
    HKEY key_ = nullptr;
};

// A handle closed with Close: kernel objects (null and INVALID_HANDLE_VALUE mean none) and find
// handles.
template <BOOL(WINAPI* Close)(HANDLE)>
class HandleOf {
  public:
    HandleOf() = default;
    explicit HandleOf(HANDLE handle) : handle_(Valid(handle) ? handle : nullptr) {}
    ~HandleOf() { reset(); }
    HandleOf(HandleOf&& other) noexcept : handle_(other.release()) {}
    HandleOf& operator=(HandleOf&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    HandleOf(const HandleOf&) = delete;
    HandleOf& operator=(const HandleOf&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE release()
    {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(HANDLE handle = nullptr)
    {
        if (handle_ != nullptr && handle_ != handle) {
            Close(handle_);
        }
        handle_ = Valid(handle) ? handle : nullptr;
    }

  private:
    static bool Valid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    HANDLE handle_ = nullptr;
};

using KernelHandle = HandleOf<CloseHandle>;
using FindHandle = HandleOf<FindClose>;

// One reference to a COM interface.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    explicit ComPtr(T* pointer) : pointer_(pointer) {}
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(other.release()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    T* release()
    {
        T* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }
    void reset(T* pointer = nullptr)
    {
        if (pointer_ != nullptr) {
            pointer_->Release();
        }
        pointer_ = pointer;
    }
    // The place for a function that hands out a new reference.
    T** out()
    {
        reset();
        return &pointer_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }

  private:
    T* pointer_ = nullptr;
};

// A critical section entered for the life of a scope.
class CriticalSectionScope {
  public:
    explicit CriticalSectionScope(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
    ~CriticalSectionScope() { LeaveCriticalSection(section_); }
    CriticalSectionScope(const CriticalSectionScope&) = delete;
    CriticalSectionScope& operator=(const CriticalSectionScope&) = delete;

  private:
    CRITICAL_SECTION* section_;
};

// A lock or use that a thread holds and must give back with Release (the object databases' locks,
// the COM use of a thread): the guard calls Release(value) once when it goes, unless it holds nothing.
template <class V, void (*Release)(V)>
class Held {
  public:
    Held() = default;
    explicit Held(V value) : value_(value) {}
    ~Held() { reset(); }
    Held(Held&& other) noexcept : value_(other.release()) {}
    Held& operator=(Held&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    V get() const { return value_; }
    explicit operator bool() const { return value_ != V(); }
    V release()
    {
        V value = value_;
        value_ = V();
        return value;
    }
    void reset(V value = V())
    {
        if (value_ != V()) {
            Release(value_);
        }
        value_ = value;
    }

  private:
    V value_ = V();
};

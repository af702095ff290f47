#pragma once
// A text that grows on the process heap as pieces are added at either end. Running out of memory (or
// past the limit) marks it failed; later additions are ignored and Take gives null.
#include <stddef.h>

class TextBuilder {
  public:
    explicit TextBuilder(size_t limit = 1u << 20) : limit_(limit) {}
    ~TextBuilder();
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    void Append(const char* text, size_t length);
    void Prepend(const char* text, size_t length);
    void DropLast();
    void DropFirst();

    size_t length() const { return length_; }
    bool failed() const { return failed_; }
    char First() const { return length_ != 0 ? data_[start_] : '\0'; }
    char Last() const { return length_ != 0 ? data_[start_ + length_ - 1] : '\0'; }
    const char* text() const { return length_ != 0 ? data_ + start_ : ""; }

    // The text as a new heap block (MemFree), or null when it failed.
    char* Take();

  private:
    bool Reserve(size_t front, size_t back);
    char* data_ = nullptr;
    size_t start_ = 0, length_ = 0, capacity_ = 0;
    size_t limit_;
    bool failed_ = false;
};

// Hands length bytes of text to a caller by the buffer convention of the object texts: size 0 (or no
// buffer) gives a new heap text; a positive size is the buffer's capacity, and a text that fits is
// copied into it and the buffer returned, while one that does not fit comes back as a new heap text;
// a negative size is a capacity of -size, and the text is cut to it. Null when the heap refuses.
char* DeliverObjectText(const char* text, size_t length, char* buffer, int size);

#include "script/text_builder.h"

#include "support/memory.h"

#include <string.h>

TextBuilder::~TextBuilder()
{
    MemFree(data_);
}

// Makes room for front bytes before the text and back bytes behind it (and a terminator).
bool TextBuilder::Reserve(size_t front, size_t back)
{
    if (failed_) {
        return false;
    }
    if (length_ + front + back > limit_) {
        failed_ = true;
        return false;
    }
    if (start_ >= front && start_ + length_ + back + 1 <= capacity_) {
        return true;
    }
    size_t capacity = (length_ + front + back + 1) * 2 + 64;
    char* data = static_cast<char*>(MemAlloc(capacity));
    if (data == nullptr) {
        failed_ = true;
        return false;
    }
    // The text goes to the middle of the new block, with room at both ends.
    size_t start = front + (capacity - length_ - front - back - 1) / 2;
    if (length_ != 0) {
        memcpy(data + start, data_ + start_, length_);
    }
    MemFree(data_);
    data_ = data;
    start_ = start;
    capacity_ = capacity;
    return true;
}

void TextBuilder::Append(const char* text, size_t length)
{
    if (length != 0 && Reserve(0, length)) {
        memcpy(data_ + start_ + length_, text, length);
        length_ += length;
    }
}

void TextBuilder::Prepend(const char* text, size_t length)
{
    if (length != 0 && Reserve(length, 0)) {
        start_ -= length;
        memcpy(data_ + start_, text, length);
        length_ += length;
    }
}

void TextBuilder::DropLast()
{
    if (length_ != 0) {
        length_--;
    }
}

void TextBuilder::DropFirst()
{
    if (length_ != 0) {
        start_++;
        length_--;
    }
}

char* TextBuilder::Take()
{
    if (failed_) {
        return nullptr;
    }
    char* out = static_cast<char*>(MemAlloc((length_ + 4) & ~static_cast<size_t>(3)));
    if (out != nullptr && length_ != 0) {
        memcpy(out, data_ + start_, length_);
    }
    return out;
}

char* DeliverObjectText(const char* text, size_t length, char* buffer, int size)
{
    if (buffer != nullptr && size != 0) {
        if (size < 0) {
            size_t capacity = static_cast<size_t>(-static_cast<INT64>(size));
            size_t n = length < capacity - 1 ? length : capacity - 1;
            memcpy(buffer, text, n);
            buffer[n] = '\0';
            return buffer;
        }
        if (length < static_cast<size_t>(size)) {
            memcpy(buffer, text, length);
            buffer[length] = '\0';
            return buffer;
        }
    }
    char* copy = static_cast<char*>(MemAlloc((length + 4) & ~static_cast<size_t>(3)));
    if (copy != nullptr) {
        memcpy(copy, text, length);
    }
    return copy;
}

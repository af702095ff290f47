#include "data/config_text.h"

#include "support/memory.h"

#include <string.h>

namespace {

bool IsOpened(const ConfigText* ct)
{
    return ct != nullptr && (ct->state & 1) != 0 && ct->text != nullptr;
}

// Safe read: the caller has checked i < ct->length.
unsigned char At(const ConfigText* ct, UINT32 i)
{
    return static_cast<unsigned char>(ct->text[i]);
}

bool IsBlank(unsigned char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Bytes that end a key and start it again behind them.
bool IsKeySeparator(unsigned char c)
{
    return IsBlank(c) || c == '(' || c == ')' || c == ',' || c == '/' || c == ':' || c == ';';
}

// Bytes that end a switch word.
bool IsWordEnd(unsigned char c)
{
    return IsBlank(c) || c == '(' || c == ',' || c == '/' || c == ':' || c == ';' || c == '[';
}

// Checks the buffer rules; a usable buffer is zero-filled. false when the call must fail.
bool CheckBuffer(char* buffer, UINT32 size)
{
    if (buffer == nullptr) {
        return size == 0;
    }
    if (size == 0) {
        return false;
    }
    memset(buffer, 0, size);
    return true;
}

// Skips blanks, line ends, commas, colons and parenthesised groups before a number or a value, storing
// each position in the cursor as it goes. false at '/', ';', '[', an unclosed group or the end.
bool SkipSeparators(ConfigText* ct)
{
    UINT32 i = ct->cursor;
    for (;;) {
        if (i >= ct->length) {
            return false;
        }
        unsigned char c = At(ct, i);
        if (IsBlank(c) || c == ',' || c == ':') {
            ct->cursor = ++i;
        } else if (c == '(') {
            // A group runs to the next ')'; groups do not nest.
            UINT32 j = i + 1;
            while (j < ct->length && At(ct, j) != ')' && At(ct, j) != '[') {
                j++;
            }
            if (j >= ct->length || At(ct, j) == '[') {
                return false;
            }
            i = j + 1;
            ct->cursor = i;
        } else if (c == '/' || c == ';' || c == '[') {
            return false;
        } else {
            return true;
        }
    }
}

} // namespace

int ConfigTextOpen(const char* text, UINT32 length, UINT32 origin, ConfigText* ct)
{
    // Lengths are reported as int, so a text of 2 GiB or more is refused.
    if (ct == nullptr || text == nullptr || length == 0 || length > 0x7FFFFFFFu) {
        return 0;
    }
    ct->state = 1;
    ct->text = text;
    ct->length = length;
    ct->origin = origin;
    ct->cursor = origin;
    return 1;
}

int ConfigTextFindSection(const ConfigText* ct, const char* name)
{
    if (!IsOpened(ct) || name == nullptr) {
        return -1;
    }
    size_t nameLength = strlen(name);
    UINT32 i = ct->origin;
    while (i < ct->length) {
        if (At(ct, i) != '[') {
            i++;
            continue;
        }
        // Compare the bytes behind '[' with the name; the header matches when ']' stands right where
        // the name ends. A mismatch continues the search behind the byte that differed.
        UINT32 j = i + 1;
        size_t k = 0;
        while (k < nameLength && j < ct->length && At(ct, j) == static_cast<unsigned char>(name[k])) {
            j++;
            k++;
        }
        if (j >= ct->length) {
            return -1;
        }
        if (k == nameLength && At(ct, j) == ']') {
            return static_cast<int>(j + 1);
        }
        i = j + 1;
    }
    return -1;
}

int ConfigTextReadKey(ConfigText* ct, char* buffer, UINT32 size)
{
    if (!IsOpened(ct) || !CheckBuffer(buffer, size) || ct->cursor >= ct->length) {
        return -1;
    }
    UINT32 start = ct->cursor;
    UINT32 i = ct->cursor;
    for (;; i++) {
        if (i >= ct->length) {
            return -1;
        }
        unsigned char c = At(ct, i);
        if (c == '=') {
            break;
        }
        if (c == '[') {
            return -1; // the next section begins
        }
        if (IsKeySeparator(c)) {
            start = i + 1;
        }
    }
    UINT32 length = i - start;
    if (buffer == nullptr) {
        return static_cast<int>(length);
    }
    if (length > size - 1) {
        // A key that does not fit is cut; reading goes on behind the first byte that did not fit.
        length = size - 1;
        memcpy(buffer, ct->text + start, length);
        ct->cursor = start + length + 1;
        return static_cast<int>(length);
    }
    memcpy(buffer, ct->text + start, length);
    ct->cursor = i + 1;
    return static_cast<int>(length);
}

int ConfigTextReadSwitch(ConfigText* ct, char* buffer, UINT32 size)
{
    if (!IsOpened(ct) || !CheckBuffer(buffer, size) || ct->cursor >= ct->length) {
        return -1;
    }
    UINT32 i = ct->cursor;
    for (;; i++) {
        if (i >= ct->length) {
            return -1;
        }
        unsigned char c = At(ct, i);
        if (c == '/') {
            break;
        }
        if (c == ';' || c == '[') {
            return -1;
        }
    }
    UINT32 start = i + 1;
    UINT32 end = start;
    while (end < ct->length && !IsWordEnd(At(ct, end))) {
        end++;
    }
    UINT32 length = end - start;
    if (buffer == nullptr) {
        return static_cast<int>(length);
    }
    // A word longer than the buffer is cut; the cursor still goes to the byte that ended it.
    if (length > size - 1) {
        length = size - 1;
    }
    memcpy(buffer, ct->text + start, length);
    ct->cursor = end;
    return static_cast<int>(length);
}

int ConfigTextReadInteger(ConfigText* ct)
{
    if (!IsOpened(ct) || ct->cursor >= ct->length || !SkipSeparators(ct)) {
        return CONFIG_TEXT_NO_NUMBER;
    }
    UINT32 i = ct->cursor;
    bool negative = false;
    unsigned char c = At(ct, i);
    if (c == '+' || c == '-') {
        negative = c == '-';
        i++;
    }
    // Numbers from 268435455 up are refused. The value stops growing once it reaches that limit, so a
    // long run of digits cannot wrap around into a small or negative number.
    const UINT32 limit = 0x0FFFFFFF;
    UINT32 value = 0;
    UINT32 digits = 0;
    while (i < ct->length && At(ct, i) >= '0' && At(ct, i) <= '9') {
        if (value < limit) {
            value = value * 10 + (At(ct, i) - '0');
        }
        digits++;
        i++;
    }
    if (digits == 0 || value >= limit) {
        return CONFIG_TEXT_NO_NUMBER;
    }
    ct->cursor = i;
    int result = static_cast<int>(value);
    return negative ? -result : result;
}

int ConfigTextReadValue(ConfigText* ct, char* buffer, UINT32 size, UINT32 options)
{
    if (!IsOpened(ct) || !CheckBuffer(buffer, size) || ct->cursor >= ct->length) {
        return -1;
    }
    if (!SkipSeparators(ct)) {
        return -1;
    }
    const bool punctuation = (options & CONFIG_TEXT_PUNCTUATION) != 0;
    const bool escapes = (options & CONFIG_TEXT_ESCAPES) != 0;
    bool quoting = false, quoteSeen = false, atStart = true;
    bool closedByQuote = false; // the last byte taken was an unescaped '"' behind the opening one
    UINT32 stored = 0;
    UINT32 i = ct->cursor;
    while (i < ct->length && (buffer == nullptr || stored < size - 1)) {
        unsigned char c = At(ct, i);
        bool punct = c == '(' || c == ')' || c == ',' || c == ':';
        bool quote = false;
        if (c == '"') {
            if (atStart) {
                quoting = quoteSeen = true; // the opening quote is not stored
                atStart = false;
                i++;
                continue;
            }
            quoting = false;
            quote = true;
        } else if (c == '\t' || c == ' ' || c == '/' || c == ';' || c == '[' || (punct && !punctuation)) {
            if (!quoting) {
                break;
            }
        } else if (c == '\n' || c == '\r') {
            if (!quoting) {
                break;
            }
            c = ' '; // a quoted value that spans lines gets a blank for each line-end byte
        } else {
            if (c == '\\' && escapes) {
                if (i + 1 >= ct->length) {
                    break; // a backslash as the last byte ends the value
                }
                c = At(ct, ++i);
                if (c == 'n') {
                    c = '\r';
                }
            }
            atStart = false;
            if (quoteSeen) {
                quoting = true;
            }
        }
        closedByQuote = quote;
        if (buffer != nullptr) {
            buffer[stored] = static_cast<char>(c);
        }
        stored++;
        i++;
    }
    if (stored != 0 && quoteSeen && closedByQuote) {
        stored--; // drop the closing quote
    }
    if (buffer != nullptr) {
        buffer[stored] = '\0';
        ct->cursor = i;
    }
    return static_cast<int>(stored);
}

char* ConfigTextReadValueAlloc(ConfigText* ct, UINT32 options)
{
    int n = ConfigTextReadValue(ct, nullptr, 0, options);
    if (n < 1) {
        return nullptr;
    }
    char* value = static_cast<char*>(MemAlloc((static_cast<size_t>(n) + 8) & ~static_cast<size_t>(3)));
    if (value == nullptr) {
        return nullptr;
    }
    // The length leaves out a closing quote, but the read must still take it: one byte more room
    // than the value needs lets the quote in (it is dropped again), so the cursor ends behind the
    // value exactly as after a read into a large buffer. With room for the value alone the quote
    // would stay in front of the cursor and open a new quoted value at the next read.
    if (ConfigTextReadValue(ct, value, static_cast<UINT32>(n) + 2, options) == -1) {
        MemFree(value);
        return nullptr;
    }
    return value;
}

bool ConfigTextNextWord(ConfigText* ct, char* buffer, UINT32 size, UINT32 options)
{
    UINT32 before = ct != nullptr ? ct->cursor : 0;
    int n = ConfigTextReadValue(ct, buffer, size, options);
    return n > 0 || (n == 0 && ct->cursor != before);
}

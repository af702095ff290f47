// Reads the input as a configuration text the way the script loader and the command line do: a
// section, then keys and values, switch words and numbers until the readers stop.
#include "data/config_text.h"
#include "support/memory.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    UINT32 options = data[0] & 3;
    UINT32 room = (data[1] % 40) + 1; // buffers of 1 to 40 bytes
    size_t length = size - 2;
    // An exact-size copy: AddressSanitizer sees any read past the text.
    char* text = static_cast<char*>(malloc(length != 0 ? length : 1));
    memcpy(text, data + 2, length);
    char* buffer = static_cast<char*>(malloc(room));

    ConfigText ct;
    if (ConfigTextOpen(text, static_cast<UINT32>(length), 0, &ct)) {
        int section = ConfigTextFindSection(&ct, "SSCRIPT");
        if (section >= 0) {
            if (static_cast<size_t>(section) > length) {
                abort();
            }
            ct.cursor = static_cast<UINT32>(section);
        }
        // Every round must move the cursor on or end: no reader may loop in place for ever.
        for (int rounds = 0; rounds < 100000; rounds++) {
            UINT32 before = ct.cursor;
            int key = ConfigTextReadKey(&ct, buffer, room);
            char* value = ConfigTextReadValueAlloc(&ct, options);
            int number = ConfigTextReadInteger(&ct);
            int word = ConfigTextReadSwitch(&ct, buffer, room);
            int measured = ConfigTextReadValue(&ct, nullptr, 0, options);
            if (ct.cursor > length || key >= static_cast<int>(room) || word >= static_cast<int>(room) ||
                measured > static_cast<int>(length)) {
                abort();
            }
            MemFree(value);
            if (key < 0 && value == nullptr && number == CONFIG_TEXT_NO_NUMBER && word <= 0) {
                break;
            }
            if (ct.cursor == before && rounds > 0) {
                break;
            }
        }
    }
    free(buffer);
    free(text);
    return 0;
}

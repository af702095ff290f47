// Writes the input through the report's line formatting, as one text and as the three fields of a
// kept object's line (the input cut at its first two zero bytes). Each line written is one line: it
// ends in CR LF, holds no other control character, and with its carets undone reads as the formatted
// text, cut at the line's limit.
#include "support/report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

const size_t LINE_LIMIT = 4096;

// The written line against the formatted text: cut at the limit, each control character in caret
// notation ("^J", "^?"), then CR LF; nothing else.
void Check(const std::string& formatted)
{
    std::string expected;
    for (char c : formatted.substr(0, LINE_LIMIT)) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            expected += '^';
            expected += u == 0x7F ? '?' : static_cast<char>(u + 0x40);
        } else {
            expected += c;
        }
    }
    expected += "\r\n";
    size_t size = 0;
    const char* written = ShimWritten(&size);
    if (std::string(written, size) != expected) {
        abort();
    }
    ShimClearWritten();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    std::string fields[3];
    size_t at = 0;
    for (int i = 0; i < 3; i++) {
        size_t end = i < 2 ? input.find('\0', at) : std::string::npos;
        fields[i] = input.substr(at < input.size() ? at : input.size(), end == std::string::npos ? end : end - at);
        at = end == std::string::npos ? input.size() : end + 1;
    }
    // A handle of the stand-in, which the report owns and closes; what it writes goes to the one buffer.
    ShimSetFile("report.txt", "", 0);
    ReportAttach(CreateFileA("report.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ShimClearWritten();
    std::string whole = input.substr(0, input.find('\0'));
    ReportLine("%s", whole.c_str());
    Check(whole);
    ReportLine("  %-31s %-14s %s: kept: %s", fields[0].c_str(), "Uninstall key", fields[1].c_str(), fields[2].c_str());
    char expected[3 * 65536];
    snprintf(expected, sizeof(expected), "  %-31s %-14s %s: kept: %s", fields[0].c_str(), "Uninstall key",
             fields[1].c_str(), fields[2].c_str());
    Check(expected);
    ReportClose();
    return 0;
}

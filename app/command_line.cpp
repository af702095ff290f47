// The command line: the parent's process id of the relocated copy, the product's path, "KILL", the
// administrators' words and the sharing words.
#include "app/command_line.h"

#include "data/config_text.h"
#include "support/memory.h"

#include <string.h>

namespace {

struct SharingWord {
    const char* word;
    UINT32 kinds;
};

// Compared byte for byte: the words are upper case as written here.
const SharingWord kSharingWords[] = {
    {"DOUBLESHARING", SESSION_DLL_SHARING | SESSION_REG_SHARING},
    {"REGSHARING", SESSION_REG_SHARING},
    {"DLLSHARING", SESSION_DLL_SHARING},
    {"RESYNCSHARING", 0},
};

// The administrators' words: "QUIET", "PLAN", and "LOG" with the report's path (the first one counts; a "LOG"
// without a value is ignored).
void ReadAdministratorWord(UninstallSession* session, const char* word, ConfigText* ct)
{
    if (strcmp(word, "QUIET") == 0) {
        session->flags |= SESSION_QUIET;
    } else if (strcmp(word, "PLAN") == 0) {
        session->flags |= SESSION_PLAN;
    } else if (strcmp(word, "LOG") == 0) {
        // An unquoted path keeps its drive's colon: "/LOG C:\x.log" names C:\x.log.
        char* path = ConfigTextReadValueAlloc(ct, CONFIG_TEXT_PUNCTUATION);
        if (session->logPath == nullptr) {
            session->logPath = path;
        } else {
            MemFree(path);
        }
    }
}

} // namespace

void SessionReadCommandLine(UninstallSession* session, const char* commandLine, char** pathArgument)
{
    *pathArgument = nullptr;
    ConfigText ct;
    if (commandLine == nullptr ||
        !ConfigTextOpen(commandLine, static_cast<UINT32>(strnlen(commandLine, 0x7FFFFFFF)), 0, &ct)) {
        return;
    }
    for (;;) {
        int n = ConfigTextReadInteger(&ct);
        char* value = ConfigTextReadValueAlloc(&ct, 0);
        if (n == CONFIG_TEXT_NO_NUMBER) {
            n = ConfigTextReadInteger(&ct);
        }
        char word[SESSION_TEXT_SIZE];
        if (ConfigTextReadSwitch(&ct, word, sizeof(word)) < 0) {
            word[0] = '\0';
        }

        // The first number is the parent's process id and makes this run the relocated copy.
        if (n != CONFIG_TEXT_NO_NUMBER && !(session->flags & SESSION_PHASE_TWO)) {
            session->flags |= SESSION_PHASE_TWO;
            session->parentProcessId = static_cast<UINT32>(n);
        }
        if (value != nullptr) {
            if (*pathArgument == nullptr) {
                *pathArgument = value;
            } else {
                MemFree(value);
            }
        }
        if (word[0] != '\0') {
            if (strcmp(word, "KILL") == 0) {
                session->flags |= SESSION_KILL;
            }
            ReadAdministratorWord(session, word, &ct);
            if (!(session->flags & SESSION_SHARING)) {
                for (const SharingWord& s : kSharingWords) {
                    if (strcmp(word, s.word) == 0) {
                        session->sharingArgument = ConfigTextReadValueAlloc(&ct, 0);
                        session->flags |= SESSION_SHARING | s.kinds;
                        if (session->sharingArgument != nullptr) {
                            session->flags |= SESSION_SHARING_PATH;
                        }
                        break;
                    }
                }
            }
        }
        // Every item read moved the cursor on, so the loop ends with the text.
        if (word[0] == '\0' && value == nullptr && n == CONFIG_TEXT_NO_NUMBER) {
            break;
        }
    }
}

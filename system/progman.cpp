#include "system/progman.h"

#include "support/guards.h"
#include "support/plan_mode.h"

#include <ddeml.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

namespace {

const DWORD DDE_TIMEOUT_MS = 20000;
const char PROGMAN[] = "PROGMAN";
const char GROUPS_ITEM[] = "Groups";
// The data length that tells DdeClientTransaction that a data handle is passed, not bytes.
const DWORD DATA_IS_HANDLE = 0xFFFFFFFF;
// A group's row: its third field is the number of items.
const int GROUP_ITEM_COUNT_FIELD = 2;
const int ITEM_NAME_FIELD = 0, ITEM_COMMAND_FIELD = 1, ITEM_DIRECTORY_FIELD = 2, ITEM_ICON_FIELD = 3;
// Room for a command around its quoted name: "[", the command word, "(", ",", the show command, ")]".
const size_t COMMAND_ROOM = 64;

HDDEDATA CALLBACK IgnoreTransactions(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return nullptr;
}

// One DDEML client instance and, once connected, its conversation with Program Manager; everything is
// released in reverse order when the scope ends.
class ProgmanConversation {
  public:
    ProgmanConversation()
    {
        if (DdeInitializeA(&instance_, IgnoreTransactions, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
            instance_ = 0;
            return;
        }
        service_ = DdeCreateStringHandleA(instance_, PROGMAN, CP_WINANSI);
        CONVCONTEXT context;
        memset(&context, 0, sizeof(context));
        context.cb = sizeof(context);
        if (service_ != nullptr) {
            conversation_ = DdeConnect(instance_, service_, service_, &context);
        }
    }
    ~ProgmanConversation()
    {
        if (conversation_ != nullptr) {
            DdeDisconnect(conversation_);
        }
        if (service_ != nullptr) {
            DdeFreeStringHandle(instance_, service_);
        }
        if (instance_ != 0) {
            DdeUninitialize(instance_);
        }
    }
    ProgmanConversation(const ProgmanConversation&) = delete;
    ProgmanConversation& operator=(const ProgmanConversation&) = delete;

    bool Execute(const char* command)
    {
        if (conversation_ == nullptr) {
            return false;
        }
        DWORD length = static_cast<DWORD>(strlen(command) + 1);
        HDDEDATA data = DdeCreateDataHandle(instance_, reinterpret_cast<LPBYTE>(const_cast<char*>(command)), length, 0,
                                            nullptr, CF_TEXT, 0);
        if (data == nullptr) {
            return false;
        }
        // The transaction takes the handle over.
        return DdeClientTransaction(reinterpret_cast<LPBYTE>(data), DATA_IS_HANDLE, conversation_, nullptr, CF_TEXT,
                                    XTYP_EXECUTE, DDE_TIMEOUT_MS, nullptr) != nullptr;
    }

    StringTable* Request(const char* itemName)
    {
        if (conversation_ == nullptr) {
            return nullptr;
        }
        HSZ item = DdeCreateStringHandleA(instance_, itemName, CP_WINANSI);
        if (item == nullptr) {
            return nullptr;
        }
        HDDEDATA data =
            DdeClientTransaction(nullptr, 0, conversation_, item, CF_TEXT, XTYP_REQUEST, DDE_TIMEOUT_MS, nullptr);
        DdeFreeStringHandle(instance_, item);
        if (data == nullptr) {
            return nullptr;
        }
        DWORD size = 0;
        const char* text = reinterpret_cast<const char*>(DdeAccessData(data, &size));
        StringTable* table = text != nullptr ? SplitLines(text, size) : nullptr;
        if (text != nullptr) {
            DdeUnaccessData(data);
        }
        DdeFreeDataHandle(data);
        return table;
    }

  private:
    DWORD instance_ = 0;
    HSZ service_ = nullptr;
    HCONV conversation_ = nullptr;
};

// "[Word("name")]" or, with a show command, "[Word("name",n)]"; 0 when the name cannot be quoted.
int Command(const char* word, const char* name, const int* showCommand)
{
    char quoted[PROGMAN_TEXT_SIZE];
    if (name == nullptr || QuoteName(quoted, name) == 0) {
        return 0;
    }
    char command[PROGMAN_TEXT_SIZE + COMMAND_ROOM];
    if (showCommand != nullptr) {
        snprintf(command, sizeof(command), "[%s(%s,%d)]", word, quoted, *showCommand);
    } else {
        snprintf(command, sizeof(command), "[%s(%s)]", word, quoted);
    }
    return ProgmanExecute(command);
}

int ItemField(char* buffer, const StringTable* table, int item, int field)
{
    buffer[0] = '\0';
    if (item < 0 || item == INT_MAX) {
        return 0;
    }
    const char* row = StringTableRow(table, static_cast<UINT32>(item) + 1);
    const char* at = row != nullptr ? FieldAt(row, field) : nullptr;
    if (at == nullptr) {
        return 0;
    }
    CopyField(at, buffer);
    return StripQuotes(buffer) > 0 ? 1 : 0;
}

} // namespace

int ProgmanExecute(const char* command)
{
    if (command == nullptr) {
        return 0;
    }
    ProgmanConversation conversation;
    return conversation.Execute(command) ? 1 : 0;
}

int CreateProgmanGroup(const char* name)
{
    return Command("CreateGroup", name, nullptr);
}

int DeleteProgmanGroup(const char* name)
{
    if (PlanMode()) {
        return name != nullptr ? 1 : 0; // a plan asks Program Manager for nothing that changes it
    }
    return Command("DeleteGroup", name, nullptr);
}

int DeleteProgmanItem(const char* name)
{
    if (PlanMode()) {
        return name != nullptr ? 1 : 0;
    }
    return Command("DeleteItem", name, nullptr);
}

int ShowProgmanGroup(const char* name, int showCommand)
{
    return Command("ShowGroup", name, &showCommand);
}

StringTable* RequestGroupInfo(const char* name)
{
    if (name == nullptr) {
        return nullptr;
    }
    char work[PROGMAN_TEXT_SIZE];
    lstrcpynA(work, name, sizeof(work));
    if (StripQuotes(work) == 0) {
        return nullptr;
    }
    ProgmanConversation conversation;
    return conversation.Request(work);
}

StringTable* RequestProgmanGroups()
{
    StringTable* table = RequestGroupInfo(GROUPS_ITEM);
    for (UINT32 i = 0; table != nullptr && i < table->rowCount; i++) {
        StripQuotes(StringTableRow(table, i));
    }
    return table;
}

int FindGroupName(const StringTable* table, const char* name)
{
    if (table == nullptr || name == nullptr || strlen(name) >= PROGMAN_TEXT_SIZE) {
        return 0;
    }
    char wanted[PROGMAN_TEXT_SIZE];
    lstrcpynA(wanted, name, sizeof(wanted));
    if (StripQuotes(wanted) == 0) {
        return 0;
    }
    for (UINT32 i = 0; i < table->rowCount; i++) {
        if (strcmp(StringTableRow(table, i), wanted) == 0) {
            return 1;
        }
    }
    return 0;
}

int GetItemCount(const StringTable* table)
{
    const char* row = StringTableRow(table, 0);
    const char* field = row != nullptr ? FieldAt(row, GROUP_ITEM_COUNT_FIELD) : nullptr;
    return field != nullptr ? FieldNumber(field) : -1;
}

int GetItemName(char* buffer, const StringTable* table, int item)
{
    return ItemField(buffer, table, item, ITEM_NAME_FIELD);
}

int GetItemCommand(char* buffer, const StringTable* table, int item)
{
    return ItemField(buffer, table, item, ITEM_COMMAND_FIELD);
}

int GetItemDirectory(char* buffer, const StringTable* table, int item)
{
    return ItemField(buffer, table, item, ITEM_DIRECTORY_FIELD);
}

int GetItemIconPath(char* buffer, const StringTable* table, int item)
{
    return ItemField(buffer, table, item, ITEM_ICON_FIELD);
}

const char* FieldAt(const char* line, int n)
{
    if (line == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < n; i++) {
        line = strchr(line, ',');
        if (line == nullptr) {
            return nullptr;
        }
        line++;
    }
    return *line != '\0' && *line != ',' ? line : nullptr;
}

int FieldNumber(const char* text)
{
    // A count in a reply of another process is bounded here: what no group can hold ends the digits.
    const int largest = 0x7FFFFFF;
    int sign = 1, value = 0;
    if (*text == '-' || *text == '+') {
        sign = *text == '-' ? -1 : 1;
        text++;
    }
    for (; *text >= '0' && *text <= '9' && value <= largest; text++) {
        value = value * 10 + (*text - '0');
    }
    return sign * value;
}

void CopyField(const char* source, char* buffer)
{
    int n = 0;
    while (n < PROGMAN_TEXT_SIZE - 1 && source[n] != '\0' && source[n] != ',') {
        buffer[n] = source[n];
        n++;
    }
    buffer[n] = '\0';
}

int StripQuotes(char* text)
{
    size_t n = strlen(text);
    if (n < 2) {
        return static_cast<int>(n);
    }
    if (text[0] == '"') {
        memmove(text, text + 1, n); // the terminator moves too
        n--;
    }
    if (n >= 2 && text[n - 1] == '"') {
        text[--n] = '\0';
    }
    return static_cast<int>(n);
}

int QuoteName(char* buffer, const char* name)
{
    buffer[0] = '\0';
    size_t length = strlen(name);
    size_t q = name[0] != '"' ? 1 : 0;
    if (length + q >= PROGMAN_TEXT_SIZE) {
        return 0;
    }
    memcpy(buffer + q, name, length + 1);
    buffer[0] = '"';
    size_t l = length + q;
    if (buffer[l - 1] != '"') {
        if (l >= PROGMAN_TEXT_SIZE - 1) {
            buffer[0] = '\0';
            return 0;
        }
        buffer[l++] = '"';
        buffer[l] = '\0';
    }
    // A quote inside the name would end it early: the rest would be read as more of the command.
    if (l < 2 || memchr(buffer + 1, '"', l - 2) != nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<int>(l);
}

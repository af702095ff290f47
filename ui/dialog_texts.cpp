#include "ui/dialog_texts.h"

#include "support/startup.h"

#include <string.h>

namespace {

DialogTextBlock g_table;
bool g_started = false;
HINSTANCE g_instance = nullptr;

struct DefaultText {
    int slot;
    const char* text;
};

const DefaultText kDefaultTexts[] = {
    {UI_TEXT_NO_PRIVILEGES, "You have no privileges to perform setup operation on Your machine!"},
    {UI_TEXT_DIALOG_OK, "Ok"},
    {UI_TEXT_DIALOG_CANCEL, "Cancel"},
    {UI_TEXT_DIALOG_BROWSE, "Browse"},
    {UI_TEXT_REMOVE_LABELS,
     "@Unregister components@Destroy program group@Remove files@Remove folders@Remove registry keys"},
    {UI_TEXT_FIXUP_LABELS, "Fixing UP@Please, wait while Setup looking for@selected components...@Component:"},
    {UI_TEXT_BUTTON_OK, "Ok"},
    {UI_TEXT_BUTTON_CANCEL, "Cancel"},
    {UI_TEXT_BUTTON_YES, "Yes"},
    {UI_TEXT_BUTTON_NO, "No"},
    {UI_TEXT_BUTTON_ABORT, "Abort"},
    {UI_TEXT_BUTTON_RETRY, "Retry"},
    {UI_TEXT_BUTTON_IGNORE, "Ignore"},
};

// Copies at most 259 characters and a terminator into a slot.
void SetSlot(int slot, const char* text)
{
    lstrcpynA(g_table.text[slot], text, UI_TEXT_SIZE);
}

void LoadDefaults()
{
    memset(&g_table, 0, sizeof(g_table));
    for (const DefaultText& d : kDefaultTexts) {
        SetSlot(d.slot, d.text);
    }
    g_table.number[UI_NUMBER_REMOVAL_DIALOG] = IDD_REMOVAL;
    g_table.number[UI_NUMBER_FIXUP_DIALOG] = IDD_FIXUP;
}

} // namespace

int UiStartup(HINSTANCE instance, const DialogTextBlock* block)
{
    if (instance != nullptr) {
        if (!g_started) {
            if (!EngineStartup()) {
                return 0;
            }
            g_started = true;
        }
        g_instance = instance;
    }
    if (g_instance == nullptr) {
        return 0;
    }
    if (block == nullptr) {
        LoadDefaults();
        return 1;
    }
    for (int slot = 0; slot < UI_TEXT_SLOTS; slot++) {
        // The block's texts need not be terminated: at most 259 characters are taken.
        if (block->text[slot][0] != '\0') {
            char text[UI_TEXT_SIZE];
            memcpy(text, block->text[slot], UI_TEXT_SIZE - 1);
            text[UI_TEXT_SIZE - 1] = '\0';
            SetSlot(slot, text);
        }
    }
    for (int i = 0; i < UI_NUMBERS; i++) {
        if (block->number[i] != 0) {
            g_table.number[i] = block->number[i];
        }
    }
    return 1;
}

namespace {

bool LoadCommonControls()
{
    // Kept for the life of the process, as an import would be: the windows made from its classes may
    // live until the end.
    typedef void(WINAPI * InitFunction)(void);
    HMODULE controls = LoadLibraryA("comctl32.dll");
    InitFunction init = controls != nullptr ? reinterpret_cast<InitFunction>(reinterpret_cast<void (*)(void)>(
                                                  GetProcAddress(controls, "InitCommonControls")))
                                            : nullptr;
    if (init != nullptr) {
        init();
    }
    return init != nullptr;
}

} // namespace

void UiLoadCommonControls()
{
    static const bool loaded = LoadCommonControls(); // once, whichever thread is first
    (void)loaded;
}

void UiShutdown()
{
    if (!g_started) {
        return;
    }
    EngineShutdown();
    memset(&g_table, 0, sizeof(g_table));
    g_instance = nullptr;
    g_started = false;
}

const char* UiText(int slot)
{
    if (slot < 0 || slot >= UI_TEXT_SLOTS) {
        return "";
    }
    return g_table.text[slot];
}

UINT32 UiNumberValue(int index)
{
    if (index < 0 || index >= UI_NUMBERS) {
        return 0;
    }
    return g_table.number[index];
}

HINSTANCE UiInstance()
{
    return g_instance;
}

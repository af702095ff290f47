#pragma once
// The dialog layer's start and end and its process-wide table of texts: 33 text slots of 260 bytes
// and 16 numbers, with built-in defaults that the product's configuration may replace.
#include <windows.h>

const int UI_TEXT_SLOTS = 33;
const int UI_TEXT_SIZE = 260;
const int UI_NUMBERS = 16;

// Slots and numbers this program uses.
enum UiSlot {
    UI_TEXT_NO_PRIVILEGES = 7,
    UI_TEXT_DIALOG_OK = 9,
    UI_TEXT_DIALOG_CANCEL = 10,
    UI_TEXT_DIALOG_BROWSE = 11,
    UI_TEXT_REMOVE_LABELS = 22,
    UI_TEXT_FIXUP_LABELS = 23,
    UI_TEXT_BUTTON_OK = 26,
    UI_TEXT_BUTTON_CANCEL = 27,
    UI_TEXT_BUTTON_YES = 28,
    UI_TEXT_BUTTON_NO = 29,
    UI_TEXT_BUTTON_ABORT = 30,
    UI_TEXT_BUTTON_RETRY = 31,
    UI_TEXT_BUTTON_IGNORE = 32,
};
enum UiNumber {
    UI_NUMBER_REMOVAL_DIALOG = 11, // template of the removal checklist
    UI_NUMBER_FIXUP_DIALOG = 12,   // template of the "Fixing UP" dialog
};

const UINT32 IDD_REMOVAL = 143;
const UINT32 IDD_FIXUP = 148;

// Same layout as the table: what UiApplyTexts takes. Empty slots and zero numbers keep the table's.
struct DialogTextBlock {
    char text[UI_TEXT_SLOTS][UI_TEXT_SIZE];
    UINT32 number[UI_NUMBERS];
};

// One operation with two arguments. With an instance: starts the layer (engine start-up) on the first
// call, or replaces the stored instance. Then, with a block, its non-empty
// texts and non-zero numbers replace the table's; without one, the table is reset to the defaults.
// 0 when the engine cannot start or no instance was ever given.
int UiStartup(HINSTANCE instance, const DialogTextBlock* block = nullptr);
inline int UiApplyTexts(const DialogTextBlock* block)
{
    return UiStartup(nullptr, block);
}

// Ends the layer: engine shut-down, table cleared, instance forgotten. Nothing when not started.
void UiShutdown();

// Loads the common controls (the progress bar's class, the themed look) once in a process, before the
// first window is made: a removal that shows no window never starts them (under Wine that is the
// display driver and the theme).
void UiLoadCommonControls();

// The current text of a slot ("" for a slot out of range) and a number (0 out of range).
const char* UiText(int slot);
UINT32 UiNumberValue(int index);
// The stored instance, null while the layer is not started.
HINSTANCE UiInstance();

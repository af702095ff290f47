#include "ui/dialog_texts.h"
#include "kit/testkit.h"

#include "support/startup.h"

#include <memory>

TEST(DialogTextsTest, StartupLoadsDefaultsAndBlocksReplaceOnlyWhatTheyFill)
{
    auto block = std::make_unique<DialogTextBlock>();
    memset(block.get(), 0, sizeof(DialogTextBlock));
    EXPECT_EQ(UiApplyTexts(block.get()), 0); // not started: no instance

    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_EQ(UiStartup(instance), 1);
    EXPECT_NE(EngineDatabaseRegistry(), 0u); // the engine runs while the layer does
    EXPECT_STREQ(UiText(UI_TEXT_FIXUP_LABELS),
                 "Fixing UP@Please, wait while Setup looking for@selected components...@Component:");
    EXPECT_STREQ(UiText(UI_TEXT_BUTTON_YES), "Yes");

    // An override with an empty "Fixing UP" slot keeps the default labels.
    strcpy(block->text[UI_TEXT_BUTTON_YES], "Ja");
    strcpy(block->text[UI_TEXT_REMOVE_LABELS], "@A@B@C@D@E");
    // A slot filled to the last byte, without a terminator, is cut to 259 characters.
    memset(block->text[UI_TEXT_BUTTON_NO], 'n', UI_TEXT_SIZE);
    EXPECT_EQ(UiApplyTexts(block.get()), 1);
    EXPECT_STREQ(UiText(UI_TEXT_BUTTON_YES), "Ja");
    EXPECT_STREQ(UiText(UI_TEXT_REMOVE_LABELS), "@A@B@C@D@E");
    EXPECT_EQ(strlen(UiText(UI_TEXT_BUTTON_NO)), 259u);
    EXPECT_STREQ(UiText(UI_TEXT_FIXUP_LABELS),
                 "Fixing UP@Please, wait while Setup looking for@selected components...@Component:");

    UiShutdown();
    EXPECT_EQ(UiInstance(), nullptr);
    EXPECT_EQ(EngineDatabaseRegistry(), 0u);
}

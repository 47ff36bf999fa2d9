// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "interaction/DragPayload.h"
#include "interaction/ModeResolver.h"
#include "interaction/TriggerKeys.h"
#include "interaction/x11/X11ModifierMap.h"

namespace kolvex {
namespace {

using namespace modifier_flags;

TEST(TriggerModifier, FlagsSymbolsNamesAndRawValues) {
    struct Row {
        TriggerModifier key;
        ModifierFlags flag;
        const char* symbol;
        const char* name;
        const char* raw;
    };
    const Row rows[] = {
        {TriggerModifier::shift, 0x20000, "⇧", "Shift", "shift"},
        {TriggerModifier::option, 0x80000, "⌥", "Option", "option"},
        {TriggerModifier::command, 0x100000, "⌘", "Command", "command"},
        {TriggerModifier::control, 0x40000, "⌃", "Control", "control"},
    };
    ASSERT_EQ(kAllTriggerModifiers.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(kAllTriggerModifiers[i], row.key);
        EXPECT_EQ(flag(row.key), row.flag);
        EXPECT_EQ(symbol(row.key), row.symbol);
        EXPECT_EQ(displayName(row.key), row.name);
        EXPECT_EQ(toString(row.key), row.raw);
        EXPECT_EQ(triggerModifierFromString(row.raw), row.key);
        EXPECT_EQ(triggerModifierFromString(row.name), std::nullopt) << "display names are not raw values";
    }
    EXPECT_EQ(triggerModifierFromString(""), std::nullopt);
    EXPECT_EQ(triggerModifierFromString("shift "), std::nullopt);
}

TEST(ModeResolver, EqualKeysFallBackToTheFirstOtherKey) {
    EXPECT_EQ(ModeResolver(TriggerModifier::option, TriggerModifier::option).toolsModifier, TriggerModifier::shift);
    EXPECT_EQ(ModeResolver(TriggerModifier::shift, TriggerModifier::shift).toolsModifier, TriggerModifier::option);
    EXPECT_EQ(ModeResolver(TriggerModifier::control, TriggerModifier::control).toolsModifier, TriggerModifier::shift);
    EXPECT_EQ(ModeResolver(TriggerModifier::command, TriggerModifier::option).toolsModifier, TriggerModifier::option);
    EXPECT_EQ(ModeResolver::fallbackTools(TriggerModifier::shift), TriggerModifier::option);
    EXPECT_EQ(ModeResolver::fallbackTools(TriggerModifier::command), TriggerModifier::shift);
}

TEST(ModeResolver, ModeFromHeldKeys) {
    struct Row {
        TriggerModifier trigger;
        ModifierFlags held;
        std::optional<PortalMode> mode;
    };
    const Row rows[] = {
        {TriggerModifier::shift, 0, std::nullopt},
        {TriggerModifier::shift, shift, PortalMode::convert},
        {TriggerModifier::shift, option, PortalMode::tools},
        {TriggerModifier::shift, shift | option, PortalMode::advanced},
        {TriggerModifier::shift, shift | capsLock, PortalMode::convert},  // other bits do not matter
        {TriggerModifier::shift, control | command, std::nullopt},
        {TriggerModifier::option, option, PortalMode::convert},
        {TriggerModifier::option, shift, PortalMode::tools},
        {TriggerModifier::option, option | shift, PortalMode::advanced},
        {TriggerModifier::command, command | shift, PortalMode::convert},  // Shift is neither of the pair
        {TriggerModifier::command, option, PortalMode::tools},
        {TriggerModifier::command, command | option, PortalMode::advanced},
        {TriggerModifier::control, control, PortalMode::convert},
        {TriggerModifier::control, control | option, PortalMode::advanced},
    };
    for (const Row& row : rows) {
        const ModeResolver resolver(row.trigger, TriggerModifier::option);
        EXPECT_EQ(resolver.mode(row.held), row.mode) << toString(row.trigger) << " held=" << row.held;
    }
}

TEST(DragPayload, LabelsPrimaryAndPending) {
    EXPECT_EQ(DragPayload({"/home/a/Photos/"}).label(), "Photos");
    EXPECT_EQ(DragPayload({"/home/a/b c.png"}).label(), "b c.png");
    EXPECT_EQ(DragPayload({"/a.png", "/b.png"}).label(), "2 files");
    const DragPayload empty;
    EXPECT_EQ(empty.label(), "");
    EXPECT_EQ(empty.primary(), std::nullopt);
    EXPECT_TRUE(empty.isEmpty());

    DragPayload pending = DragPayload::pendingFiles();
    EXPECT_TRUE(pending.pending);
    EXPECT_NE(pending, empty);
    pending.complete({"/x/ä.jpg"});
    EXPECT_FALSE(pending.pending);
    EXPECT_EQ(pending, DragPayload({"/x/ä.jpg"}));
    EXPECT_EQ(pending.primary(), std::filesystem::path("/x/ä.jpg"));
    EXPECT_EQ(pending.count(), 1u);
}

TEST(X11ModifierMap, TranslatesServerStateThroughTheMapping) {
    constexpr unsigned kShift = 1, kLock = 2, kControl = 4, kMod1 = 8, kMod3 = 32, kMod4 = 64;
    const X11ModifierMap usual;
    EXPECT_EQ(usual.translate(kShift), shift);
    EXPECT_EQ(usual.translate(kShift | kLock), shift | capsLock);
    EXPECT_EQ(usual.translate(kControl | kMod1), control | option);
    EXPECT_EQ(usual.translate(kMod4), command);
    EXPECT_EQ(usual.translate(1u << 8), 0u) << "button bits are no modifiers";

    // Alt on Mod3 and Super on Mod1: the bits follow the keys, not their usual places.
    std::array<std::vector<std::uint32_t>, 8> keys;
    keys[3] = {0xffeb};          // Mod1: Super_L
    keys[5] = {0xffe7, 0xffea};  // Mod3: Meta_L, Alt_R
    const auto moved = X11ModifierMap::fromKeysyms(keys);
    EXPECT_EQ(moved.translate(kMod3), option);
    EXPECT_EQ(moved.translate(kMod1), command);
    EXPECT_EQ(moved.translate(kMod4), 0u);
}

}  // namespace
}  // namespace kolvex

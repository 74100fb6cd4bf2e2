// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "rowrules.h"

#include "platform.h"

namespace RowRules {

void refreshOptions(WatchState &state)
{
    for (int row = 1; row < WatchState::RowCount; ++row) {
        const bool hasNick = !state.nick(row).isEmpty();
        for (const Option option : {Option::Popup, Option::Pip, Option::Ljud})
            state.setOptionEnabled(row, option, hasNick);
    }
}

void beepOrSoundChanged(WatchState &state, Platform &platform, int row, Option changed)
{
    Q_ASSERT(changed == Option::Pip || changed == Option::Ljud);
    const bool pip = state.isTicked(row, Option::Pip);
    const bool ljud = state.isTicked(row, Option::Ljud);
    if (!(pip && ljud))
        return;
    platform.showMessage(ExclusiveWarning.toString(), ExclusiveTitle.toString());
    // Unticking fires this handler again; it then finds only one ticked.
    state.setTicked(row, changed, false);
}

} // namespace RowRules

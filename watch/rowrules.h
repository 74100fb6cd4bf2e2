// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "watchstate.h"

class Platform;

namespace RowRules {

inline constexpr QStringView ExclusiveWarning = u"Kan ej ha både pip och ljud";
inline constexpr QStringView ExclusiveTitle = u"OBS!";

// Rows 1 to 7 offer their options only while they have a nick; row 0 always
// does. Only the enabled flags change: ticks stay as they are.
void refreshOptions(WatchState &state);

// A row may not ask for both the beep and the sound. Called whenever the value
// of Pip or Ljud in a row changes; if both are now ticked, the user is warned
// and the box that just changed is unticked, so the one ticked first wins.
void beepOrSoundChanged(WatchState &state, Platform &platform, int row, Option changed);

} // namespace RowRules

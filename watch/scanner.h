// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "watchstate.h"

#include <QStringList>
#include <QStringView>

namespace Scanner {

// A name stands right after the start marker and ends where the next end
// marker begins. Nothing else of the page is looked at.
inline constexpr QStringView StartMarker = u"';\" >";
inline constexpr QStringView EndMarker = u"</a>";

// The names of the user-list page, in page order, unchanged (no trimming, no
// entity decoding). The search for the next name resumes at the end marker of
// the last, so a start marker inside a name is part of that name. A start
// marker with no end marker after it ends the scan without a name.
QStringList scanOnlineNames(QStringView strPage, ScanPositions &positions);

} // namespace Scanner

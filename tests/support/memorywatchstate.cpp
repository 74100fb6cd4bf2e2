#include "memorywatchstate.h"

void MemoryWatchState::clearOnline()
{
    online.clear();
    selected = -1;
}

void MemoryWatchState::selectOnline(qsizetype index)
{
    selected = index;
    selectionHistory << index;
}

bool MemoryWatchState::isTicked(int row, Option option) const
{
    return rows.at(row).ticked.at(static_cast<int>(option));
}

void MemoryWatchState::setTicked(int row, Option option, bool ticked)
{
    bool &value = rows.at(row).ticked.at(static_cast<int>(option));
    if (value == ticked)
        return;
    value = ticked;
    if (onTickChanged)
        onTickChanged(row, option);
}

void MemoryWatchState::setOptionEnabled(int row, Option option, bool enabled)
{
    rows.at(row).enabled.at(static_cast<int>(option)) = enabled;
}

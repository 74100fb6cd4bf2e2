#include "fakeplatform.h"
#include "memorywatchstate.h"
#include "rowrules.h"

#include <QTest>

using namespace Qt::StringLiterals;

using Flags = std::array<bool, 3>;

class TstRowRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void refreshFollowsNickInRowsOneToSevenOnly();
    void secondOfPipAndLjudIsRefusedOnceAndPopupCombines();

private:
    MemoryWatchState state;
    FakePlatform platform;
};

void TstRowRules::init()
{
    state = MemoryWatchState();
    platform = FakePlatform();
    // As the window's check boxes do, including changes the rule itself makes.
    state.onTickChanged = [this](int row, Option option) {
        if (option != Option::Popup)
            RowRules::beepOrSoundChanged(state, platform, row, option);
    };
}

void TstRowRules::refreshFollowsNickInRowsOneToSevenOnly()
{
    state.rows[0].enabled = {true, false, true};
    state.rows[2].ticked = {true, false, true};
    state.rows[3].nick = u" "_s; // a single space is a nick too
    RowRules::refreshOptions(state);
    QCOMPARE(state.rows[0].enabled, (Flags{true, false, true}));
    for (int row = 1; row < WatchState::RowCount; ++row)
        QCOMPARE(state.rows[row].enabled, (Flags{row == 3, row == 3, row == 3}));
    QCOMPARE(state.rows[2].ticked, (Flags{true, false, true}));
}

void TstRowRules::secondOfPipAndLjudIsRefusedOnceAndPopupCombines()
{
    for (const auto &[first, second] :
         {std::pair{Option::Pip, Option::Ljud}, {Option::Ljud, Option::Pip}}) {
        init();
        state.setTicked(4, Option::Popup, true);
        state.setTicked(4, first, true);
        QVERIFY(platform.calls.isEmpty());
        state.setTicked(4, second, true);
        QCOMPARE(platform.calls, QStringList{u"message OBS!|Kan ej ha både pip och ljud"_s});
        QCOMPARE(state.rows[4].ticked, (Flags{true, first == Option::Pip, first == Option::Ljud}));
    }
}

QTEST_GUILESS_MAIN(TstRowRules)
#include "tst_rowrules.moc"

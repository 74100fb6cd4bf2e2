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
    void secondOfPipAndLjudIsRefusedOnce_data();
    void secondOfPipAndLjudIsRefusedOnce();
    void compatibleChangesNeverWarn();

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
    state.rows[3].nick = u"Anna"_s;
    state.rows[5].nick = u" "_s; // a single space is a nick too
    RowRules::refreshOptions(state);
    QCOMPARE(state.rows[0].enabled, (Flags{true, false, true}));
    for (int row = 1; row < WatchState::RowCount; ++row) {
        const bool expected = row == 3 || row == 5;
        QVERIFY2(state.rows[row].enabled == (Flags{expected, expected, expected}),
                 qPrintable(u"row %1"_s.arg(row)));
    }
    QCOMPARE(state.rows[2].ticked, (Flags{true, false, true}));
}

void TstRowRules::secondOfPipAndLjudIsRefusedOnce_data()
{
    QTest::addColumn<Option>("first");
    QTest::addColumn<Option>("second");
    QTest::newRow("Ljud after Pip") << Option::Pip << Option::Ljud;
    QTest::newRow("Pip after Ljud") << Option::Ljud << Option::Pip;
}

void TstRowRules::secondOfPipAndLjudIsRefusedOnce()
{
    QFETCH(Option, first);
    QFETCH(Option, second);
    state.setTicked(4, first, true);
    state.setTicked(4, second, true);
    QCOMPARE(platform.calls, QStringList{u"message OBS!|Kan ej ha både pip och ljud"_s});
    QVERIFY(state.isTicked(4, first));
    QVERIFY(!state.isTicked(4, second));
}

void TstRowRules::compatibleChangesNeverWarn()
{
    // Popup beside Pip, then beside Ljud; each unticked again.
    for (const Option option :
         {Option::Popup, Option::Pip, Option::Pip, Option::Ljud, Option::Popup, Option::Ljud})
        state.setTicked(2, option, !state.isTicked(2, option));
    QCOMPARE(platform.messageCount(), 0);
    QCOMPARE(state.rows[2].ticked, (Flags{false, false, false}));
}

QTEST_GUILESS_MAIN(TstRowRules)
#include "tst_rowrules.moc"

#include "fakeplatform.h"
#include "memorywatchstate.h"
#include "rowrules.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TstRowRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void refreshEnablesRowsOneToSevenByNick();
    void refreshNeverTouchesRowZeroOrTicks();
    void secondOfPipAndLjudIsRefusedOnce_data();
    void secondOfPipAndLjudIsRefusedOnce();
    void compatibleChangesNeverWarn_data();
    void compatibleChangesNeverWarn();

private:
    // Wires the state's change notifications to the rule, as the window's
    // check boxes do, including changes the rule itself makes.
    void wireExclusivity();

    MemoryWatchState state;
    FakePlatform platform;
};

void TstRowRules::init()
{
    state = MemoryWatchState();
    platform = FakePlatform();
}

void TstRowRules::wireExclusivity()
{
    state.onTickChanged = [this](int row, Option option) {
        if (option != Option::Popup)
            RowRules::beepOrSoundChanged(state, platform, row, option);
    };
}

void TstRowRules::refreshEnablesRowsOneToSevenByNick()
{
    state.rows[3].nick = u"Anna"_s;
    state.rows[5].nick = u" "_s; // a single space is a nick too
    RowRules::refreshOptions(state);
    for (int row = 1; row < WatchState::RowCount; ++row) {
        const bool expected = row == 3 || row == 5;
        for (int option = 0; option < 3; ++option)
            QVERIFY2(state.rows[row].enabled[option] == expected, qPrintable(u"row %1"_s.arg(row)));
    }
    state.rows[3].nick.clear();
    RowRules::refreshOptions(state);
    QCOMPARE(state.rows[3].enabled, (std::array<bool, 3>{false, false, false}));
}

void TstRowRules::refreshNeverTouchesRowZeroOrTicks()
{
    state.rows[0].enabled = {true, false, true};
    state.rows[2].ticked = {true, false, true};
    RowRules::refreshOptions(state);
    QCOMPARE(state.rows[0].enabled, (std::array<bool, 3>{true, false, true}));
    QCOMPARE(state.rows[2].enabled, (std::array<bool, 3>{false, false, false}));
    QCOMPARE(state.rows[2].ticked, (std::array<bool, 3>{true, false, true}));
}

void TstRowRules::secondOfPipAndLjudIsRefusedOnce_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::newRow("Ljud after Pip") << int(Option::Pip) << int(Option::Ljud);
    QTest::newRow("Pip after Ljud") << int(Option::Ljud) << int(Option::Pip);
}

void TstRowRules::secondOfPipAndLjudIsRefusedOnce()
{
    QFETCH(int, first);
    QFETCH(int, second);
    wireExclusivity();
    state.setTicked(4, Option(first), true);
    QCOMPARE(platform.messageCount(), 0);
    state.setTicked(4, Option(second), true);
    QCOMPARE(platform.calls, QStringList{u"message OBS!|Kan ej ha både pip och ljud"_s});
    QVERIFY(state.isTicked(4, Option(first)));
    QVERIFY(!state.isTicked(4, Option(second)));
    // Other rows are not touched.
    for (int row = 0; row < WatchState::RowCount; ++row) {
        if (row != 4)
            QCOMPARE(state.rows[row].ticked, (std::array<bool, 3>{}));
    }
}

void TstRowRules::compatibleChangesNeverWarn_data()
{
    QTest::addColumn<QList<int>>("ticks"); // options ticked in this order, then all unticked
    QTest::newRow("Popup with Pip") << QList<int>{int(Option::Popup), int(Option::Pip)};
    QTest::newRow("Ljud with Popup") << QList<int>{int(Option::Ljud), int(Option::Popup)};
    QTest::newRow("Pip alone") << QList<int>{int(Option::Pip)};
}

void TstRowRules::compatibleChangesNeverWarn()
{
    QFETCH(QList<int>, ticks);
    wireExclusivity();
    for (const int option : ticks)
        state.setTicked(2, Option(option), true);
    for (const int option : ticks)
        state.setTicked(2, Option(option), false);
    QCOMPARE(platform.messageCount(), 0);
}

QTEST_GUILESS_MAIN(TstRowRules)
#include "tst_rowrules.moc"

#include "fakeplatform.h"
#include "memorywatchstate.h"
#include "pollcycle.h"
#include "scanner.h"

#include <QTest>

#include <memory>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString Fetch = u"fetch http://chat.test/login/chat/users.asp"_s;

QString alert(const QString &name)
{
    return u"message Personen du söker har kommit in|%1 har kommit in på Vindriks chatt"_s.arg(
        name);
}

// The names as the user list links them.
QString pageOf(const QStringList &names)
{
    QString page = u"<html><body>\n"_s;
    for (const QString &name : names)
        page += u"<a onclick=\"v='x"_s + Scanner::StartMarker.toString() + name +
                Scanner::EndMarker.toString() + u"<br>"_s;
    return page + u"</body></html>"_s;
}

} // namespace

class TstPollCycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void setsIntervalClearsThenFailedFetchLeavesAllEmpty_data();
    void setsIntervalClearsThenFailedFetchLeavesAllEmpty();
    void listsInPageOrderAndAlertsPerEntryThenRowPopupBeepSound();
    void cancelDuringPopupRaisesNoFurtherAlert();

private:
    PollOutcome pollPage(const QStringList &names)
    {
        platform.fetchAnswers.enqueue(FetchResult::page(pageOf(names)));
        return cycle->poll();
    }

    MemoryWatchState state;
    FakePlatform platform;
    std::optional<PollCycle> cycle;
};

void TstPollCycle::init()
{
    state = MemoryWatchState();
    platform = FakePlatform();
    cycle.emplace(state, platform, userListUrl(u"chat.test"_s));
}

void TstPollCycle::setsIntervalClearsThenFailedFetchLeavesAllEmpty_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("intervals"); // empty: the interval in force stays
    QTest::newRow("typed with spaces and a leading zero") << u" 05 "_s << QList<int>{5000};
    QTest::newRow("66 capped at the timer's limit") << u"66"_s << QList<int>{65535};
    QTest::newRow("zero would stop polling for good") << u"0"_s << QList<int>{};
    QTest::newRow("blank box") << u"   "_s << QList<int>{};
    QTest::newRow("sign") << u"-3"_s << QList<int>{};
}

// A failed fetch must not pass for an empty chat, nor alert on what came with it.
void TstPollCycle::setsIntervalClearsThenFailedFetchLeavesAllEmpty()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, intervals);
    state.interval = text;
    state.online = {u"Gammal"_s};
    state.selected = 0;
    state.strPage = u"old page"_s;
    state.rows[0].ticked = {true, true, false}; // would match an empty entry
    platform.onFetch = [this, intervals] {
        QCOMPARE(state.pollIntervals, intervals);
        QVERIFY(state.online.isEmpty() && state.selected == -1 && state.strPage.isEmpty());
    };
    FetchResult failed = FetchResult::failure(FetchResult::Error::Truncated, 200);
    failed.text = pageOf({QString()});
    platform.fetchAnswers.enqueue(failed);
    const PollOutcome outcome = cycle->poll();
    QCOMPARE(outcome.kind, PollOutcome::Kind::FetchFailed);
    QCOMPARE(outcome.failure.error, FetchResult::Error::Truncated);
    QVERIFY(state.online.isEmpty() && state.strPage.isEmpty());
    QCOMPARE(platform.calls, QStringList{Fetch}); // no alert, and an unusable interval still polls
}

// Matching is exact: no case folding, no trimming; an empty nick matches only an empty entry.
// A tick while the fetch or a message box runs must start no second poll.
void TstPollCycle::listsInPageOrderAndAlertsPerEntryThenRowPopupBeepSound()
{
    state.rows[0] = {.nick = QString(), .ticked = {false, true, false}};
    state.rows[2] = {u"Anna"_s, {true, true, false}, {false, false, false}}; // greyed out, ticked
    state.rows[3] = {.nick = u"Anna "_s, .ticked = {true, true, true}};
    state.rows[5] = {.nick = u"Anna"_s, .ticked = {false, false, true}};
    state.rows[6] = {.nick = u"Bo"_s, .ticked = {true, false, true}};
    state.rows[7] = {.nick = u"Cia"_s, .ticked = {true, true, true}}; // Pip and Ljud by code
    struct Nested {
        QList<PollOutcome::Kind> kinds;
        bool inside = false; // a second poll that did start must not recurse for ever
    };
    auto nested = std::make_shared<Nested>();
    const auto pollAgain = [this, nested] {
        if (std::exchange(nested->inside, true))
            return;
        nested->kinds << cycle->poll().kind;
        nested->inside = false;
    };
    platform.onFetch = pollAgain;
    platform.onMessage = [pollAgain](const QString &, const QString &) { pollAgain(); };
    const QStringList names{u"Bo"_s,   u"Anna"_s, u"anna"_s, u" Anna"_s,
                            QString(), u"Bo"_s,   u"Cia"_s};
    QCOMPARE(pollPage(names).kind, PollOutcome::Kind::Listed);
    QCOMPARE(nested->kinds, QList<PollOutcome::Kind>(5, PollOutcome::Kind::Busy));
    QCOMPARE(state.online, names);
    QCOMPARE(state.selectionHistory, (QList<qsizetype>{0, 1, 2, 3, 4, 5, 6}));
    const QString sound = u"sound /opt/vindrik/Hej.WAV"_s;
    QCOMPARE(platform.calls,
             (QStringList{Fetch, alert(u"Bo"_s), sound, alert(u"Anna"_s), u"beep"_s, sound,
                          u"beep"_s, alert(u"Bo"_s), sound, alert(u"Cia"_s), u"beep"_s, sound}));
}

void TstPollCycle::cancelDuringPopupRaisesNoFurtherAlert()
{
    state.rows[0] = {.nick = u"Anna"_s, .ticked = {true, true, true}};
    state.rows[1] = {.nick = u"Anna"_s, .ticked = {true, false, false}};
    platform.onMessage = [this](const QString &, const QString &) { cycle->cancel(); };
    QCOMPARE(pollPage({u"Anna"_s}).kind, PollOutcome::Kind::Cancelled);
    QCOMPARE(platform.calls, (QStringList{Fetch, alert(u"Anna"_s), u"cancel"_s}));
    QCOMPARE(cycle->poll().kind, PollOutcome::Kind::Cancelled); // and none after it
    QCOMPARE(platform.calls.count(Fetch), 1);
}

QTEST_GUILESS_MAIN(TstPollCycle)
#include "tst_pollcycle.moc"

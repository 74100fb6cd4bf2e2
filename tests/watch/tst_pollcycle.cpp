#include "fakeplatform.h"
#include "memorywatchstate.h"
#include "pollcycle.h"

#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QString Url = u"http://chat.test/login/chat/users.asp"_s;
const QString Sound = u"sound /opt/vindrik/Hej.WAV"_s;

QString pageWith(const QStringList &names)
{
    QString page = u"<html>\n"_s;
    for (const QString &name : names)
        page += u"<a onclick=\"valj='"_s + name + u"';\" >"_s + name + u"</a>\n"_s;
    return page + u"</html>"_s;
}

QString alert(const QString &name)
{
    return u"message Personen du söker har kommit in|"_s + name +
           u" har kommit in på Vindriks chatt"_s;
}

} // namespace

class TstPollCycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();

    void intervalFromText_data();
    void intervalFromText();
    void pathsAndFailureTextsAreRight();

    void setsIntervalThenClearsBeforeFetching();
    void fillsListInPageOrderAndEndsOnLastEntry();
    void matchIsExactAndCaseSensitive_data();
    void matchIsExactAndCaseSensitive();
    void alertsFollowPageThenRowOrderThenPopupBeepSound();
    void tickedButDisabledOptionsStillAlert();
    void optionsAreReadAtTheMomentOfTheMatch();
    void failedFetchIsNotAnEmptyList();
    void tickDuringFetchOrAlertStartsNoSecondPoll();
    void cancelRaisesNoFurtherAlert_data();
    void cancelRaisesNoFurtherAlert();

private:
    void watch(int row, const QString &nick, std::array<bool, 3> ticked)
    {
        state.rows[row].nick = nick;
        state.rows[row].ticked = ticked;
    }
    PollOutcome pollPage(const QStringList &names)
    {
        platform.fetchAnswers.enqueue(FetchResult::page(pageWith(names)));
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
    cycle.emplace(state, platform, QUrl(Url));
}

void TstPollCycle::intervalFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ms"); // -1: leave the interval as it is

    QTest::newRow("from the list") << u"3"_s << 3000;
    QTest::newRow("typed with spaces and a leading zero") << u" 05 "_s << 5000;
    QTest::newRow("largest whole second") << u"65"_s << 65000;
    QTest::newRow("66 capped at the timer's limit") << u"66"_s << 65535;
    QTest::newRow("huge number capped, no overflow") << u"99999999999999999999"_s << 65535;
    QTest::newRow("zero would stop polling for good") << u"0"_s << -1;
    QTest::newRow("blank box") << u"   "_s << -1;
    QTest::newRow("sign") << u"-3"_s << -1;
    QTest::newRow("non-ASCII digit") << u"\u0663"_s << -1;
}

void TstPollCycle::intervalFromText()
{
    QFETCH(QString, text);
    QFETCH(int, ms);
    QCOMPARE(::intervalFromText(text).value_or(-1), ms);
}

void TstPollCycle::pathsAndFailureTextsAreRight()
{
    QCOMPARE(soundFilePath(u"/opt/vindrik/"_s), u"/opt/vindrik/Hej.WAV"_s);
    QCOMPARE(soundFilePath(u"/"_s), u"/Hej.WAV"_s);

    using Error = FetchResult::Error;
    QSet<QString> texts;
    const Error all[] = {Error::HttpStatus,        Error::Timeout,      Error::TooLarge,
                         Error::ConnectionRefused, Error::HostNotFound, Error::Truncated,
                         Error::Redirect,          Error::Cancelled,    Error::Network};
    for (const Error e : all)
        texts.insert(describeFailure(FetchResult::failure(e, 500)));
    QCOMPARE(texts.size(), int(std::size(all))); // each failure in its own words
}

void TstPollCycle::setsIntervalThenClearsBeforeFetching()
{
    state.interval = u"5"_s;
    state.online = {u"Gammal"_s};
    state.selected = 0;
    state.strPage = u"old page"_s;
    bool checked = false;
    platform.onFetch = [&] {
        QCOMPARE(state.pollIntervals, QList<int>{5000});
        QVERIFY(state.online.isEmpty());
        QCOMPARE(state.selected, -1);
        QVERIFY(state.strPage.isEmpty());
        checked = true;
    };
    cycle->poll();
    QVERIFY(checked);

    state.interval = u"0"_s; // unusable: the interval in force stays, the poll still runs
    cycle->poll();
    QCOMPARE(state.pollIntervals, QList<int>{5000});
    QCOMPARE(platform.fetchedUrls.size(), 2);
}

void TstPollCycle::fillsListInPageOrderAndEndsOnLastEntry()
{
    const QStringList names{u"Åsa"_s, u"Björn"_s, u"Anna"_s};
    const PollOutcome outcome = pollPage(names);
    QCOMPARE(outcome.kind, PollOutcome::Kind::Listed);
    QCOMPARE(outcome.nameCount, 3);
    QCOMPARE(state.online, names);
    QCOMPARE(state.selectionHistory, (QList<qsizetype>{0, 1, 2}));
    QCOMPARE(state.strPage, pageWith(names));

    pollPage({});
    QCOMPARE(state.selected, -1);
}

void TstPollCycle::matchIsExactAndCaseSensitive_data()
{
    QTest::addColumn<QString>("nick");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("alerts");
    QTest::newRow("same text") << u"Anna"_s << u"Anna"_s << true;
    QTest::newRow("other case") << u"anna"_s << u"Anna"_s << false;
    QTest::newRow("trailing space in nick") << u"Anna "_s << u"Anna"_s << false;
    QTest::newRow("leading space in entry") << u"Anna"_s << u" Anna"_s << false;
    QTest::newRow("prefix") << u"Ann"_s << u"Anna"_s << false;
    QTest::newRow("entity left undecoded") << u"Bo&Li"_s << u"Bo&amp;Li"_s << false;
    QTest::newRow("empty nick matches an empty entry") << QString() << QString() << true;
    QTest::newRow("empty nick and a name") << QString() << u"Anna"_s << false;
}

void TstPollCycle::matchIsExactAndCaseSensitive()
{
    QFETCH(QString, nick);
    QFETCH(QString, entry);
    QFETCH(bool, alerts);
    watch(3, nick, {false, true, false}); // the other rows have nothing ticked
    pollPage({entry});
    QCOMPARE(platform.calls.contains(u"beep"_s), alerts);
}

void TstPollCycle::alertsFollowPageThenRowOrderThenPopupBeepSound()
{
    watch(5, u"Anna"_s, {false, false, true});
    watch(2, u"Anna"_s, {true, true, false});
    watch(6, u"Bo"_s, {true, false, true});
    pollPage({u"Bo"_s, u"Anna"_s, u"Bo"_s});
    const QStringList once{u"fetch "_s + Url, alert(u"Bo"_s), Sound,          alert(u"Anna"_s),
                           u"beep"_s,         Sound,          alert(u"Bo"_s), Sound};
    QCOMPARE(platform.calls, once);

    // Someone who stays is announced again on the next poll.
    platform.calls.clear();
    pollPage({u"Bo"_s, u"Anna"_s, u"Bo"_s});
    QCOMPARE(platform.calls, once);
}

void TstPollCycle::tickedButDisabledOptionsStillAlert()
{
    watch(4, u"Anna"_s, {true, true, false});
    state.rows[4].enabled = {false, false, false};
    pollPage({u"Anna"_s});
    QCOMPARE(platform.calls.mid(1), (QStringList{alert(u"Anna"_s), u"beep"_s}));
}

// The user may change a row while its message box is open.
void TstPollCycle::optionsAreReadAtTheMomentOfTheMatch()
{
    watch(1, u"Anna"_s, {true, true, false});
    platform.onMessage = [&](const QString &, const QString &) {
        state.rows[1].ticked = {true, false, true};
    };
    pollPage({u"Anna"_s});
    QCOMPARE(platform.calls.mid(1), (QStringList{alert(u"Anna"_s), Sound}));
}

void TstPollCycle::failedFetchIsNotAnEmptyList()
{
    state.interval = u"7"_s;
    state.rows[0].ticked = {true, true, false}; // would match an empty entry
    FetchResult failed = FetchResult::failure(FetchResult::Error::Truncated, 200);
    failed.text = pageWith({QString()}); // whatever came with it is not a page
    platform.fetchAnswers.enqueue(failed);
    const PollOutcome outcome = cycle->poll();
    QCOMPARE(outcome.kind, PollOutcome::Kind::FetchFailed);
    QCOMPARE(outcome.failure.error, FetchResult::Error::Truncated);
    QVERIFY(state.online.isEmpty());
    QVERIFY(state.strPage.isEmpty());
    QCOMPARE(platform.calls.size(), 1); // no alert
    QCOMPARE(state.pollIntervals, QList<int>{7000});
    QCOMPARE(cycle->poll().kind, PollOutcome::Kind::Listed); // the next tick polls again
}

void TstPollCycle::tickDuringFetchOrAlertStartsNoSecondPoll()
{
    watch(0, u"Anna"_s, {true, false, false});
    QList<PollOutcome::Kind> nested;
    // Each hook ticks once, so a missing guard fails here instead of recursing.
    platform.onFetch = [&] {
        platform.onFetch = nullptr;
        nested << cycle->poll().kind;
    };
    platform.onMessage = [&](const QString &, const QString &) {
        platform.onMessage = nullptr;
        nested << cycle->poll().kind;
    };
    QCOMPARE(pollPage({u"Anna"_s}).kind, PollOutcome::Kind::Listed);
    QCOMPARE(nested, (QList<PollOutcome::Kind>{PollOutcome::Kind::Busy, PollOutcome::Kind::Busy}));
    QCOMPARE(platform.fetchedUrls.size(), 1);
    QCOMPARE(state.pollIntervals.size(), 1);
    QCOMPARE(cycle->poll().kind, PollOutcome::Kind::Listed);
}

void TstPollCycle::cancelRaisesNoFurtherAlert_data()
{
    QTest::addColumn<bool>("duringPopup");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("during the fetch") << false << QStringList{u"fetch "_s + Url, u"cancel"_s};
    QTest::newRow("during the popup")
        << true << QStringList{u"fetch "_s + Url, alert(u"Anna"_s), u"cancel"_s};
}

void TstPollCycle::cancelRaisesNoFurtherAlert()
{
    QFETCH(bool, duringPopup);
    QFETCH(QStringList, calls);
    watch(0, u"Anna"_s, {true, true, true});
    watch(1, u"Anna"_s, {true, false, false});
    if (duringPopup)
        platform.onMessage = [&](const QString &, const QString &) { cycle->cancel(); };
    else
        platform.onFetch = [&] { cycle->cancel(); };
    QCOMPARE(pollPage({u"Anna"_s}).kind, PollOutcome::Kind::Cancelled);
    QCOMPARE(platform.calls, calls);
    QCOMPARE(cycle->poll().kind, PollOutcome::Kind::Cancelled); // and none after it
    QCOMPARE(platform.fetchedUrls.size(), 1);
}

QTEST_GUILESS_MAIN(TstPollCycle)
#include "tst_pollcycle.moc"

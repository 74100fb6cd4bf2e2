#include "fakeplatform.h"
#include "memorywatchstate.h"
#include "pollcycle.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString linkFor(const QString &name)
{
    return u"<a href=\"#\" onclick=\"valj='"_s + name + u"';\" >"_s + name + u"</a>\n"_s;
}

QString pageWith(const QStringList &names)
{
    QString page = u"<html><body>\n"_s;
    for (const QString &name : names)
        page += linkFor(name);
    return page + u"</body></html>"_s;
}

const QString Url = u"http://chat.test/login/chat/users.asp"_s;

QString messageCall(const QString &name)
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
    void soundFilePathHasOneSeparator_data();
    void soundFilePathHasOneSeparator();
    void userListUrlUsesFixedPath();
    void failureDescriptionsAreDistinctAndSpecific();

    void setsIntervalBeforeFetchingAndClearsOldList();
    void unusableIntervalTextLeavesIntervalInForce();
    void fillsListInPageOrderAndEndsOnLastEntry();
    void emptyPageLeavesNothingSelectedAndNoAlerts();
    void matchIsExactAndCaseSensitive_data();
    void matchIsExactAndCaseSensitive();
    void alertsFollowRowOrderThenPopupBeepSound();
    void duplicateEntryAlertsTwice();
    void tickedButDisabledOptionsStillAlert();
    void optionsAreReadAtTheMomentOfTheMatch();
    void personWhoStaysIsReportedEveryPoll();
    void failedFetchIsNotAnEmptyList_data();
    void failedFetchIsNotAnEmptyList();
    void tickDuringFetchOrAlertStartsNoSecondPoll();
    void cancelDuringFetchRaisesNoAlert();
    void cancelDuringPopupRaisesNoFurtherAlert();

private:
    MemoryWatchState state;
    FakePlatform platform;
};

void TstPollCycle::init()
{
    state = MemoryWatchState();
    platform = FakePlatform();
}

void TstPollCycle::intervalFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ms"); // -1: leave the interval as it is

    QTest::newRow("3 from the list") << u"3"_s << 3000;
    QTest::newRow("60 from the list") << u"60"_s << 60000;
    QTest::newRow("typed with spaces") << u" 10 "_s << 10000;
    QTest::newRow("leading zero") << u"05"_s << 5000;
    QTest::newRow("largest whole second") << u"65"_s << 65000;
    QTest::newRow("66 capped at the timer's limit") << u"66"_s << 65535;
    QTest::newRow("huge number capped, no overflow") << u"99999999999999999999"_s << 65535;
    QTest::newRow("zero would stop polling for good") << u"0"_s << -1;
    QTest::newRow("empty box would stop polling for good") << QString() << -1;
    QTest::newRow("blank box") << u"   "_s << -1;
    QTest::newRow("negative") << u"-3"_s << -1;
    QTest::newRow("plus sign") << u"+5"_s << -1;
    QTest::newRow("not a number") << u"fem"_s << -1;
    QTest::newRow("fraction") << u"2.5"_s << -1;
    QTest::newRow("digits then letters") << u"5s"_s << -1;
    QTest::newRow("non-ASCII digit") << u"\u0663"_s << -1;
}

void TstPollCycle::intervalFromText()
{
    QFETCH(QString, text);
    QFETCH(int, ms);
    const std::optional<int> got = ::intervalFromText(text);
    QCOMPARE(got.value_or(-1), ms);
}

void TstPollCycle::soundFilePathHasOneSeparator_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::newRow("plain folder") << u"/opt/vindrik"_s << u"/opt/vindrik/Hej.WAV"_s;
    QTest::newRow("trailing separator") << u"/opt/vindrik/"_s << u"/opt/vindrik/Hej.WAV"_s;
    QTest::newRow("root folder") << u"/"_s << u"/Hej.WAV"_s;
}

void TstPollCycle::soundFilePathHasOneSeparator()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(soundFilePath(folder), path);
}

void TstPollCycle::userListUrlUsesFixedPath()
{
    QCOMPARE(userListUrl(u"chat.example.se:8080"_s).toString(),
             u"http://chat.example.se:8080/login/chat/users.asp"_s);
}

void TstPollCycle::failureDescriptionsAreDistinctAndSpecific()
{
    using Error = FetchResult::Error;
    QVERIFY(describeFailure(FetchResult::failure(Error::HttpStatus, 404)).contains(u"404"_s));
    QCOMPARE(describeFailure(FetchResult::failure(Error::Timeout)), u"tidsgränsen överskreds"_s);
    QSet<QString> texts;
    const Error all[] = {Error::HttpStatus,        Error::Timeout,      Error::TooLarge,
                         Error::ConnectionRefused, Error::HostNotFound, Error::Truncated,
                         Error::Redirect,          Error::Cancelled,    Error::Network};
    for (const Error e : all)
        texts.insert(describeFailure(FetchResult::failure(e, 500)));
    QCOMPARE(texts.size(), int(std::size(all)));
    QVERIFY(!texts.contains(QString()));
}

void TstPollCycle::setsIntervalBeforeFetchingAndClearsOldList()
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
    PollCycle cycle(state, platform, QUrl(Url));
    cycle.poll();
    QVERIFY(checked);
    QCOMPARE(platform.fetchedUrls, QList<QUrl>{QUrl(Url)});
}

void TstPollCycle::unusableIntervalTextLeavesIntervalInForce()
{
    state.interval = u"0"_s;
    PollCycle cycle(state, platform, QUrl(Url));
    cycle.poll();
    QVERIFY(state.pollIntervals.isEmpty());
    QCOMPARE(platform.fetchedUrls.size(), 1); // the poll itself still runs
}

void TstPollCycle::fillsListInPageOrderAndEndsOnLastEntry()
{
    const QStringList names{u"Åsa"_s, u"Björn"_s, u"Anna"_s};
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith(names)));
    PollCycle cycle(state, platform, QUrl(Url));
    const PollOutcome outcome = cycle.poll();
    QCOMPARE(outcome.kind, PollOutcome::Kind::Listed);
    QCOMPARE(outcome.nameCount, 3);
    QCOMPARE(state.online, names);
    QCOMPARE(state.selectionHistory, (QList<qsizetype>{0, 1, 2}));
    QCOMPARE(state.selected, 2);
    QCOMPARE(state.strPage, pageWith(names));
    QVERIFY(platform.calls.size() == 1); // the fetch, no alert
}

void TstPollCycle::emptyPageLeavesNothingSelectedAndNoAlerts()
{
    state.rows[0].ticked = {true, true, false}; // row 0 would match an empty entry
    platform.fetchAnswers.enqueue(FetchResult::page(u"<html>ingen här</html>"_s));
    PollCycle cycle(state, platform, QUrl(Url));
    const PollOutcome outcome = cycle.poll();
    QCOMPARE(outcome.kind, PollOutcome::Kind::Listed);
    QCOMPARE(outcome.nameCount, 0);
    QCOMPARE(state.selected, -1);
    QCOMPARE(platform.calls.size(), 1);
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
    QTest::newRow("Swedish letters") << u"Åsa"_s << u"Åsa"_s << true;
    QTest::newRow("entity left undecoded") << u"Bo&Li"_s << u"Bo&amp;Li"_s << false;
    QTest::newRow("empty nick matches only an empty entry") << QString() << QString() << true;
    QTest::newRow("empty nick and a name") << QString() << u"Anna"_s << false;
}

void TstPollCycle::matchIsExactAndCaseSensitive()
{
    QFETCH(QString, nick);
    QFETCH(QString, entry);
    QFETCH(bool, alerts);
    // Row 3 holds the nick; every other row has an empty nick and nothing ticked.
    state.rows[3].nick = nick;
    state.rows[3].ticked = {false, true, false};
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({entry})));
    PollCycle cycle(state, platform, QUrl(Url));
    cycle.poll();
    QCOMPARE(platform.calls.contains(u"beep"_s), alerts);
}

void TstPollCycle::alertsFollowRowOrderThenPopupBeepSound()
{
    state.rows[5].nick = u"Anna"_s;
    state.rows[5].ticked = {false, false, true};
    state.rows[2].nick = u"Anna"_s;
    state.rows[2].ticked = {true, true, false};
    state.rows[6].nick = u"Bo"_s;
    state.rows[6].ticked = {true, false, true};
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Bo"_s, u"Anna"_s})));
    PollCycle cycle(state, platform, QUrl(Url));
    cycle.poll();
    const QString sound = u"sound /opt/vindrik/Hej.WAV"_s;
    QCOMPARE(platform.calls, (QStringList{u"fetch "_s + Url, messageCall(u"Bo"_s), sound,
                                          messageCall(u"Anna"_s), u"beep"_s, sound}));
}

void TstPollCycle::duplicateEntryAlertsTwice()
{
    state.rows[0].nick = u"Anna"_s;
    state.rows[0].ticked = {false, true, false};
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Anna"_s, u"Bo"_s, u"Anna"_s})));
    PollCycle cycle(state, platform, QUrl(Url));
    cycle.poll();
    QCOMPARE(platform.calls.count(u"beep"_s), 2);
    QCOMPARE(state.online.size(), 3);
}

void TstPollCycle::tickedButDisabledOptionsStillAlert()
{
    state.rows[4].nick = u"Anna"_s;
    state.rows[4].ticked = {true, true, false};
    state.rows[4].enabled = {false, false, false};
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Anna"_s})));
    PollCycle cycle(state, platform, QUrl(Url));
    cycle.poll();
    QCOMPARE(platform.messageCount(), 1);
    QVERIFY(platform.calls.contains(u"beep"_s));
}

// The user may change a row while its message box is open; what is ticked
// when the next alert is due counts, not what was ticked at the match.
void TstPollCycle::optionsAreReadAtTheMomentOfTheMatch()
{
    state.rows[1].nick = u"Anna"_s;
    state.rows[1].ticked = {true, true, false};
    platform.onMessage = [&](const QString &, const QString &) {
        state.rows[1].ticked = {true, false, true};
    };
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Anna"_s})));
    PollCycle cycle(state, platform, QUrl(Url));
    cycle.poll();
    QVERIFY(!platform.calls.contains(u"beep"_s));
    QVERIFY(platform.calls.last().startsWith(u"sound "_s));
}

void TstPollCycle::personWhoStaysIsReportedEveryPoll()
{
    state.rows[0].nick = u"Anna"_s;
    state.rows[0].ticked = {true, false, false};
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Anna"_s, u"Bo"_s})));
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Anna"_s})));
    PollCycle cycle(state, platform, QUrl(Url));
    cycle.poll();
    cycle.poll();
    QCOMPARE(platform.messageCount(), 2);
    QCOMPARE(state.online, QStringList{u"Anna"_s}); // rebuilt, not appended
}

void TstPollCycle::failedFetchIsNotAnEmptyList_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("status");
    using Error = FetchResult::Error;
    QTest::newRow("404") << int(Error::HttpStatus) << 404;
    QTest::newRow("time-out") << int(Error::Timeout) << 0;
    QTest::newRow("refused") << int(Error::ConnectionRefused) << 0;
    QTest::newRow("cut short") << int(Error::Truncated) << 200;
}

void TstPollCycle::failedFetchIsNotAnEmptyList()
{
    QFETCH(int, error);
    QFETCH(int, status);
    state.interval = u"7"_s;
    state.rows[0].ticked = {true, true, false}; // would match an empty entry
    FetchResult failed = FetchResult::failure(FetchResult::Error(error), status);
    failed.text = pageWith({QString()}); // whatever came with it is not a page
    platform.fetchAnswers.enqueue(failed);
    PollCycle cycle(state, platform, QUrl(Url));
    const PollOutcome outcome = cycle.poll();
    QCOMPARE(outcome.kind, PollOutcome::Kind::FetchFailed);
    QCOMPARE(int(outcome.failure.error), error);
    QCOMPARE(outcome.failure.httpStatus, status);
    QVERIFY(state.online.isEmpty());
    QVERIFY(state.strPage.isEmpty());
    QCOMPARE(platform.calls.size(), 1);              // no alert, no message
    QCOMPARE(state.pollIntervals, QList<int>{7000}); // the next poll still comes on time
    // and the next tick polls again
    cycle.poll();
    QCOMPARE(platform.fetchedUrls.size(), 2);
}

void TstPollCycle::tickDuringFetchOrAlertStartsNoSecondPoll()
{
    state.rows[0].nick = u"Anna"_s;
    state.rows[0].ticked = {true, false, false};
    PollCycle cycle(state, platform, QUrl(Url));
    QList<PollOutcome::Kind> nested;
    platform.onFetch = [&] { nested << cycle.poll().kind; };
    platform.onMessage = [&](const QString &, const QString &) { nested << cycle.poll().kind; };
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Anna"_s})));
    QCOMPARE(cycle.poll().kind, PollOutcome::Kind::Listed);
    QCOMPARE(nested, (QList<PollOutcome::Kind>{PollOutcome::Kind::Busy, PollOutcome::Kind::Busy}));
    QCOMPARE(platform.fetchedUrls.size(), 1);
    QCOMPARE(state.pollIntervals.size(), 1);
    QVERIFY(!cycle.isRunning());
    // Once it is over, the next tick polls as usual.
    platform.onFetch = nullptr;
    platform.onMessage = nullptr;
    QCOMPARE(cycle.poll().kind, PollOutcome::Kind::Listed);
}

void TstPollCycle::cancelDuringFetchRaisesNoAlert()
{
    state.rows[0].nick = u"Anna"_s;
    state.rows[0].ticked = {true, true, true};
    PollCycle cycle(state, platform, QUrl(Url));
    platform.onFetch = [&] { cycle.cancel(); };
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Anna"_s})));
    QCOMPARE(cycle.poll().kind, PollOutcome::Kind::Cancelled);
    QCOMPARE(platform.calls, (QStringList{u"fetch "_s + Url, u"cancel"_s}));
    QVERIFY(state.online.isEmpty());
    QCOMPARE(cycle.poll().kind, PollOutcome::Kind::Cancelled); // and none after it
    QCOMPARE(platform.fetchedUrls.size(), 1);
}

void TstPollCycle::cancelDuringPopupRaisesNoFurtherAlert()
{
    state.rows[0].nick = u"Anna"_s;
    state.rows[0].ticked = {true, true, false};
    state.rows[1].nick = u"Anna"_s;
    state.rows[1].ticked = {true, false, false};
    PollCycle cycle(state, platform, QUrl(Url));
    platform.onMessage = [&](const QString &, const QString &) { cycle.cancel(); };
    platform.fetchAnswers.enqueue(FetchResult::page(pageWith({u"Anna"_s})));
    QCOMPARE(cycle.poll().kind, PollOutcome::Kind::Cancelled);
    QCOMPARE(platform.messageCount(), 1);
    QVERIFY(!platform.calls.contains(u"beep"_s));
}

QTEST_GUILESS_MAIN(TstPollCycle)
#include "tst_pollcycle.moc"

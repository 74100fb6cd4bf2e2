// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "chatsite.h"
#include "fakeplatform.h"
#include "memorywatchstate.h"
#include "pollcycle.h"
#include "rowrules.h"
#include "scanner.h"

#include <QMetaEnum>
#include <QTest>

#include <memory>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;
using Flags = std::array<bool, 3>;
using Error = FetchResult::Error;
Q_DECLARE_METATYPE(PollOutcome)

namespace {

const QString Fetch = u"fetch http://chat.test/login/chat/users.asp"_s;

QString alert(const QString &name)
{
    return u"message Personen du söker har kommit in|%1 har kommit in på Vindriks chatt"_s.arg(
        name);
}

QString pageOf(const QStringList &names)
{
    return QString::fromUtf8(ChatSite::userListPage(names));
}

} // namespace

// The watch engine: the scanner, the watch-row rules and the poll, against
// the window's state in memory and a platform that records its calls.
class TstWatch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        state = MemoryWatchState();
        platform = FakePlatform();
        cycle.emplace(state, platform, userListUrl(u"chat.test"_s));
    }
    void takesNamesBetweenMarkers_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("names");

        const QString s = u"';\" >"_s;
        QTest::newRow("markers back to back give an empty name")
            << s + u"</a>"_s << QStringList{QString()};
        QTest::newRow("start marker inside a name belongs to the name")
            << s + u"A"_s + s + u"B</a>"_s << QStringList{u"A"_s + s + u"B"_s};
        QTest::newRow("no end marker but one in capitals ends the scan")
            << s + u"Anna</a>"_s + s + u"Bo</A> and more"_s << QStringList{u"Anna"_s};

        // Positions past 16 bits must neither wrap nor stop the scan.
        QStringList many;
        for (int i = 0; i < 5000; ++i)
            many << u"Namn%1"_s.arg(i);
        QTest::newRow("the demo site's page beyond 65,536 characters") << pageOf(many) << many;
    }
    void takesNamesBetweenMarkers()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, names);
        ScanPositions positions;
        QCOMPARE(Scanner::scanOnlineNames(page, positions), names);
        // The window keeps the positions between polls; each scan starts afresh.
        QCOMPARE(Scanner::scanOnlineNames(page, positions), names);
    }
    void refreshFollowsNickInRowsOneToSevenOnly()
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
    void setsIntervalClearsThenFailedFetchLeavesAllEmpty_data()
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
    void setsIntervalClearsThenFailedFetchLeavesAllEmpty()
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
        QCOMPARE(platform.calls,
                 QStringList{Fetch}); // no alert, and an unusable interval still polls
    }
    // Matching is exact: no case folding, no trimming; an empty nick matches only an empty entry.
    // A tick while the fetch or a message box runs must start no second poll.
    void listsInPageOrderAndAlertsPerEntryThenRowPopupBeepSound()
    {
        state.rows[0] = {.nick = QString(), .ticked = {false, true, false}};
        state.rows[2] = {
            u"Anna"_s, {true, true, false}, {false, false, false}}; // greyed out, ticked
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
        QCOMPARE(platform.calls, (QStringList{Fetch, alert(u"Bo"_s), sound, alert(u"Anna"_s),
                                              u"beep"_s, sound, u"beep"_s, alert(u"Bo"_s), sound,
                                              alert(u"Cia"_s), u"beep"_s, sound}));
    }

    void statusLineSaysWhatThePollFound_data()
    {
        QTest::addColumn<PollOutcome>("outcome");
        QTest::addColumn<QString>("line"); // empty: the line stays as it was
        QTest::addColumn<QString>("tip");
        using Kind = PollOutcome::Kind;
        const auto outcome = [](Kind kind, qsizetype names, FetchResult failure = {},
                                QString proxy = {}) {
            PollOutcome o;
            o.kind = kind;
            o.nameCount = names;
            o.failure = std::move(failure);
            o.proxy = std::move(proxy);
            return o;
        };
        const QString at = u"Senaste kontroll 21:05:09: "_s;
        QTest::newRow("nobody") << outcome(Kind::Listed, 0) << at + u"ingen online"_s << QString();
        QTest::newRow("one") << outcome(Kind::Listed, 1) << at + u"1 person online"_s << QString();
        QTest::newRow("three, through a proxy")
            << outcome(Kind::Listed, 3, {}, u"proxy.lan:3128"_s) << at + u"3 personer online"_s
            << u"via proxyservern proxy.lan:3128"_s;
        QTest::newRow("busy") << outcome(Kind::Busy, 0) << QString() << QString();
        QTest::newRow("cancelled") << outcome(Kind::Cancelled, 0) << QString() << QString();
        QTest::newRow("a failure's words, and the proxy")
            << outcome(Kind::FetchFailed, 0,
                       FetchResult::failure(Error::ProxyLogin, 407, u"Proxy requires auth"_s),
                       u"proxy.lan:3128"_s)
            << at + u"kunde inte nå chattsidan – proxyservern kräver inloggning"_s
            << u"Proxy requires auth\nvia proxyservern proxy.lan:3128"_s;
        // Never to be mistaken for an empty chat; every failure has a reason of
        // its own. In the enum's order, after None:
        const QStringList reasons{
            u"servern svarade med HTTP-status 503"_s,
            u"tidsgränsen överskreds"_s,
            u"sidan var för stor"_s,
            u"anslutningen nekades"_s,
            u"värden hittades inte"_s,
            u"svaret bröts av i förtid"_s,
            u"sidan omdirigerades för många gånger eller till en annan värd"_s,
            u"sidan var packad på ett sätt som programmet inte kan läsa"_s,
            u"sidans packade innehåll var trasigt"_s,
            u"sidan gick inte att läsa som text"_s,
            u"certifikatet kunde inte verifieras"_s,
            u"ingen säker anslutning kunde upprättas"_s,
            u"proxyservern kräver inloggning"_s,
            u"proxyservern gick inte att nå"_s,
            u"fel hos proxyservern"_s,
            u"hämtningen avbröts"_s,
            u"nätverksfel"_s};
        const QMetaEnum errors = QMetaEnum::fromType<Error>();
        QCOMPARE(reasons.size(), errors.keyCount() - 1);
        for (int i = 1; i < errors.keyCount(); ++i) {
            const FetchResult failure = FetchResult::failure(Error(errors.value(i)), 503);
            QTest::newRow(errors.key(i))
                << outcome(Kind::FetchFailed, 0, failure)
                << at + u"kunde inte nå chattsidan – "_s + reasons[i - 1] << QString();
        }
    }
    void statusLineSaysWhatThePollFound()
    {
        QFETCH(PollOutcome, outcome);
        QFETCH(QString, line);
        QFETCH(QString, tip);
        QCOMPARE(statusLine(outcome, u"21:05:09"), line);
        QCOMPARE(statusLineTip(outcome), tip);
    }

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

QTEST_GUILESS_MAIN(TstWatch)
#include "tst_watch.moc"

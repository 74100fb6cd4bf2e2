// The window beside a bare Qt window with the same widgets and nothing else:
// start-up and peak memory (each measured in a child process of its own, so
// the two never share a heap), one poll of a 5,000-name page beside a bare
// fetch, one poll of a 20-name page beside a bare window doing the same by
// hand, and how long a queued event waits while a fetch hangs.
#include "barefetch.h"
#include "benchmain.h"
#include "desktopplatform.h"
#include "form1.h"
#include "pageserver.h"
#include "pollcycle.h"
#include "timer.h"
#include "userlistpage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include <pthread.h>
#include <time.h> // NOLINT(modernize-deprecated-headers): clock_gettime is POSIX, not <ctime>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype PageNames = 5000;

// The same controls as Form1, placed alike, with no behaviour at all.
std::unique_ptr<QWidget> bareWindow()
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(u"Vindriks Chatt sökning"_s);
    window->resize(577, 352);
    QFont bold = window->font();
    bold.setBold(true);
    auto *frame1 = new QGroupBox(u"Online"_s, window.get());
    frame1->setFont(bold);
    frame1->setGeometry(32, 8, 121, 265);
    auto *frame2 = new QGroupBox(u"Personer"_s, window.get());
    frame2->setFont(bold);
    frame2->setGeometry(168, 8, 281, 265);
    auto *frame3 = new QGroupBox(u"Sek"_s, window.get());
    frame3->setGeometry(464, 8, 73, 73);
    (new QListWidget(window.get()))->setGeometry(40, 24, 105, 238);
    auto *text1 = new QLineEdit(u"Text1"_s, window.get());
    text1->setGeometry(96, 104, 17, 19);
    text1->hide();
    for (int i = 0; i < 8; ++i) {
        const int top = 24 + 32 * i;
        (new QLineEdit(window.get()))->setGeometry(176, top, 105, 19);
        (new QCheckBox(u"Popup"_s, window.get()))->setGeometry(288, top, 57, 17);
        (new QCheckBox(u"Pip"_s, window.get()))->setGeometry(344, top, 41, 17);
        (new QCheckBox(u"Ljud"_s, window.get()))->setGeometry(392, top, 41, 17);
    }
    (new QPushButton(u"&Starta programmet"_s, window.get()))->setGeometry(104, 280, 257, 25);
    auto *combo = new QComboBox(window.get());
    combo->setEditable(true);
    combo->addItems(
        {u"3"_s, u"5"_s, u"7"_s, u"10"_s, u"15"_s, u"20"_s, u"30"_s, u"40"_s, u"50"_s, u"60"_s});
    combo->setEditText(u"3"_s);
    combo->setGeometry(480, 40, 41, 21);
    (new QLabel(window.get()))->setGeometry(8, 320, 560, 20);
    return window;
}

void waitUntilExposed(QWidget &window)
{
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    // The expose queues the first paint; let it happen.
    QCoreApplication::processEvents();
}

qint64 peakResidentKib()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The child: one window from nothing to shown, then its figures on stdout.
int runChild(int argc, char **argv, const char *kind)
{
    QElapsedTimer process;
    process.start();
    preferOffscreen();
    QApplication app(argc, argv);
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<DesktopPlatform> platform;
    std::unique_ptr<QWidget> window;
    if (std::strcmp(kind, "form1") == 0) {
        // As the program starts: the platform, then the window. Nothing polls.
        platform = std::make_unique<DesktopPlatform>();
        auto form = std::make_unique<Form1>(*platform, userListUrl(u"127.0.0.1:9"_s));
        platform->setDialogParent(form.get());
        window = std::move(form);
    } else {
        window = bareWindow();
    }
    window->show();
    waitUntilExposed(*window);
    const qint64 windowNs = clock.nsecsElapsed();
    const qint64 processNs = process.nsecsElapsed();
    std::printf("%lld %lld %lld\n", static_cast<long long>(windowNs),
                static_cast<long long>(processNs), static_cast<long long>(peakResidentKib()));
    return 0;
}

struct ChildFigures {
    double windowMs = 0;
    double processMs = 0;
    double peakMib = 0;
};

bool runChildProcess(const char *kind, ChildFigures &figures)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {u"--child=%1"_s.arg(QLatin1StringView(kind))});
    if (!child.waitForFinished(60'000) || child.exitCode() != 0)
        return false;
    const QList<QByteArray> parts = child.readAllStandardOutput().trimmed().split(' ');
    if (parts.size() != 3)
        return false;
    figures.windowMs = parts[0].toLongLong() / 1e6;
    figures.processMs = parts[1].toLongLong() / 1e6;
    figures.peakMib = parts[2].toLongLong() / 1024.0;
    return figures.peakMib > 0;
}

// Each iteration starts one child of each kind, in turn, so a busy spell on
// the shared machine hits both alike. The time is Form1's.
void BM_StartupBesideBareWindow(benchmark::State &state)
{
    std::vector<double> form1Ms, bareMs, form1ProcessMs, bareProcessMs, form1Mib, bareMib;
    bool form1First = false;
    for (auto _ : state) {
        form1First = !form1First;
        ChildFigures form1, bare;
        const bool ok = form1First
                            ? runChildProcess("form1", form1) && runChildProcess("bare", bare)
                            : runChildProcess("bare", bare) && runChildProcess("form1", form1);
        if (!ok) {
            state.SkipWithError("a child process failed");
            return;
        }
        state.SetIterationTime(form1.windowMs / 1e3);
        form1Ms.push_back(form1.windowMs);
        bareMs.push_back(bare.windowMs);
        form1ProcessMs.push_back(form1.processMs);
        bareProcessMs.push_back(bare.processMs);
        form1Mib.push_back(form1.peakMib);
        bareMib.push_back(bare.peakMib);
    }
    state.counters["form1_ms"] = median(form1Ms);
    state.counters["bare_ms"] = median(bareMs);
    state.counters["ratio"] = median(form1Ms) / median(bareMs);
    state.counters["form1_proc_ms"] = median(form1ProcessMs);
    state.counters["bare_proc_ms"] = median(bareProcessMs);
    state.counters["form1_peak_MiB"] = median(form1Mib);
    state.counters["bare_peak_MiB"] = median(bareMib);
    state.counters["mem_ratio"] = median(form1Mib) / median(bareMib);
    state.counters["within_budget"] =
        median(form1Ms) <= 1.25 * median(bareMs) && median(form1Mib) <= 1.25 * median(bareMib);
}

QListWidget *list1(Form1 &form)
{
    return form.findChild<QListWidget *>(u"List1"_s);
}

Timer *timer1(Form1 &form)
{
    return form.findChild<Timer *>(u"Timer1"_s);
}

struct PollFixture {
    PageServer server;
    QByteArray body = BenchPage::page(BenchPage::names(PageNames)).toUtf8();
    QNetworkAccessManager network;
    DesktopPlatform platform;
    std::unique_ptr<Form1> form;

    PollFixture()
    {
        server.listen();
        server.serve(PageServer::ok(body));
        form = std::make_unique<Form1>(platform, userListUrl(server.hostAndPort()));
        platform.setDialogParent(form.get());
        form->show();
        waitUntilExposed(*form);
    }
};

PollFixture &pollFixture()
{
    static PollFixture f;
    return f;
}

// One tick of Timer1, as the window gets it, through to the end of the poll;
// paintNs gets the repaint the poll left behind.
qint64 windowPollNs(Timer &timer, qint64 &paintNs)
{
    QElapsedTimer clock;
    clock.start();
    Q_EMIT timer.ticked();
    const qint64 ns = clock.nsecsElapsed();
    clock.restart();
    QCoreApplication::processEvents();
    paintNs = clock.nsecsElapsed();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ns;
}

// In every iteration the window's poll and a bare fetch, in turn. The time is
// the poll's.
void BM_WindowPollBesideBareFetch(benchmark::State &state)
{
    PollFixture &f = pollFixture();
    Timer *timer = timer1(*f.form);
    QListWidget *list = list1(*f.form);
    if (!timer || !list) {
        state.SkipWithError("Form1 has no Timer1 or List1");
        return;
    }
    std::vector<double> pollMs, bareMs, paintMs, pollCpuMs, bareCpuMs;
    qsizetype bytes = 0;
    bool pollFirst = false;
    for (auto _ : state) {
        pollFirst = !pollFirst;
        qint64 poll = 0;
        qint64 paint = 0;
        qint64 pollCpu = 0;
        const auto timedPoll = [&] {
            const qint64 cpu = processCpuNs();
            poll = windowPollNs(*timer, paint);
            pollCpu = processCpuNs() - cpu; // the repaint included
        };
        if (pollFirst)
            timedPoll();
        const qint64 bareCpu = processCpuNs();
        const qint64 bare = bareFetchNs(f.network, userListUrl(f.server.hostAndPort()), bytes);
        bareCpuMs.push_back((processCpuNs() - bareCpu) / 1e6);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!pollFirst)
            timedPoll();
        if (list->count() != PageNames || list->currentRow() != PageNames - 1 ||
            bytes != f.body.size()) {
            state.SkipWithError("the poll did not list and walk the whole page");
            return;
        }
        state.SetIterationTime(poll / 1e9);
        pollMs.push_back(poll / 1e6);
        bareMs.push_back(bare / 1e6);
        paintMs.push_back(paint / 1e6);
        pollCpuMs.push_back(pollCpu / 1e6);
    }
    state.counters["poll_ms"] = median(pollMs);
    state.counters["bare_ms"] = median(bareMs);
    state.counters["extra_ms"] = median(pollMs) - median(bareMs);
    state.counters["within_budget"] = median(pollMs) <= median(bareMs) + 20.0 ? 1 : 0;
    state.counters["paint_after_ms"] = median(paintMs);
    state.counters["poll_cpu_ms"] = median(pollCpuMs);
    state.counters["bare_cpu_ms"] = median(bareCpuMs);
    state.SetItemsProcessed(state.iterations() * PageNames);
}

// A loopback server on a thread of its own: the pairs below leave that
// thread's CPU out, so neither side pays for serving the page.
class ServerThread
{
public:
    ServerThread()
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        run([this] {
            m_server = std::make_unique<PageServer>();
            m_server->listen();
            m_url = userListUrl(m_server->hostAndPort());
            pthread_getcpuclockid(pthread_self(), &m_clock);
        });
    }
    ~ServerThread()
    {
        run([this] { m_server.reset(); });
        m_thread.quit();
        m_thread.wait();
    }
    ServerThread(const ServerThread &) = delete;
    ServerThread &operator=(const ServerThread &) = delete;

    QUrl url() const { return m_url; }
    void serve(const QByteArray &body)
    {
        run([this, &body] { m_server->serve(PageServer::ok(body)); });
    }
    qint64 cpuNs() const
    {
        timespec now{};
        clock_gettime(m_clock, &now);
        return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }

private:
    template <typename Work> void run(Work work)
    {
        QMetaObject::invokeMethod(&m_context, std::move(work), Qt::BlockingQueuedConnection);
    }

    QThread m_thread;
    QObject m_context;
    std::unique_ptr<PageServer> m_server;
    QUrl m_url;
    clockid_t m_clock{};
};

// Stock Qt widgets of the same kinds, texts and fonts, standing where the
// original's stand: what the window would be without any code of ours.
void addTwinsOf(const QWidget &original, QWidget &twinParent)
{
    for (QObject *child : original.children()) {
        const auto *widget = qobject_cast<const QWidget *>(child);
        QWidget *twin = nullptr;
        if (const auto *box = qobject_cast<const QGroupBox *>(widget)) {
            twin = new QGroupBox(box->title(), &twinParent);
            addTwinsOf(*box, *twin); // row 0's check boxes
        } else if (const auto *check = qobject_cast<const QCheckBox *>(widget)) {
            twin = new QCheckBox(check->text(), &twinParent);
        } else if (const auto *button = qobject_cast<const QPushButton *>(widget)) {
            twin = new QPushButton(button->text(), &twinParent);
        } else if (qobject_cast<const QLineEdit *>(widget)) {
            twin = new QLineEdit(&twinParent);
        } else if (const auto *combo = qobject_cast<const QComboBox *>(widget)) {
            auto *copy = new QComboBox(&twinParent);
            copy->setEditable(true);
            for (int i = 0; i < combo->count(); ++i)
                copy->addItem(combo->itemText(i));
            copy->setEditText(combo->currentText());
            twin = copy;
        } else if (qobject_cast<const QListWidget *>(widget)) {
            twin = new QListWidget(&twinParent);
        } else if (const auto *label = qobject_cast<const QLabel *>(widget)) {
            auto *copy = new QLabel(&twinParent);
            copy->setWordWrap(label->wordWrap());
            twin = copy;
        } else {
            continue;
        }
        twin->setFont(widget->font());
        twin->setGeometry(widget->geometry());
        twin->setHidden(widget->isHidden());
    }
}

// What pollfloor does on each tick, by hand: GET the page, read it as UTF-8,
// take the names out, fill the list, select the last entry, set the label.
void barePoll(QNetworkAccessManager &network, const QUrl &url, QListWidget &list, QLabel &label,
              int poll)
{
    const QString page = QString::fromUtf8(bareFetch(network, url));
    list.clear();
    const QString start = u"';\" >"_s;
    const QString end = u"</a>"_s;
    for (qsizetype at = page.indexOf(start); at >= 0; at = page.indexOf(start, at)) {
        const qsizetype from = at + start.size();
        const qsizetype to = page.indexOf(end, from);
        if (to < 0)
            break;
        list.addItem(page.mid(from, to - from));
        at = to;
    }
    if (list.count() > 0)
        list.setCurrentRow(list.count() - 1);
    label.setText(u"poll %1: %2 online"_s.arg(poll).arg(list.count()));
}

// Lets the event loop run for a moment, so the repaint a poll asks for, and
// the answers to it, are done before the next side starts.
void settle()
{
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

constexpr qsizetype RealisticNames = 20;

struct FloorFixture {
    ServerThread server;
    QByteArray pages[2];
    DesktopPlatform platform;
    std::unique_ptr<Form1> form;
    QWidget bare;
    QNetworkAccessManager network;

    FloorFixture()
    {
        // The second page has one name swapped, for the case where names change.
        QStringList names = BenchPage::names(RealisticNames + 1);
        const QString newcomer = names.takeLast();
        pages[0] = BenchPage::page(names).toUtf8();
        names[RealisticNames / 2] = newcomer;
        pages[1] = BenchPage::page(names).toUtf8();
        server.serve(pages[0]);

        form = std::make_unique<Form1>(platform, server.url());
        platform.setDialogParent(form.get());
        form->show();
        waitUntilExposed(*form);
        bare.setWindowTitle(form->windowTitle());
        bare.resize(form->size());
        addTwinsOf(*form, bare);
        bare.move(form->frameGeometry().right() + 1, form->y());
        bare.show();
        waitUntilExposed(bare);
    }
};

// One poll of a page of 20 names: Form1 with DesktopPlatform, shown, as its
// Timer1 ticks, beside a bare twin window doing pollfloor's work by hand.
// Each side's figure is the CPU time of all the process's threads but the
// server's, from the start of the poll until the repaint it caused is done.
// Both sides poll in every iteration, in turn. With names_change=1 the page
// changes between polls (one name swapped), so the list must be repainted.
void BM_WindowPollBesideBarePoll(benchmark::State &state)
{
    static FloorFixture fixture;
    FloorFixture &f = fixture;
    const bool namesChange = state.range(0) != 0;
    Timer *timer = timer1(*f.form);
    QListWidget *list = list1(*f.form);
    auto *bareList = f.bare.findChild<QListWidget *>();
    auto *bareLabel = f.bare.findChild<QLabel *>();
    if (!timer || !list || !bareList || !bareLabel) {
        state.SkipWithError("a window lacks Timer1, its list or its label");
        return;
    }
    const auto cpuNs = [&f] { return processCpuNs() - f.server.cpuNs(); };
    std::vector<double> formUs, bareUs;
    int polls = 0;
    bool formFirst = false;
    for (auto _ : state) {
        ++polls;
        if (namesChange)
            f.server.serve(f.pages[polls % 2]);
        formFirst = !formFirst;
        qint64 form = 0;
        const auto timedFormPoll = [&] {
            const qint64 cpu = cpuNs();
            Q_EMIT timer->ticked();
            settle();
            form = cpuNs() - cpu;
        };
        if (formFirst)
            timedFormPoll();
        const qint64 bareCpu = cpuNs();
        barePoll(f.network, f.server.url(), *bareList, *bareLabel, polls);
        settle();
        const qint64 bare = cpuNs() - bareCpu;
        if (!formFirst)
            timedFormPoll();
        if (list->count() != RealisticNames || list->currentRow() != RealisticNames - 1 ||
            bareList->count() != RealisticNames || bareList->currentRow() != RealisticNames - 1 ||
            list->currentItem()->text() != bareList->currentItem()->text()) {
            state.SkipWithError("the two windows do not list the same names");
            return;
        }
        state.SetIterationTime(form / 1e9);
        formUs.push_back(form / 1e3);
        bareUs.push_back(bare / 1e3);
    }
    state.counters["form_cpu_us"] = median(formUs);
    state.counters["bare_cpu_us"] = median(bareUs);
    state.counters["ratio"] = median(formUs) / median(bareUs);
    state.counters["within_budget"] = median(formUs) <= 1.5 * median(bareUs) ? 1 : 0;
}

struct StallFixture {
    PageServer server;
    std::unique_ptr<DesktopPlatform> platform;
    std::unique_ptr<Form1> form;

    StallFixture()
    {
        server.listen();
        server.serve({PageServer::Script{}});
        // A short limit, so a probe that never fires cannot hang the run.
        DesktopPlatform::Limits limits;
        limits.transferTimeoutMs = 5'000;
        platform = std::make_unique<DesktopPlatform>(limits);
        form = std::make_unique<Form1>(*platform, userListUrl(server.hostAndPort()));
        form->show();
        waitUntilExposed(*form);
    }
};

// While the window's poll waits on a server that never answers, post queued
// calls (alternately QTimer::singleShot(0) and a queued invokeMethod) and time
// each from posting to running. Then abandon the fetch.
void BM_QueuedEventDuringStalledFetch(benchmark::State &state)
{
    static StallFixture f;
    Timer *timer = timer1(*f.form);
    if (!timer) {
        state.SkipWithError("Form1 has no Timer1");
        return;
    }
    constexpr int PostsPerStall = 10;
    std::vector<double> waitsMs;
    double worstMs = 0;
    for (auto _ : state) {
        const int requestsBefore = f.server.requestCount();
        int posted = 0;
        int answered = 0;
        double worstThisStall = 0;
        QObject context;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, &context, [&] {
            if (f.server.requestCount() == requestsBefore)
                return; // the request has not reached the server yet
            if (posted == PostsPerStall) {
                if (answered == PostsPerStall) {
                    probe.stop();
                    f.platform->cancelFetch();
                }
                return;
            }
            auto clock = std::make_shared<QElapsedTimer>();
            clock->start();
            auto answer = [&, clock] {
                const double ms = clock->nsecsElapsed() / 1e6;
                waitsMs.push_back(ms);
                worstThisStall = std::max(worstThisStall, ms);
                ++answered;
            };
            if (posted % 2 == 0)
                QTimer::singleShot(0, &context, answer);
            else
                QMetaObject::invokeMethod(&context, answer, Qt::QueuedConnection);
            ++posted;
        });
        probe.start();
        Q_EMIT timer->ticked(); // returns once the fetch is abandoned
        probe.stop();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (answered != PostsPerStall) {
            state.SkipWithError("the queued calls did not all run during the stall");
            return;
        }
        state.SetIterationTime(worstThisStall / 1e3);
        worstMs = std::max(worstMs, worstThisStall);
    }
    state.counters["median_wait_ms"] = median(waitsMs);
    state.counters["worst_wait_ms"] = worstMs;
    state.counters["within_budget"] = worstMs <= 50.0 ? 1 : 0;
}

} // namespace

BENCHMARK(BM_StartupBesideBareWindow)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(BM_WindowPollBesideBareFetch)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowPollBesideBarePoll)
    ->ArgName("names_change")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(150);
BENCHMARK(BM_QueuedEventDuringStalledFetch)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--child=", 8) == 0)
            return runChild(argc, argv, argv[i] + 8);
    }
    return runBenchmarks(argc, argv);
}

// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

// The window beside a bare twin of it, stock Qt widgets doing what a minimal
// program would: one poll each, and start-up time and peak memory.
#include "caretrest.h"
#include "chatsite.h"
#include "desktopplatform.h"
#include "form1.h"
#include "pageserver.h"
#include "pollcycle.h"
#include "procstatus.h"
#include "timer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <time.h> // NOLINT(modernize-deprecated-headers): clock_gettime is POSIX, not <ctime>

using namespace Qt::StringLiterals;

namespace {

// CPU time of all the process's threads, the network thread included: unlike
// wall time, it hardly grows when other work takes the cores away.
qint64 processCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// On a shared machine one busy spell must not move the figure.
double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0; // a run that failed before it timed anything
    const auto middle = samples.begin() + std::ptrdiff_t(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

// Form1's controls as stock widgets, placed as designed in twips. Like
// Form1, it takes 15 twips a pixel unless the font needs more room.
std::unique_ptr<QWidget> bareWindow()
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(u"Vindriks Chatt sökning"_s);
    QWidget *w = window.get();
    std::vector<std::pair<QWidget *, QRect>> places;
    const auto add = [&places](QWidget *widget, QRect twips) {
        places.emplace_back(widget, twips);
        return widget;
    };
    QFont caption = w->font();
    caption.setPointSizeF(8.25);
    caption.setBold(true);
    add(new QGroupBox(u"Online"_s, w), {480, 120, 1815, 3975})->setFont(caption);
    add(new QGroupBox(u"Personer"_s, w), {2520, 120, 4215, 3975})->setFont(caption);
    add(new QGroupBox(u"Sek"_s, w), {6960, 120, 1095, 1095});
    add(new QListWidget(w), {600, 360, 1575, 3570});
    add(new QLineEdit(u"Text1"_s, w), {1440, 1560, 255, 285})->hide();
    add(new QPushButton(u"&Starta programmet"_s, w), {1560, 4200, 3855, 375});
    auto *combo = new QComboBox(w);
    combo->setEditable(true);
    combo->addItems(u"3 5 7 10 15 20 30 40 50 60"_s.split(u' '));
    combo->setCurrentIndex(-1);
    combo->setEditText(u"3"_s);
    add(combo, {7200, 600, 615, 315});
    add(new QLabel(w), {480, 4680, 7695, 480});
    for (int top = 360; top < 360 + 8 * 480; top += 480) {
        add(new QLineEdit(w), {2640, top, 1575, 285});
        add(new QCheckBox(u"Popup"_s, w), {4320, top, 855, 255});
        add(new QCheckBox(u"Pip"_s, w), {5160, top, 615, 255});
        add(new QCheckBox(u"Ljud"_s, w), {5880, top, 615, 255});
    }
    double scale = 1 / 15.0;
    for (const auto &[widget, twips] : places) {
        const QSize needed = widget->isHidden() ? QSize() : widget->minimumSizeHint();
        scale = std::max({scale, needed.width() / double(twips.width()),
                          needed.height() / double(twips.height())});
    }
    const auto px = [scale](int twips) { return int(std::lround(twips * scale)); };
    for (const auto &[widget, twips] : places)
        widget->setGeometry(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height()));
    window->resize(px(8655), px(5280));
    return window;
}

// What a window shows, widget by widget, internal ones included: the stock
// class, the place within the window, text, font and whether it is hidden.
QStringList looks(const QWidget &window)
{
    QStringList result{window.windowTitle()};
    QDebug(&result.first()) << window.size();
    for (const QWidget *w : window.findChildren<QWidget *>()) {
        if (w->window() != &window)
            continue; // a combo box's popup
        QDebug(&result.emplace_back())
            << w->metaObject()->className() << QRect(w->mapTo(&window, QPoint()), w->size())
            << w->property("text") << w->property("title") << w->font().key() << w->isHidden();
    }
    result.sort();
    return result;
}

void waitUntilExposed(QWidget &window)
{
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents(); // the first paint, which the expose queued
}

// Lets the event loop run for a moment, so the repaint a poll asks for is done
// before the other side starts.
void settle()
{
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The page server runs in a child process of this program, so neither side's
// CPU time includes serving. The demo chat would do that too, but its list
// changes with the clock: both sides of a pair must get the same names.
// Request n gets page n/2, so the two polls of an iteration share one.
int runServerChild(int argc, char **argv, bool namesChange)
{
    QCoreApplication app(argc, argv);
    QStringList names = ChatSite::regulars();
    const QByteArray first = ChatSite::userListPage(names);
    if (namesChange)
        names[names.size() / 2] = u"Sören"_s;
    const QByteArray pages[] = {first, ChatSite::userListPage(names)};
    int requests = 0;
    PageServer server;
    server.setResponder([&](const QByteArray &) {
        return PageServer::reply(PageServer::ok(pages[requests++ / 2 % 2]));
    });
    if (!server.listen())
        return 1;
    std::printf("%s\n", qPrintable(server.hostAndPort()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// The window as main() starts it.
struct Program {
    CaretRest caretRest;
    DesktopPlatform platform;
    Form1 form;
    explicit Program(const QUrl &url) : form(platform, url) { platform.setDialogParent(&form); }
};

// One window from nothing to shown (Form1 polls nothing here): milliseconds
// from the QApplication to exposed, and peak resident memory in KiB, on stdout.
int runWindowChild(int argc, char **argv, bool form1)
{
    QApplication app(argc, argv);
    QElapsedTimer clock;
    clock.start();
    const auto program = form1 ? std::make_unique<Program>(userListUrl(u"127.0.0.1:9"_s)) : nullptr;
    const std::unique_ptr<QWidget> bare = form1 ? nullptr : bareWindow();
    QWidget &window = program ? program->form : *bare;
    window.show();
    waitUntilExposed(window);
    std::printf("%f %lld\n", clock.nsecsElapsed() / 1e6,
                static_cast<long long>(procStatusKiB("VmHWM")));
    return 0;
}

void startChild(QProcess &child, const QString &kind)
{
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {u"--child="_s + kind});
}

// Each iteration starts one child of each kind, in turn, so that a busy
// spell hits both alike. The time is Form1's.
void BM_StartupBesideBareWindow(benchmark::State &state)
{
    std::vector<double> ms[2], peakMib[2];
    int iteration = 0;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const int side = (turn + iteration) % 2; // 0: form1, 1: bare
            QProcess child;
            startChild(child, side == 0 ? u"form1"_s : u"bare"_s);
            double windowMs = 0;
            double peakKib = 0;
            if (!child.waitForFinished(60'000) ||
                std::sscanf(child.readAllStandardOutput().constData(), "%lf %lf", &windowMs,
                            &peakKib) != 2 ||
                peakKib <= 0) {
                state.SkipWithError("a child did not report its window");
                return;
            }
            ms[side].push_back(windowMs);
            peakMib[side].push_back(peakKib / 1024);
        }
        state.SetIterationTime(ms[0].back() / 1e3);
        ++iteration;
    }
    state.counters["form1_ms"] = median(ms[0]);
    state.counters["bare_ms"] = median(ms[1]);
    state.counters["ratio"] = median(ms[0]) / median(ms[1]);
    state.counters["form1_peak_MiB"] = median(peakMib[0]);
    state.counters["bare_peak_MiB"] = median(peakMib[1]);
    state.counters["mem_ratio"] = median(peakMib[0]) / median(peakMib[1]);
}

// What a minimal program does on each tick: GET the page, take the names out,
// fill the list afresh, select the last entry, say when and how many.
void barePoll(QNetworkAccessManager &network, const QUrl &url, QListWidget &list, QLabel &label)
{
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const QString page = QString::fromUtf8(reply->readAll());
    reply->deleteLater();
    list.clear();
    const QString start = u"';\" >"_s;
    const QString end = u"</a>"_s;
    for (qsizetype at = page.indexOf(start); at >= 0; at = page.indexOf(start, at)) {
        const qsizetype from = at + start.size();
        at = page.indexOf(end, from);
        if (at < 0)
            break;
        list.addItem(page.mid(from, at - from));
    }
    list.setCurrentRow(list.count() - 1);
    label.setText(u"Senaste kontroll %1: %2 personer online"_s.arg(
        QTime::currentTime().toString(u"HH:mm:ss"_s), QString::number(list.count())));
}

QStringList texts(const QListWidget &list)
{
    QStringList result;
    for (int row = 0; row < list.count(); ++row)
        result << list.item(row)->text();
    return result;
}

// One poll of the demo site's 17 regulars by Form1, shown, as its Timer1
// ticks, and by the bare twin, in turn: this process's CPU time until the
// repaint is done. With names_change=1 one name is swapped between
// iterations, so the list must be painted again.
void BM_PollBesideBarePoll(benchmark::State &state)
{
    QProcess server;
    startChild(server, state.range(0) != 0 ? u"changing-server"_s : u"server"_s);
    const QUrl url = server.waitForReadyRead(10'000)
                         ? userListUrl(QString::fromLatin1(server.readLine().trimmed()))
                         : QUrl();
    Program program(url);
    Form1 &form = program.form;
    const std::unique_ptr<QWidget> bare = bareWindow();
    QNetworkAccessManager network;
    form.show();
    waitUntilExposed(form);
    bare->move(form.frameGeometry().right() + 1, form.y()); // side by side on a real screen
    bare->show();
    waitUntilExposed(*bare);

    auto *timer = form.findChild<Timer *>(u"Timer1"_s);
    auto *list = form.findChild<QListWidget *>(u"List1"_s);
    auto *bareList = bare->findChild<QListWidget *>();
    auto *bareLabel = bare->findChild<QLabel *>();
    if (url.isEmpty() || !timer || !list || !bareList || !bareLabel)
        state.SkipWithError("no page server, or a window lacks Timer1, its list or its label");
    else if (looks(form) != looks(*bare))
        state.SkipWithError("the bare window is no twin of Form1: see bareWindow()");

    std::vector<double> us[2];
    int iteration = 0;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const int side = (turn + iteration) % 2; // 0: Form1, 1: bare
            const qint64 cpu = processCpuNs();
            if (side == 0)
                Q_EMIT timer->ticked();
            else
                barePoll(network, url, *bareList, *bareLabel);
            settle();
            us[side].push_back((processCpuNs() - cpu) / 1e3);
        }
        if (texts(*list) != texts(*bareList) || list->count() != ChatSite::regulars().size() ||
            list->currentRow() != list->count() - 1 ||
            bareList->currentRow() != bareList->count() - 1) {
            state.SkipWithError("the two windows do not list and select the same names");
            break;
        }
        state.SetIterationTime(us[0].back() / 1e6);
        ++iteration;
    }
    server.kill();
    server.waitForFinished();
    state.counters["form_cpu_us"] = median(us[0]);
    state.counters["bare_cpu_us"] = median(us[1]);
    state.counters["ratio"] = median(us[0]) / median(us[1]);
}

} // namespace

BENCHMARK(BM_PollBesideBarePoll)
    ->ArgName("names_change")
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StartupBesideBareWindow)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // Windows go to the offscreen platform unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--child=form1" || arg == "--child=bare")
            return runWindowChild(argc, argv, arg == "--child=form1");
        if (arg == "--child=server" || arg == "--child=changing-server")
            return runServerChild(argc, argv, arg == "--child=changing-server");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

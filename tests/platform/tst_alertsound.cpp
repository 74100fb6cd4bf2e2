// "Pip" and "Ljud" heard for real on Wayland: alertprobe runs the desktop
// platform natively on a headless Weston and plays into a private PulseAudio
// whose only sink is a null sink; parec records the sink's monitor. Needs
// weston, pulseaudio, parec and Qt's wayland plugin, and fails without them.

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Rate = 48'000; // of the recording: mono, 16-bit
// The null sink's silence is exactly 0, and the quietest sound here, the
// theme's bell, peaks near 9,600: a sound that arrived is far above this.
constexpr int Loud = 1'000;
constexpr double OwnToneHz = 660; // the desktop bell's own tone
const QString WaylandSocket = u"vindrik-wayland"_s;
const QString Sink = u"vindrik"_s;

// Should the test die, what it started goes with it.
void startOwn(QProcess &process, const QString &program, const QStringList &args,
              const QProcessEnvironment &env)
{
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, args);
}

void end(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished();
    }
}

// Where each sound begins and ends: loud samples, apart from the next by at
// least 0.4 s of quiet.
QList<std::pair<qsizetype, qsizetype>> sounds(const QList<qint16> &samples)
{
    QList<std::pair<qsizetype, qsizetype>> found;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (std::abs(int(samples[i])) < Loud)
            continue;
        if (found.isEmpty() || i - found.last().second > Rate * 2 / 5)
            found.append({i, i + 1});
        found.last().second = i + 1;
    }
    return found;
}

// The dominant frequency of samples[begin, end), from its zero crossings.
double hzOf(const QList<qint16> &samples, std::pair<qsizetype, qsizetype> span)
{
    int crossings = 0;
    for (qsizetype s = span.first; s + 1 < span.second; ++s)
        crossings += (samples[s] < 0) != (samples[s + 1] < 0);
    const qsizetype length = span.second - span.first;
    return length > 1 ? crossings / 2.0 * Rate / double(length) : 0;
}

} // namespace

class TstAlertSound : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_runtime;
    QString m_pulseSocket;
    QProcess m_weston;
    QProcess m_pulse;

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void alertIsHeardOnWayland_data();
    void alertIsHeardOnWayland();
};

void TstAlertSound::initTestCase()
{
    for (const auto &[program, package] : {std::pair{"weston", "weston"},
                                           {"pulseaudio", "pulseaudio"},
                                           {"parec", "pulseaudio-utils"}})
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty(),
                 qPrintable(u"%1 is missing: install the Debian package %2"_s.arg(
                     QLatin1StringView(program), QLatin1StringView(package))));
    QVERIFY2(QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                               u"/platforms/libqwayland-generic.so"_s),
             "Qt's wayland platform is missing: install the Debian package qt6-wayland");

    m_runtime = m_dir.filePath(u"runtime"_s);
    QVERIFY(
        QDir().mkpath(m_runtime) &&
        QFile::setPermissions(m_runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QDir().mkpath(m_dir.filePath(u"home"_s)));
    m_pulseSocket = m_runtime + u"/pulse.sock"_s;
    // Nothing of the desktop this may run on: no display, no session bus.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "PULSE_SERVER",
                             "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        env.remove(QString::fromLatin1(name));
    env.insert(u"XDG_RUNTIME_DIR"_s, m_runtime);
    env.insert(u"HOME"_s, m_dir.filePath(u"home"_s));

    m_weston.setProcessChannelMode(QProcess::MergedChannels);
    startOwn(m_weston, u"weston"_s,
             {u"--backend=headless-backend.so"_s, u"--socket="_s + WaylandSocket,
              u"--shell=kiosk-shell.so"_s, u"--no-config"_s, u"--idle-time=0"_s},
             env);
    // Root is fine with these flags (CI runs as root); the server stays up
    // however long it idles and runs at normal priority.
    m_pulse.setProcessChannelMode(QProcess::MergedChannels);
    startOwn(m_pulse, u"pulseaudio"_s,
             {u"-n"_s, u"--daemonize=no"_s, u"--use-pid-file=no"_s, u"--exit-idle-time=-1"_s,
              u"--disallow-exit"_s, u"--high-priority=no"_s, u"--realtime=no"_s,
              u"--log-target=stderr"_s, u"-L"_s, u"module-null-sink sink_name="_s + Sink, u"-L"_s,
              u"module-native-protocol-unix auth-anonymous=1 socket="_s + m_pulseSocket},
             env);
    QTRY_VERIFY2_WITH_TIMEOUT(
        QFileInfo::exists(m_runtime + u'/' + WaylandSocket),
        qPrintable(u"weston did not start: "_s + QString::fromLocal8Bit(m_weston.readAll())),
        10'000);
    QTRY_VERIFY2_WITH_TIMEOUT(
        QFileInfo::exists(m_pulseSocket),
        qPrintable(u"pulseaudio did not start: "_s + QString::fromLocal8Bit(m_pulse.readAll())),
        10'000);
}

void TstAlertSound::cleanupTestCase()
{
    end(m_weston);
    end(m_pulse);
}

void TstAlertSound::alertIsHeardOnWayland_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("withTheme"); // else no sound theme can be found
    QTest::addColumn<bool>("ownTone");   // the sound must be the bell's own tone
    QTest::newRow("Pip: the theme's bell") << QStringList{u"pip"_s} << true << false;
    QTest::newRow("Pip without a sound theme: our own tone")
        << QStringList{u"pip"_s} << false << true;
    QTest::newRow("Ljud: Hej.WAV")
        << QStringList{u"ljud"_s,
                       QDir(QCoreApplication::applicationDirPath()).filePath(u"Hej.WAV"_s)}
        << true << false;
}

void TstAlertSound::alertIsHeardOnWayland()
{
    QFETCH(QStringList, args);
    QFETCH(bool, withTheme);
    QFETCH(bool, ownTone);
    if (withTheme)
        QVERIFY2(QFileInfo::exists(u"/usr/share/sounds/freedesktop/stereo/bell.oga"_s),
                 "no bell in the freedesktop sound theme: install sound-theme-freedesktop");
    QTemporaryDir home; // libcanberra remembers its look-ups in each home
    QTemporaryDir noData;
    QProcessEnvironment env = m_pulse.processEnvironment();
    env.insert(u"HOME"_s, home.path());
    env.insert(u"XDG_DATA_DIRS"_s, withTheme ? u"/usr/local/share:/usr/share"_s : noData.path());
    env.insert(u"PULSE_SERVER"_s, u"unix:"_s + m_pulseSocket);

    QList<qint16> samples;
    int peak = 0;
    QByteArray parecLog;
    QProcess parec;
    const auto stopRecording = qScopeGuard([&parec] { end(parec); });
    connect(&parec, &QProcess::readyReadStandardOutput, &parec, [&] {
        const QByteArray bytes = parec.read(parec.bytesAvailable() & ~1);
        for (qsizetype i = 0; i < bytes.size(); i += 2) {
            samples << qFromLittleEndian<qint16>(bytes.constData() + i);
            peak = std::max(peak, std::abs(int(samples.last())));
        }
    });
    connect(&parec, &QProcess::readyReadStandardError, &parec,
            [&] { parecLog += parec.readAllStandardError(); });
    startOwn(parec, u"parec"_s,
             {u"--verbose"_s, u"--device="_s + Sink + u".monitor"_s, u"--raw"_s,
              u"--format=s16le"_s, u"--channels=1"_s, u"--rate=%1"_s.arg(Rate),
              u"--latency-msec=20"_s},
             env);
    QTRY_VERIFY2_WITH_TIMEOUT(parecLog.contains("Connected to device"),
                              ("parec did not start recording: " + parecLog).constData(), 10'000);

    env.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
    env.insert(u"WAYLAND_DISPLAY"_s, WaylandSocket);
    QProcess probe;
    const auto stopProbe = qScopeGuard([&probe] { end(probe); });
    startOwn(probe, QDir(QCoreApplication::applicationDirPath()).filePath(u"alertprobe"_s), args,
             env);
    // The second alert, as the next poll would give it, once the first is heard.
    QTRY_VERIFY_WITH_TIMEOUT(!sounds(samples).isEmpty() || probe.state() == QProcess::NotRunning,
                             30'000);
    QTest::qWait(1000);
    probe.write("again\n");
    QTRY_VERIFY2_WITH_TIMEOUT(sounds(samples).size() > 1 || probe.state() == QProcess::NotRunning,
                              "the second alert was not heard", 10'000);
    probe.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(probe.state() == QProcess::NotRunning, 10'000);
    const QByteArray probeErrors = probe.readAllStandardError();
    QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0,
             ("alertprobe failed: " + probeErrors).constData());
    const QByteArray said = probe.readAllStandardOutput();
    QVERIFY2(said.startsWith("wayland\n"),
             ("alertprobe did not run on Wayland: " + said).constData());
    QTest::qWait(200); // the last of the recording
    end(parec);

    const auto heard = sounds(samples);
    const double hz = heard.isEmpty() ? 0 : hzOf(samples, heard.first());
    qInfo("%lld sounds, peak %d, %.0f Hz, %.2f s recorded", qlonglong(heard.size()), peak, hz,
          samples.size() / double(Rate));
    QVERIFY2(heard.size() == 2,
             qPrintable(u"heard %1 sounds (peak %2) for two alerts; alertprobe said: %3"_s
                            .arg(heard.size())
                            .arg(peak)
                            .arg(QString::fromLocal8Bit(probeErrors))));
    QVERIFY2((std::abs(hz - OwnToneHz) < OwnToneHz / 10) == ownTone,
             qPrintable(u"heard %1 Hz, our own tone is %2 Hz"_s.arg(hz).arg(OwnToneHz)));
}

QTEST_MAIN(TstAlertSound)
#include "tst_alertsound.moc"

// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

// "Pip" and "Ljud" heard for real in a Wayland session: alertprobe runs the
// desktop platform on a headless Weston, or on X11 (Xvfb standing in for
// Xwayland, whose bell nobody hears), into a private PulseAudio with only a
// null sink, whose monitor parec records. Needs weston, xvfb, pulseaudio,
// pulseaudio-utils, qt6-wayland and sound-theme-freedesktop.

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Rate = 48'000; // of the recording: mono, 16-bit
// The null sink's silence is exactly 0, and the quietest sound here, the
// theme's bell, peaks near 9,600: a sound that arrived is far above this.
constexpr int Loud = 1'000;

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
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished();
}

// Where each sound begins and ends: runs of loud samples, apart by at least
// 0.4 s of quiet.
QList<std::pair<qsizetype, qsizetype>> sounds(const QList<qint16> &samples)
{
    QList<std::pair<qsizetype, qsizetype>> found;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (std::abs(int(samples[i])) < Loud)
            continue;
        if (found.isEmpty() || i - found.last().second > Rate * 2 / 5)
            found.append({i, i});
        found.last().second = i + 1;
    }
    return found;
}

// The pitch of a pure tone, from its zero crossings.
double hzOf(const QList<qint16> &samples, std::pair<qsizetype, qsizetype> sound)
{
    qsizetype crossings = 0;
    for (qsizetype i = sound.first + 1; i < sound.second; ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return crossings * 0.5 * Rate / double(sound.second - sound.first);
}

} // namespace

class TstAlertSound : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QProcess m_weston;
    QProcess m_xvfb;
    QProcess m_pulse;

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase()
    {
        end(m_weston);
        end(m_xvfb);
        end(m_pulse);
    }
    void alertIsHeardEveryTimeInAWaylandSession_data();
    void alertIsHeardEveryTimeInAWaylandSession();
};

void TstAlertSound::initTestCase()
{
    const QString runtime = m_dir.filePath(u"runtime"_s);
    QVERIFY(QDir().mkpath(runtime) &&
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // Nothing of the desktop this may run on: no display, no session bus.
    m_env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        m_env.remove(QString::fromLatin1(name));
    m_env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
    m_env.insert(u"HOME"_s, m_dir.path());
    m_env.insert(u"WAYLAND_DISPLAY"_s, u"vindrik-wayland"_s);
    m_env.insert(u"PULSE_SERVER"_s, u"unix:%1/pulse.sock"_s.arg(runtime));

    m_weston.setProcessChannelMode(QProcess::MergedChannels);
    startOwn(m_weston, u"weston"_s,
             {u"--backend=headless-backend.so"_s, u"--socket=vindrik-wayland"_s,
              u"--shell=kiosk-shell.so"_s, u"--no-config"_s, u"--idle-time=0"_s},
             m_env);
    // Root is fine with these flags (CI runs as root); the server stays up
    // however long it idles and runs at normal priority.
    m_pulse.setProcessChannelMode(QProcess::MergedChannels);
    startOwn(
        m_pulse, u"pulseaudio"_s,
        {u"-n"_s, u"--daemonize=no"_s, u"--use-pid-file=no"_s, u"--exit-idle-time=-1"_s,
         u"--disallow-exit"_s, u"--high-priority=no"_s, u"--realtime=no"_s,
         u"--log-target=stderr"_s, u"-L"_s, u"module-null-sink sink_name=vindrik"_s, u"-L"_s,
         u"module-native-protocol-unix auth-anonymous=1 socket="_s + runtime + u"/pulse.sock"_s},
        m_env);
    startOwn(m_xvfb, u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-nolisten"_s, u"tcp"_s}, m_env);
    QTRY_VERIFY2_WITH_TIMEOUT(m_xvfb.canReadLine(), "Xvfb did not start", 10'000);
    m_env.insert(u"DISPLAY"_s, u':' + QString::fromLatin1(m_xvfb.readLine().trimmed()));
    m_env.insert(u"XDG_SESSION_TYPE"_s, u"wayland"_s);
    QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(runtime + u"/vindrik-wayland"_s),
                              m_weston.readAll().prepend("weston did not start: ").constData(),
                              10'000);
    QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(runtime + u"/pulse.sock"_s),
                              m_pulse.readAll().prepend("pulseaudio did not start: ").constData(),
                              10'000);
}

void TstAlertSound::alertIsHeardEveryTimeInAWaylandSession_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("withTheme"); // else no sound theme can be found
    QTest::addColumn<QString>("platform");
    QTest::newRow("Pip: the theme's bell") << QStringList{u"pip"_s} << true << u"wayland"_s;
    // A pure tone, which must be one that laptop speakers play.
    QTest::newRow("Pip without a sound theme: our own tone")
        << QStringList{u"pip"_s} << false << u"wayland"_s;
    QTest::newRow("Ljud: Hej.WAV from the program's folder")
        << QStringList{u"ljud"_s} << true << u"wayland"_s;
    QTest::newRow("Pip on X11: the theme's bell") << QStringList{u"pip"_s} << true << u"xcb"_s;
    QTest::newRow("Ljud on X11") << QStringList{u"ljud"_s} << true << u"xcb"_s;
}

void TstAlertSound::alertIsHeardEveryTimeInAWaylandSession()
{
    QFETCH(QStringList, args);
    QFETCH(bool, withTheme);
    QFETCH(QString, platform);
    QTemporaryDir home; // libcanberra remembers its look-ups in each home
    QProcessEnvironment env = m_env;
    env.insert(u"HOME"_s, home.path());
    env.insert(u"XDG_DATA_DIRS"_s, withTheme ? u"/usr/share"_s : home.path());

    QList<qint16> samples;
    QByteArray parecLog;
    QProcess parec;
    const auto stopRecording = qScopeGuard([&parec] { end(parec); });
    connect(&parec, &QProcess::readyReadStandardOutput, &parec, [&] {
        const QByteArray bytes = parec.read(parec.bytesAvailable() & ~1);
        for (qsizetype i = 0; i < bytes.size(); i += 2)
            samples << qFromLittleEndian<qint16>(bytes.constData() + i);
    });
    connect(&parec, &QProcess::readyReadStandardError, &parec,
            [&] { parecLog += parec.readAllStandardError(); });
    startOwn(parec, u"parec"_s,
             {u"--verbose"_s, u"--device=vindrik.monitor"_s, u"--raw"_s, u"--format=s16le"_s,
              u"--channels=1"_s, u"--rate=%1"_s.arg(Rate), u"--latency-msec=20"_s},
             env);
    QTRY_VERIFY2_WITH_TIMEOUT(parecLog.contains("Connected to device"),
                              ("parec did not start recording: " + parecLog).constData(), 10'000);

    env.insert(u"QT_QPA_PLATFORM"_s, platform);
    QProcess probe;
    probe.setWorkingDirectory(home.path()); // not the program's folder
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
    const QByteArray said = probe.readAllStandardOutput() + probe.readAllStandardError();
    QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0 &&
                 said.startsWith(platform.toLatin1() + '\n'),
             ("alertprobe did not run on " + platform.toLatin1() + ": " + said).constData());
    QTest::qWait(200); // the last of the recording
    end(parec);

    const auto heard = sounds(samples);
    QVERIFY2(heard.size() == 2,
             qPrintable(u"heard %1 sounds for two alerts; alertprobe said: %2"_s.arg(heard.size())
                            .arg(QString::fromLocal8Bit(said))));
    // Within the telephone band, 300 to 3,400 Hz, which any speaker plays.
    const double hz = hzOf(samples, heard.first());
    QVERIFY2(withTheme || (hz >= 300 && hz <= 3400), qPrintable(u"our own tone: %1 Hz"_s.arg(hz)));
}

QTEST_MAIN(TstAlertSound)
#include "tst_alertsound.moc"

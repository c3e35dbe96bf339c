#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The program as a user starts it: its own process, a real display.
class TestProgramX11 : public QObject
{
    Q_OBJECT
private slots:
    void writesNothingAndEndsWithItsWindows();
};

static QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void TestProgramX11::writesNothingAndEndsWithItsWindows()
{
    const QString binary = qEnvironmentVariable("PHOTOFORKP_BINARY");
    QVERIFY(QFileInfo::exists(binary));
    QTemporaryDir home;
    QVERIFY(home.isValid());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    for (const char *v : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                          "XDG_RUNTIME_DIR", "QT_DISABLE_SHADER_DISK_CACHE", "MESA_SHADER_CACHE_DISABLE"})
        env.remove(v);
    env.remove("QT_QPA_PLATFORM");
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(binary, {});
    QVERIFY(program.waitForStarted());
    const QString pid = QString::number(program.processId());

    // The splash first, then the main window.
    QVERIFY(!xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid", pid, "--name", "^Form1$"}).isEmpty());
    const QString main = xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid", pid, "--name", "Bramoth"})
                             .section('\n', 0, 0);
    QVERIFY2(!main.isEmpty(), "the main window never appeared");
    QTest::qWait(3000); // the splash has gone, the main window is opaque

    // Open a viewer with the postcard button (the browser engine starts here).
    xdotool({"mousemove", "--sync", "--window", main, "212", "108", "click", "1"});
    const QString viewer = xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid", pid, "--name", "鉴赏页面"})
                               .section('\n', 0, 0);
    QVERIFY2(!viewer.isEmpty(), "no viewer opened");
    QTest::qWait(1500);

    // Closing the main window takes the viewer with it at once, then the program ends.
    xdotool({"windowactivate", "--sync", main, "key", "--clearmodifiers", "alt+F4"});
    QElapsedTimer gone;
    gone.start();
    while (!xdotool({"search", "--all", "--onlyvisible", "--pid", pid, "--name", "鉴赏页面"}).isEmpty() && gone.elapsed() < 5000)
        QTest::qWait(20);
    QVERIFY2(!xdotool({"search", "--all", "--onlyvisible", "--pid", pid, "--name", "Bramoth"}).isEmpty(),
             "the viewer stayed until the main window had faded out");
    QVERIFY2(program.waitForFinished(20000), "the program did not end with its windows");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(!errors.contains("Release of profile requested"), qPrintable(errors));
    QVERIFY2(!errors.contains("run-time error"), qPrintable(errors));

    QStringList written;
    QDirIterator it(home.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        written << it.next();
    QVERIFY2(written.isEmpty(), qPrintable(written.join('\n')));
}

QTEST_GUILESS_MAIN(TestProgramX11)
#include "tst_program_x11.moc"

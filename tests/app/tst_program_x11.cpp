#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The program as a user starts it: its own process, a real display.
class TestProgramX11 : public QObject
{
    Q_OBJECT
private slots:
    void writesNothingAndEndsWithItsWindow();
};

static QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(15000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void TestProgramX11::writesNothingAndEndsWithItsWindow()
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
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(binary, {});
    QVERIFY(program.waitForStarted());

    const QString id = xdotool({"search", "--sync", "--onlyvisible", "--pid", QString::number(program.processId()),
                                "--name", "Bramoth"});
    QVERIFY2(!id.isEmpty(), "the main window never appeared");
    QTest::qWait(1500);

    // Close it the way a user does: the window manager's close key.
    xdotool({"windowactivate", "--sync", id.section('\n', 0, 0), "key", "--clearmodifiers", "alt+F4"});
    QVERIFY2(program.waitForFinished(20000), "the program did not end with its window");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    QStringList written;
    QDirIterator it(home.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        written << it.next();
    QVERIFY2(written.isEmpty(), qPrintable(written.join('\n')));
}

QTEST_GUILESS_MAIN(TestProgramX11)
#include "tst_program_x11.moc"

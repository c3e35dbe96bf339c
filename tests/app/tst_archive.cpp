#include "client.h"
#include "options.h"
#include "sitearchive.h"
#include "userproxy.h"
#include "wayback.h"

#include <QProcessEnvironment>
#include <QProcess>
#include <QTest>

// The command line's archive, the addresses it leads to, and the local archive that
// answers them as a public one does.
class TestArchive : public QObject
{
    Q_OBJECT
private slots:
    void options_data();
    void options();
    void archiveName_data();
    void archiveName();
    void proxySettings_data();
    void proxySettings();
    void commandLine_data();
    void commandLine();
    void captures_data();
    void captures();
    void dates();
    void localArchive_data();
    void localArchive();
};

void TestArchive::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("archive");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("error"); // how it begins
    const QString internet = QString::fromLatin1(wayback::DefaultPrefix);
    QTest::newRow("none") << QStringList{} << false << internet << "2010"
                          << "";
    QTest::newRow("archive") << QStringList{"--archive"} << true << internet << "2010"
                             << "";
    QTest::newRow("a local archive, a day")
        << QStringList{"--archive-url=http://127.0.0.1:8640/web", "--archive-date=20110503", "--archive"} << true
        << "http://127.0.0.1:8640/web/"
        << "20110503"
        << "";
    QTest::newRow("Qt's own, with a value")
        << QStringList{"-platform", "xcb", "--archive"} << true << internet << "2010"
        << "";
    QTest::newRow("unknown") << QStringList{"--archiv"} << false << internet << "2010"
                             << "unknown option: --archiv";
    QTest::newRow("a file") << QStringList{"links.txt"} << false << internet << "2010"
                            << "unknown option";
    QTest::newRow("no value") << QStringList{"--archive-url"} << false << internet << "2010"
                              << "unknown option";
    QTest::newRow("ftp archive") << QStringList{"--archive-url=ftp://a.example/web/"} << false << internet << "2010"
                                 << "--archive-url:";
    QTest::newRow("archive with a query")
        << QStringList{"--archive-url=https://a.example/web/?x"} << false << internet << "2010"
        << "--archive-url:";
    QTest::newRow("no such day") << QStringList{"--archive-date=20110230"} << false << internet << "2010"
                                 << "--archive-date:";
    QTest::newRow("odd length") << QStringList{"--archive-date=20115"} << false << internet << "2010"
                                << "--archive-date:";
    QTest::newRow("hour 24") << QStringList{"--archive-date=2011050324"} << false << internet << "2010"
                             << "--archive-date:";
    QTest::newRow("a copy kept") << QStringList{"--archive", "--save-copy=a.wacz"} << true << internet << "2010"
                                 << "";
    QTest::newRow("a copy not named .wacz")
        << QStringList{"--save-copy=a.zip"} << false << internet << "2010" << "--save-copy: the name must end in .wacz";
    QTest::newRow("a copy of a copy")
        << QStringList{"--archive-file=a.wacz", "--save-copy=b.wacz"} << false << internet << "2010" << "--save-copy";
}

void TestArchive::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const app::Options o = app::parseOptions(arguments, QStringLiteral("2010"));
    QVERIFY2(error.isEmpty() ? o.error.isEmpty() : o.error.startsWith(error), qPrintable(o.error));
    QVERIFY(!o.error.contains(u'\n'));
    if (!error.isEmpty())
        return;
    QTEST(o.archive, "archive");
    QTEST(o.archivePrefix.toString(), "prefix");
    QTEST(o.archiveDate, "date");
}

void TestArchive::archiveName_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("taken");
    QTest::newRow("a name of this machine") << "http://localhost:8680/web/" << false;
    QTest::newRow("this machine by address") << "http://127.0.0.1:8640/web/" << true;
    QTest::newRow("a name that does not resolve") << "http://no-such-archive.invalid/web/" << true;
}

// A replay server on this machine is given by its address, never by a name.
void TestArchive::archiveName()
{
    QFETCH(QString, prefix);
    const QString error = app::judgeArchivePrefix(QUrl(prefix), 2000);
    QTEST(error.isEmpty(), "taken");
    QVERIFY(!error.contains(u'\n'));
}

void TestArchive::proxySettings_data()
{
    QTest::addColumn<QString>("source"); // option, env (NAME=value lines), gnome or kde
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("proxy"); // "http host:port", "socks host:port", "none", or "refused"
    const QString https = QStringLiteral("https://web.archive.org/web/"),
                  http = QStringLiteral("http://archive.example/web/");
    QTest::newRow("option http") << "option"
                                 << "http://127.0.0.1:7890" << https << "http 127.0.0.1:7890";
    QTest::newRow("option socks5h") << "option"
                                    << "socks5h://127.0.0.1:1080" << https << "socks 127.0.0.1:1080";
    QTest::newRow("option socks5 is socks5h") << "option"
                                              << "socks5://proxy.example" << https << "socks proxy.example:1080";
    QTest::newRow("option with a password") << "option"
                                            << "http://u:p@127.0.0.1:7890" << https << "refused";
    QTest::newRow("option https proxy") << "option"
                                        << "https://127.0.0.1:7890" << https << "refused";
    QTest::newRow("env https") << "env"
                               << "https_proxy=http://127.0.0.1:7890" << https << "http 127.0.0.1:7890";
    QTest::newRow("env upper HTTPS") << "env"
                                     << "HTTPS_PROXY=socks5h://h:9" << https << "socks h:9";
    QTest::newRow("env http_proxy is not for https") << "env"
                                                     << "http_proxy=http://h:1" << https << "none";
    QTest::newRow("env upper HTTP_PROXY is never read") << "env"
                                                        << "HTTP_PROXY=http://h:1" << http << "none";
    QTest::newRow("env http_proxy for http") << "env"
                                             << "http_proxy=http://h:1" << http << "http h:1";
    QTest::newRow("env all_proxy") << "env"
                                   << "ALL_PROXY=socks5://h:2" << http << "socks h:2";
    QTest::newRow("env no_proxy domain") << "env"
                                         << "all_proxy=http://h:2\nno_proxy=localhost,.archive.org" << https << "none";
    QTest::newRow("env no_proxy star") << "env"
                                       << "all_proxy=http://h:2\nNO_PROXY=*" << http << "none";
    const QString gnome
        = QStringLiteral("org.gnome.system.proxy mode 'manual'\n"
                         "org.gnome.system.proxy ignore-hosts ['localhost', '127.0.0.0/8']\n"
                         "org.gnome.system.proxy.http host 'hp'\norg.gnome.system.proxy.http port 8080\n"
                         "org.gnome.system.proxy.https host ''\norg.gnome.system.proxy.https port 0\n"
                         "org.gnome.system.proxy.socks host 'sp'\norg.gnome.system.proxy.socks port 1081\n");
    QTest::newRow("gnome http") << "gnome" << gnome << http << "http hp:8080";
    QTest::newRow("gnome https falls to socks") << "gnome" << gnome << https << "socks sp:1081";
    QTest::newRow("gnome mode none") << "gnome" << QString(gnome).replace("'manual'", "'none'") << http << "none";
    const QString kde = QStringLiteral("[Proxy Settings]\nProxyType=1\nhttpsProxy=http://kp 3128\n"
                                       "socksProxy=socks://ks:1080\nNoProxyFor=localhost\n");
    QTest::newRow("kde https, old form") << "kde" << kde << https << "http kp:3128";
    QTest::newRow("kde socks") << "kde" << kde << http << "socks ks:1080";
    QTest::newRow("kde off") << "kde" << QString(kde).replace("ProxyType=1", "ProxyType=0") << https << "none";
}

// The user's proxy to the archive, read as other programs read it.
void TestArchive::proxySettings()
{
    QFETCH(QString, source);
    QFETCH(QString, text);
    QFETCH(QString, target);
    std::optional<QNetworkProxy> proxy;
    if (source == QLatin1String("option")) {
        const app::Options o = app::parseOptions({QStringLiteral("--proxy=") + text}, QStringLiteral("2010"));
        QVERIFY(!o.error.contains(u'\n'));
        proxy = o.proxy;
    } else if (source == QLatin1String("env")) {
        QProcessEnvironment env;
        for (const QString &line : text.split(u'\n'))
            env.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
        proxy = userproxy::fromEnvironment(env, QUrl(target));
        if (!proxy)
            proxy = QNetworkProxy(QNetworkProxy::NoProxy);
    } else {
        proxy = source == QLatin1String("gnome") ? userproxy::fromGnome(text, QUrl(target))
                                                 : userproxy::fromKde(text, QUrl(target));
        if (!proxy)
            proxy = QNetworkProxy(QNetworkProxy::NoProxy);
    }
    const QString got = !proxy ? QStringLiteral("refused")
                        : proxy->type() == QNetworkProxy::NoProxy
                            ? QStringLiteral("none")
                            : QStringLiteral("%1 %2:%3")
                                  .arg(proxy->type() == QNetworkProxy::HttpProxy ? "http" : "socks", proxy->hostName())
                                  .arg(proxy->port());
    QTEST(got, "proxy");
}

void TestArchive::commandLine_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says"); // how its output begins (stderr where it failed)
    QTest::newRow("version") << QStringList{} << QStringList{"--version"} << 0 << "photoforKP 1.00\n";
    QTest::newRow("help, zh of any region")
        << QStringList{"LANG=zh_TW.UTF-8"} << QStringList{"--help"} << 0 << QStringLiteral("用法：photoforKP");
    QTest::newRow("the first set counts") << QStringList{"LANGUAGE=", "LC_ALL=en_US.UTF-8", "LANG=zh_CN.UTF-8"}
                                          << QStringList{"--help"} << 0 << "Usage: photoforKP";
    QTest::newRow("LANGUAGE's first choice")
        << QStringList{"LANGUAGE=zh_CN:en", "LC_ALL=C.UTF-8"} << QStringList{"--archiv"} << 2
        << QStringLiteral("photoforKP: 未知选项：--archiv");
    QTest::newRow("LC_MESSAGES before LANG")
        << QStringList{"LC_MESSAGES=zh_CN.UTF-8", "LANG=C.UTF-8"} << QStringList{"--archive-date=2011x"} << 2
        << QStringLiteral("photoforKP: --archive-date：不是");
    QTest::newRow("no locale: English") << QStringList{} << QStringList{"--archiv"} << 2
                                        << "photoforKP: unknown option: --archiv";
    QTest::newRow("an archive named on this machine")
        << QStringList{"http_proxy=", "all_proxy="} << QStringList{"--archive-url=http://localhost:8680/web/"} << 2
        << "photoforKP: --archive-url: localhost leads to this machine";
    QTest::newRow("a proxy with a password, in Chinese")
        << QStringList{"LANG=zh_CN.UTF-8"} << QStringList{"--proxy=http://u:p@127.0.0.1:1"} << 2
        << QStringLiteral("photoforKP: --proxy：不支持需要密码的代理服务器");
    QTest::newRow("not an archive file, in Chinese")
        << QStringList{"LANG=zh_CN.UTF-8"} << QStringList{"--archive-file=" PHOTOFORKP_APP_BUILD_DIR "/photoforKP"} << 2
        << QStringLiteral("photoforKP: 这不是可用的存档文件：");
    QTest::newRow("an archive file that is not there")
        << QStringList{} << QStringList{"--archive-file=/nonexistent/a.wacz"} << 2
        << "photoforKP: not a usable archive file: /nonexistent/a.wacz:";
    QTest::newRow("a copy where nothing can be written")
        << QStringList{} << QStringList{"--save-copy=/proc/a.wacz"} << 2 << "photoforKP: --save-copy: cannot keep";
}

// The program as started from a shell: what it prints and its status, in the language
// the locale names.
void TestArchive::commandLine()
{
    QFETCH(QStringList, environment);
    QFETCH(QStringList, arguments);
    QProcessEnvironment env;
    for (const QString &e : std::as_const(environment))
        env.insert(e.section(u'=', 0, 0), e.section(u'=', 1));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PHOTOFORKP_APP_BUILD_DIR "/photoforKP"), arguments);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QTEST(program.exitCode(), "status");
    const QString out
        = QString::fromUtf8(program.exitCode() ? program.readAllStandardError() : program.readAllStandardOutput());
    QFETCH(QString, says);
    QVERIFY2(out.startsWith(says), qPrintable(out));
    if (program.exitCode() || arguments.contains("--version"))
        QCOMPARE(out.count(u'\n'), 1); // one line
}

void TestArchive::captures_data()
{
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("capture"); // at 2010, under the local prefix; empty: not mapped
    const QString at = QStringLiteral("http://127.0.0.1:8640/web/2010id_/");
    QTest::newRow("a page") << "http://www.ostavel.example/kptemp/card2.html"
                            << at + "http://www.ostavel.example/kptemp/card2.html";
    QTest::newRow("port 80 and case") << "http://WWW.Ostavel.example:80/a?b=1#top"
                                      << at + "http://www.ostavel.example/a?b=1";
    QTest::newRow("another port") << "http://127.0.0.1:8631/" << at + "http://127.0.0.1:8631/";
    QTest::newRow("no path") << "http://a.example" << at + "http://a.example/";
    QTest::newRow("https") << "https://a.example/"
                           << "";
    QTest::newRow("user") << "http://u:p@a.example/"
                          << "";
}

void TestArchive::captures()
{
    QFETCH(QString, asked);
    QFETCH(QString, capture);
    const QUrl prefix(QStringLiteral("http://127.0.0.1:8640/web/"));
    const QUrl url = wayback::captureUrl(prefix, QStringLiteral("2010"), QUrl(asked));
    QCOMPARE(url.toString(QUrl::FullyEncoded), capture);
    if (capture.isEmpty())
        return;
    // Read back, also as archives redirect to it: the exact capture, the scheme's slash lost.
    const QString exact
        = capture.replace(QLatin1String("/2010id_/http://"), QLatin1String("/20100315093000id_/http:/"));
    const std::optional<wayback::Capture> read = wayback::readCaptureUrl(prefix, QUrl(exact));
    QVERIFY(read);
    QCOMPARE(read->timestamp, QStringLiteral("20100315093000"));
    QCOMPARE(read->modifier, QStringLiteral("id_"));
    QCOMPARE(read->original.toString(QUrl::FullyEncoded), wayback::originalOf(QUrl(asked)));
    QVERIFY(!wayback::readCaptureUrl(QUrl(QStringLiteral("http://127.0.0.1:8641/web/")), QUrl(exact)));
}

void TestArchive::dates()
{
    QCOMPARE(wayback::timeOf(QStringLiteral("2011")), QDateTime(QDate(2011, 1, 1), QTime(0, 0), Qt::UTC));
    QCOMPARE(wayback::timeOf(QStringLiteral("20110503081500")), QDateTime(QDate(2011, 5, 3), QTime(8, 15), Qt::UTC));
    QVERIFY(!wayback::timeOf(QStringLiteral("201105031")).isValid());
    const QDateTime memento = wayback::mementoTime("Tue, 03 May 2011 23:15:00 GMT");
    QCOMPARE(memento, QDateTime(QDate(2011, 5, 3), QTime(23, 15), Qt::UTC));
    QCOMPARE(wayback::label(memento), QStringLiteral("存档副本 · 2011年5月3日"));
    QVERIFY(!wayback::mementoTime("yesterday").isValid());
}

void TestArchive::localArchive_data()
{
    QTest::addColumn<QString>("asked"); // under the prefix; $H: the site, $S: its second host
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("location"); // where it leads, under the prefix
    QTest::addColumn<QByteArray>("memento");
    const QString early = "20100315093000id_/", late = "20110503081500id_/";
    QTest::newRow("a year: the nearest") << "2010id_/http://$H/kptemp/card1.html" << 302
                                         << early + "http://$H/kptemp/card1.html" << QByteArray();
    QTest::newRow("a later day") << "20110101id_/http://$H/kptemp/card1.html" << 302
                                 << late + "http://$H/kptemp/card1.html" << QByteArray();
    QTest::newRow("exact") << early + "http://$H/kptemp/card1.html" << 200 << ""
                           << QByteArray("Mon, 15 Mar 2010 09:30:00 GMT");
    QTest::newRow("exact, a slash lost") << late + "http:/$H/kptemp/card1.html" << 200 << ""
                                         << QByteArray("Tue, 03 May 2011 08:15:00 GMT");
    QTest::newRow("no scheme, second host")
        << late + "$S/kpfolder/flash/atlas1.swf" << 200 << "" << QByteArray("Tue, 03 May 2011 08:15:00 GMT");
    QTest::newRow("captured later only") << "1999id_/http://$H/kpfolder/kpphotos/frame.swf" << 302
                                         << late + "http://$H/kpfolder/kpphotos/frame.swf" << QByteArray();
    QTest::newRow("a recorded redirect") << early + "http://$H/kphtml/gift50.html" << 302
                                         << early + "http://$H/kphtml/gift45.html"
                                         << QByteArray("Mon, 15 Mar 2010 09:30:00 GMT");
    QTest::newRow("never captured") << "2010id_/http://$H/kptemp/card10.html" << 404 << "" << QByteArray();
    QTest::newRow("not in the copy") << "2010id_/http://$H/nothing.html" << 404 << "" << QByteArray();
    QTest::newRow("another host") << "2010id_/http://127.0.0.9:1/kptemp/card1.html" << 404 << "" << QByteArray();
    QTest::newRow("https") << "2010id_/https://$H/kptemp/card1.html" << 404 << "" << QByteArray();
    QTest::newRow("no such time") << "2010999id_/http://$H/kptemp/card1.html" << 404 << "" << QByteArray();
    QTest::newRow("out of the copy") << "2010id_/http://$H/../../../etc/passwd" << 404 << "" << QByteArray();
}

void TestArchive::localArchive()
{
    QFETCH(QString, asked);
    QFETCH(int, status);
    QFETCH(QString, location);
    QFETCH(QByteArray, memento);
    // For a site on port 80, as the public site is: both forms of its address.
    SiteArchive archive(SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir(),
                        {QStringLiteral("www.ostavel.example:80"), QStringLiteral("127.0.0.2:8631")});
    QVERIFY2(archive.listen(), qPrintable(archive.errorString()));
    for (const QString &site : {QStringLiteral("www.ostavel.example"), QStringLiteral("www.ostavel.example:80")}) {
        const auto fill = [&](QString s) {
            return s.replace(QLatin1String("$H"), site).replace(QLatin1String("$S"), QLatin1String("127.0.0.2:8631"));
        };
        http::ClientReply::Target target{
            QHostAddress::LocalHost,
            archive.port(),
            false,
            "127.0.0.1",
            {},
            QUrl(archive.prefix() + fill(asked)).toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority)};
        target.hostField = "127.0.0.1:" + QByteArray::number(archive.port());
        std::unique_ptr<http::ClientReply> reply(http::ClientReply::send(target, "GET", {}, {}, nullptr));
        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->status(), status);
        QCOMPARE(reply->header("Memento-Datetime"), memento);
        if (!location.isEmpty())
            QCOMPARE(QString::fromLatin1(reply->header("Location")),
                     archive.prefix() + fill(location).replace(":80/", "/"));
    }
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"

#include "catalogue.h"
#include "errors.h"

#include <QTest>

#include <optional>

using namespace catalogue;

Q_DECLARE_METATYPE(const Catalogue *)

namespace {
const QString Host = QStringLiteral("127.0.0.1:8765");

// What a command's walk leaves in the link field for a key, or nothing.
std::optional<QString> linkFor(const Catalogue &c, const QString &key)
{
    std::optional<QString> result;
    resolve(
        c, Host, [&] { return key; }, [&](const QString &link, const QString &) { result = link; });
    return result;
}
} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void everyKeyResolvesToItsLink_data();
    void everyKeyResolvesToItsLink();
    void missesLeaveNoLink_data();
    void missesLeaveNoLink();
    void defaultsAreRowOne_data();
    void defaultsAreRowOne();
    void viewers();
    void keysKeepTableOrder();
    void linkIsPlainText();
    void failingKeyRead();
};

void TestCatalogue::everyKeyResolvesToItsLink_data()
{
    QTest::addColumn<const Catalogue *>("catalogue");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("path");

    const QStringList stamps
        = {"爱迪鹅日", "饱睡节", "变形日", "成年节", "飞车节",   "感恩日", "光棍节", "假面节",     "降临日", "戒斋日",
           "爱心日",   "玫瑰节", "美酒节", "蜜糖节", "巧克力节", "奇迹日", "淘气节", "心泉之光日", "焰火节", "赞美节"};
    for (int i = 0; i < stamps.size(); ++i)
        QTest::addRow("stamp %d", i + 1) << &festivalStamps() << stamps[i]
                                         << QStringLiteral("/kppostcard/card%1.html").arg(i + 1);
    const QStringList cards
        = {"冰港", "丛林", "公园", "环球", "企鹅岛", "温泉", "心心连", "星星谷", "音乐村", "植物园"};
    for (int i = 0; i < cards.size(); ++i)
        QTest::addRow("postcard %d", i + 1)
            << &postcards() << cards[i] << QStringLiteral("/kptemp/card%1.html").arg(i + 1);
    const QStringList atlasKeys = {"观赏鱼", "咸水鱼", "野生花卉", "石头鉴赏", "淡水鱼"};
    for (int i = 0; i < atlasKeys.size(); ++i)
        QTest::addRow("atlas %d", i + 1) << &atlas() << atlasKeys[i]
                                         << QStringLiteral("/kpfolder/swf/x0%1.html").arg(i + 1);
    for (int level : {6, 8, 10, 12, 14, 16, 18, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 35, 40, 45, 50})
        QTest::addRow("gift %d", level) << &giftLevels() << QString::number(level)
                                        << QStringLiteral("/kphtml/gift%1.html").arg(level);
    QTest::newRow("album 1") << &albums() << QStringLiteral("小小相册")
                             << QStringLiteral("/kpfolder/kpphotos/xiaoxiao/kp_message.swf");
    QTest::newRow("album 2") << &albums() << QStringLiteral("星光相册")
                             << QStringLiteral("/kpfolder/kpphotos/xguan/xg_message.swf");
    QTest::newRow("album 3") << &albums() << QStringLiteral("环岛相册")
                             << QStringLiteral("/kpfolder/kpphotos/huandao/hd_message.swf");
    QTest::newRow("album 4") << &albums() << QStringLiteral("环球相册")
                             << QStringLiteral("/kpfolder/kpphotos/huanqiu/hq_message.swf");
}

void TestCatalogue::everyKeyResolvesToItsLink()
{
    QFETCH(const Catalogue *, catalogue);
    QFETCH(QString, key);
    QFETCH(QString, path);
    QCOMPARE(linkFor(*catalogue, key), QStringLiteral("http://") + Host + path);
}

void TestCatalogue::missesLeaveNoLink_data()
{
    QTest::addColumn<const Catalogue *>("catalogue");
    QTest::addColumn<QString>("key");

    // The gift-level field lets these stand, but none of them equals a key.
    QTest::newRow("level without entry") << &giftLevels() << QStringLiteral("7");
    QTest::newRow("leading zero") << &giftLevels() << QStringLiteral("06");
    QTest::newRow("decimal point") << &giftLevels() << QStringLiteral("6.0");
    QTest::newRow("leading blank") << &giftLevels() << QStringLiteral(" 6");
    QTest::newRow("trailing blank") << &giftLevels() << QStringLiteral("6 ");
    QTest::newRow("trailing letters") << &giftLevels() << QStringLiteral("6abc");
    QTest::newRow("plus sign") << &giftLevels() << QStringLiteral("+6");
    QTest::newRow("full-width digit") << &giftLevels() << QStringLiteral("６");
    QTest::newRow("full-width 50") << &giftLevels() << QStringLiteral("５０");
    QTest::newRow("empty field") << &giftLevels() << QString();
    QTest::newRow("level 1") << &giftLevels() << QStringLiteral("1");
    QTest::newRow("level 49") << &giftLevels() << QStringLiteral("49");
    // Each command consults only its own catalogue.
    QTest::newRow("postcard key in albums") << &albums() << QStringLiteral("环球");
    QTest::newRow("album key in postcards") << &postcards() << QStringLiteral("环球相册");
    QTest::newRow("stamp key in postcards") << &postcards() << QStringLiteral("爱迪鹅日");
    QTest::newRow("prefix of a key") << &festivalStamps() << QStringLiteral("爱迪鹅");
    QTest::newRow("key with trailing blank") << &festivalStamps() << QStringLiteral("爱迪鹅日 ");
    QTest::newRow("key with NUL") << &festivalStamps() << QString(QStringLiteral("爱迪鹅日") + QChar(0));
    QTest::newRow("traditional form") << &postcards() << QStringLiteral("叢林");
}

void TestCatalogue::missesLeaveNoLink()
{
    QFETCH(const Catalogue *, catalogue);
    QFETCH(QString, key);
    QCOMPARE(linkFor(*catalogue, key), std::nullopt);
}

void TestCatalogue::defaultsAreRowOne_data()
{
    QTest::addColumn<const Catalogue *>("catalogue");
    QTest::addColumn<QString>("defaultKey");
    QTest::newRow("stamps") << &festivalStamps() << QStringLiteral("爱迪鹅日");
    QTest::newRow("postcards") << &postcards() << QStringLiteral("冰港");
    QTest::newRow("atlas") << &atlas() << QStringLiteral("观赏鱼");
    QTest::newRow("gift levels") << &giftLevels() << QStringLiteral("6");
    QTest::newRow("albums") << &albums() << QStringLiteral("小小相册");
}

void TestCatalogue::defaultsAreRowOne()
{
    QFETCH(const Catalogue *, catalogue);
    QFETCH(QString, defaultKey);
    QCOMPARE(toQString(catalogue->defaultKey), defaultKey);
    QCOMPARE(keys(*catalogue).value(0), defaultKey);
}

void TestCatalogue::viewers()
{
    QCOMPARE(festivalStamps().viewer, Viewer::Page);
    QCOMPARE(postcards().viewer, Viewer::Page);
    QCOMPARE(atlas().viewer, Viewer::Page); // atlas pages are HTML, not movies
    QCOMPARE(giftLevels().viewer, Viewer::Page);
    QCOMPARE(albums().viewer, Viewer::Album);
}

void TestCatalogue::keysKeepTableOrder()
{
    QCOMPARE(keys(festivalStamps()).size(), 20);
    QCOMPARE(keys(postcards()).size(), 10);
    QCOMPARE(keys(atlas()).size(), 5);
    QCOMPARE(keys(giftLevels()).size(), 22);
    QCOMPARE(keys(albums()).size(), 4);
    QCOMPARE(keys(atlas()), QStringList({"观赏鱼", "咸水鱼", "野生花卉", "石头鉴赏", "淡水鱼"}));
    for (const Catalogue *c : {&festivalStamps(), &postcards(), &atlas(), &giftLevels(), &albums()}) {
        const QStringList k = keys(*c);
        QCOMPARE(QSet<QString>(k.begin(), k.end()).size(), k.size()); // keys are distinct
    }
}

void TestCatalogue::linkIsPlainText()
{
    // Hosts are not checked or encoded, whatever they hold.
    QCOMPARE(link(u"a b\"<x>", "/p q"), QStringLiteral("http://a b\"<x>/p q"));
    QVERIFY(contentHost().size() > 0);
}

// The stamp command's recovery: a key that cannot be read counts as every row's, so each
// row's assignment runs and the last stands. Without recovery the first failure ends it.
void TestCatalogue::failingKeyRead()
{
    QStringList taken;
    const auto key = []() -> QString { forms::raise(forms::err::ObjectRequired, QStringLiteral("no key")); };
    const auto take = [&](const QString &, const QString &k) { taken << k; };
    forms::ResumeNext onError;
    resolve(festivalStamps(), Host, key, take, Steps::under(onError));
    QCOMPARE(taken, keys(festivalStamps()));
    QCOMPARE(onError.error(), forms::err::ObjectRequired);
    taken.clear();
    QVERIFY_THROWS_EXCEPTION(forms::RuntimeError, resolve(festivalStamps(), Host, key, take));
    QVERIFY(taken.isEmpty());
}

QTEST_APPLESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"

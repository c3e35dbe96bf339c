#include "catalogue.h"

namespace catalogue {

namespace {

constexpr Entry kStamps[] = {
    {u"爱迪鹅日", "/kppostcard/card1.html"},  {u"饱睡节", "/kppostcard/card2.html"},
    {u"变形日", "/kppostcard/card3.html"},    {u"成年节", "/kppostcard/card4.html"},
    {u"飞车节", "/kppostcard/card5.html"},    {u"感恩日", "/kppostcard/card6.html"},
    {u"光棍节", "/kppostcard/card7.html"},    {u"假面节", "/kppostcard/card8.html"},
    {u"降临日", "/kppostcard/card9.html"},    {u"戒斋日", "/kppostcard/card10.html"},
    {u"爱心日", "/kppostcard/card11.html"},   {u"玫瑰节", "/kppostcard/card12.html"},
    {u"美酒节", "/kppostcard/card13.html"},   {u"蜜糖节", "/kppostcard/card14.html"},
    {u"巧克力节", "/kppostcard/card15.html"}, {u"奇迹日", "/kppostcard/card16.html"},
    {u"淘气节", "/kppostcard/card17.html"},   {u"心泉之光日", "/kppostcard/card18.html"},
    {u"焰火节", "/kppostcard/card19.html"},   {u"赞美节", "/kppostcard/card20.html"},
};

constexpr Entry kPostcards[] = {
    {u"冰港", "/kptemp/card1.html"},    {u"丛林", "/kptemp/card2.html"},   {u"公园", "/kptemp/card3.html"},
    {u"环球", "/kptemp/card4.html"},    {u"企鹅岛", "/kptemp/card5.html"}, {u"温泉", "/kptemp/card6.html"},
    {u"心心连", "/kptemp/card7.html"},  {u"星星谷", "/kptemp/card8.html"}, {u"音乐村", "/kptemp/card9.html"},
    {u"植物园", "/kptemp/card10.html"},
};

constexpr Entry kAtlas[] = {
    {u"观赏鱼", "/kpfolder/swf/x01.html"},   {u"咸水鱼", "/kpfolder/swf/x02.html"},
    {u"野生花卉", "/kpfolder/swf/x03.html"}, {u"石头鉴赏", "/kpfolder/swf/x04.html"},
    {u"淡水鱼", "/kpfolder/swf/x05.html"},
};

constexpr Entry kGiftLevels[] = {
    {u"6", "/kphtml/gift6.html"},   {u"8", "/kphtml/gift8.html"},   {u"10", "/kphtml/gift10.html"},
    {u"12", "/kphtml/gift12.html"}, {u"14", "/kphtml/gift14.html"}, {u"16", "/kphtml/gift16.html"},
    {u"18", "/kphtml/gift18.html"}, {u"20", "/kphtml/gift20.html"}, {u"21", "/kphtml/gift21.html"},
    {u"22", "/kphtml/gift22.html"}, {u"23", "/kphtml/gift23.html"}, {u"24", "/kphtml/gift24.html"},
    {u"25", "/kphtml/gift25.html"}, {u"26", "/kphtml/gift26.html"}, {u"27", "/kphtml/gift27.html"},
    {u"28", "/kphtml/gift28.html"}, {u"29", "/kphtml/gift29.html"}, {u"30", "/kphtml/gift30.html"},
    {u"35", "/kphtml/gift35.html"}, {u"40", "/kphtml/gift40.html"}, {u"45", "/kphtml/gift45.html"},
    {u"50", "/kphtml/gift50.html"},
};

constexpr Entry kAlbums[] = {
    {u"小小相册", "/kpfolder/kpphotos/xiaoxiao/kp_message.swf"},
    {u"星光相册", "/kpfolder/kpphotos/xguan/xg_message.swf"},
    {u"环岛相册", "/kpfolder/kpphotos/huandao/hd_message.swf"},
    {u"环球相册", "/kpfolder/kpphotos/huanqiu/hq_message.swf"},
};

constexpr Catalogue kStampCatalogue{kStamps, u"爱迪鹅日", Viewer::Page};
constexpr Catalogue kPostcardCatalogue{kPostcards, u"冰港", Viewer::Page};
constexpr Catalogue kAtlasCatalogue{kAtlas, u"观赏鱼", Viewer::Page};
constexpr Catalogue kGiftCatalogue{kGiftLevels, u"6", Viewer::Page};
constexpr Catalogue kAlbumCatalogue{kAlbums, u"小小相册", Viewer::Album};

} // namespace

const Catalogue &festivalStamps()
{
    return kStampCatalogue;
}
const Catalogue &postcards()
{
    return kPostcardCatalogue;
}
const Catalogue &atlas()
{
    return kAtlasCatalogue;
}
const Catalogue &giftLevels()
{
    return kGiftCatalogue;
}
const Catalogue &albums()
{
    return kAlbumCatalogue;
}

QString link(QStringView host, std::string_view path)
{
    return QStringLiteral("http://") + host.toString() + QString::fromLatin1(path.data(), qsizetype(path.size()));
}

void resolve(const Catalogue &c, QStringView host, const std::function<QString()> &key,
             const std::function<void(const QString &link, const QString &key)> &take, const Steps &steps)
{
    for (const Entry &e : c.entries) {
        const QString rowKey = toQString(e.key);
        if (steps.test([&] { return key() == rowKey; }))
            steps.run([&] { take(link(host, e.path), rowKey); });
    }
}

QStringList keys(const Catalogue &c)
{
    QStringList list;
    list.reserve(qsizetype(c.entries.size()));
    for (const Entry &e : c.entries)
        list << toQString(e.key);
    return list;
}

QString contentHost()
{
    return QStringLiteral(PHOTOFORKP_CONTENT_HOST);
}

} // namespace catalogue

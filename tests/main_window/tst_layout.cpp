#include "frmAbout.h"
#include "frmtest.h"
#include "runtime.h"
#include "runtimefixture.h"
#include "viewermodule.h"

#include <QAccessible>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace forms;

class TestLayout : public QObject, protected RuntimeFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void controls_data();
    void controls();
    void tabOrder();
    void tabPassesThroughHiddenLinkField();
    void lists_data();
    void lists();
    void window();
    void noDefaultButton();
    void captionsSitOnTheFrameLine();
    void screenReadersHearEveryControl_data();
    void screenReadersHearEveryControl();
    void viewersComeFromTheirModule();

private:
    frmtest *form = nullptr;
};

void TestLayout::init()
{
    startRuntime();
    form = &rt->form<frmtest>();
    form->Show();
    QVERIFY(QTest::qWaitForWindowExposed(&form->window()));
}

void TestLayout::cleanup()
{
    stopRuntime();
}

void TestLayout::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text"); // what it says; a list says what is chosen
    const char *const rows[][2] = {
        {"Frame1", "邮票鉴赏"},   {"Combo1", ""},           {"Command1", "邮票鉴赏"},
        {"Text1", "Text1"},       {"Frame2", "明信片鉴赏"}, {"Command2", "明信片鉴赏"},
        {"Combo2", ""},           {"Frame3", "图谱鉴赏"},   {"Combo3", ""},
        {"Command3", "图谱鉴赏"}, {"Frame4", "各级礼包"},   {"Label1", "级"},
        {"Command4", "查  阅"},   {"Text2", "6"},           {"Frame5", "相册鉴赏"},
        {"Command5", "相册鉴赏"}, {"Combo4", ""},           {"Label2", "本软件仅供个人喜好鉴赏之用.感谢您的使用!"},
        {"Label3", "作者: 小满"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromUtf8(row[1]);
}

static QString textOf(QObject *o)
{
    if (auto *f = qobject_cast<Frame *>(o))
        return f->title();
    if (auto *b = qobject_cast<QAbstractButton *>(o))
        return b->text();
    if (auto *t = qobject_cast<TextBox *>(o))
        return t->Text();
    if (auto *l = qobject_cast<QLabel *>(o))
        return l->text();
    return QString();
}

// Where the design puts each control, as properties: whole inside what holds it, clear
// of every other control there, shown, and its text whole in the program's font.
void TestLayout::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    auto *w = qobject_cast<QWidget *>(form->findControl(name));
    QVERIFY(w);
    if (!qobject_cast<QComboBox *>(w))
        QCOMPARE(textOf(w), text);
    if (w == &form->Text1())
        return; // out of sight by design (tabPassesThroughHiddenLinkField)
    QWidget *holder = w->parentWidget();
    QVERIFY(holder == &form->window() || qobject_cast<Frame *>(holder));
    QVERIFY2(holder->rect().contains(w->geometry()), qPrintable(name));
    if (auto *frame = qobject_cast<Frame *>(holder)) // below the frame's caption
        QVERIFY2(w->y() >= frame->fontMetrics().height() / 2, qPrintable(name));
    for (QWidget *other : holder->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (other != w && form->findControl(other->objectName()) && other->isVisibleTo(&form->window()))
            QVERIFY2(!other->geometry().intersects(w->geometry()),
                     qPrintable(name + " overlaps " + other->objectName()));
    QVERIFY(w->isVisibleTo(&form->window()));
    QVERIFY(w->isEnabled());
    // Every text must fit its control in the font the program uses.
    if (auto *l = qobject_cast<QLabel *>(w))
        QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->width(), qPrintable(l->text()));
    if (auto *b = qobject_cast<QPushButton *>(w))
        QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) + 8 <= b->width(), qPrintable(b->text()));
    if (auto *f = qobject_cast<Frame *>(w))
        QVERIFY(f->fontMetrics().horizontalAdvance(f->title()) < f->width());
}

void TestLayout::tabOrder()
{
    const QStringList expected = {"Combo1",   "Command1", "Text1", "Command2", "Combo2", "Combo3",
                                  "Command3", "Command4", "Text2", "Command5", "Combo4"};
    QStringList actual;
    QWidget *w = qobject_cast<QWidget *>(form->findControl("Combo1"));
    for (int i = 0; i < expected.size(); ++i) {
        actual << w->objectName();
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !form->findControl(w->objectName()))
            w = w->nextInFocusChain();
    }
    QCOMPARE(actual, expected);
}

void TestLayout::tabPassesThroughHiddenLinkField()
{
    QApplication::setActiveWindow(&form->window());
    QVERIFY(QTest::qWaitForWindowActive(&form->window()));
    form->Command1().setFocus();
    QCOMPARE(QApplication::focusWidget(), &form->Command1());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), &form->Text1());
    QVERIFY(!form->window().rect().intersects(form->Text1().geometry())); // out of sight
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), &form->Command2());
}

void TestLayout::lists_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("Combo1") << "Combo1"
                            << QStringList{"爱迪鹅日", "饱睡节", "变形日", "成年节",     "飞车节", "感恩日", "光棍节",
                                           "假面节",   "降临日", "戒斋日", "爱心日",     "玫瑰节", "美酒节", "蜜糖节",
                                           "巧克力节", "奇迹日", "淘气节", "心泉之光日", "焰火节", "赞美节"};
    QTest::newRow("Combo2") << "Combo2" << QStringList{"冰港", "丛林",   "公园",   "环球",   "企鹅岛",
                                                       "温泉", "心心连", "星星谷", "音乐村", "植物园"};
    QTest::newRow("Combo3") << "Combo3" << QStringList{"观赏鱼", "咸水鱼", "野生花卉", "石头鉴赏", "淡水鱼"};
    QTest::newRow("Combo4") << "Combo4" << QStringList{"小小相册", "星光相册", "环岛相册", "环球相册"};
}

void TestLayout::lists()
{
    QFETCH(QString, name);
    QFETCH(QStringList, items);
    auto *c = qobject_cast<DropDownList *>(form->findControl(name));
    QVERIFY(c);
    QStringList actual;
    for (int i = 0; i < c->count(); ++i)
        actual << c->itemText(i);
    QCOMPARE(actual, items);
    QVERIFY(!c->isEditable());
}

void TestLayout::window()
{
    QWidget &w = form->window();
    QCOMPARE(w.windowTitle(), QStringLiteral("Bramoth相册图鉴 For Ostavel"));
    QCOMPARE(w.windowTitle().toUtf8().count(' '), 2);
    const Qt::WindowFlags f = w.windowFlags();
    QVERIFY(f & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QCOMPARE(f & Qt::WindowType_Mask, Qt::Window); // a taskbar entry, not a tool window
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.windowIcon().availableSizes().size() >= 3, true);
    QCOMPARE(form->Text1().Text(), QStringLiteral("Text1"));
    QCOMPARE(form->Timer1().Interval(), 10);
    // The offscreen platform draws no frame: outer and client sizes agree there.
    QCOMPARE(form->Height(), frmtest::KeptHeight);
    QCOMPARE(form->Width(), frmtest::KeptWidth);
}

void TestLayout::noDefaultButton()
{
    for (const char *name : {"Command1", "Command2", "Command3", "Command4", "Command5"}) {
        auto *b = qobject_cast<QPushButton *>(form->findControl(name));
        QVERIFY(!b->isDefault());
        QVERIFY(!b->autoDefault());
    }
}

// The module's library stays loaded and owned (a sanitizer run reports it if it leaks);
// a viewer made from it is not loaded until it is shown.
// Each frame's caption breaks its top line in the middle of the text, as the design's
// platform drew frames: measured in the frame's own pixels.
void TestLayout::captionsSitOnTheFrameLine()
{
    for (Frame *frame : {&form->Frame1(), &form->Frame2(), &form->Frame3(), &form->Frame4(), &form->Frame5()}) {
        const QImage image = frame->grab().toImage();
        const QColor background = frame->palette().color(QPalette::Window);
        const auto differs = [&](int x, int y) {
            const QColor c = image.pixelColor(x, y);
            return qAbs(c.lightness() - background.lightness()) > 40;
        };
        // The line: the first row that differs, at the right end, clear of the caption.
        int line = -1;
        for (int y = 0; y < image.height() && line < 0; ++y)
            if (differs(image.width() - 12, y))
                line = y;
        // The caption's ink: the rows that differ where the text stands.
        const int textEnd
            = frame->fontMetrics().averageCharWidth() + frame->fontMetrics().horizontalAdvance(frame->title());
        int top = -1, bottom = -1;
        for (int y = 0; y < frame->fontMetrics().height(); ++y)
            for (int x = frame->fontMetrics().averageCharWidth() + 2; x < textEnd; ++x)
                if (differs(x, y)) {
                    top = top < 0 ? y : top;
                    bottom = y;
                    break;
                }
        QVERIFY2(line >= 0 && top >= 0, qPrintable(frame->objectName()));
        QVERIFY2(qAbs((top + bottom) / 2.0 - line) <= 1.0,
                 qPrintable(QStringLiteral("%1: caption rows %2..%3, line at %4")
                                .arg(frame->objectName())
                                .arg(top)
                                .arg(bottom)
                                .arg(line)));
    }
}

void TestLayout::viewersComeFromTheirModule()
{
    const size_t loaded = rt->Forms().size();
    viewermodule::unload(*rt, catalogue::Viewer::Page); // never made: nothing to do
    viewermodule::load();
    viewermodule::load(); // once is enough
    viewermodule::unload(*rt, catalogue::Viewer::Page);
    viewermodule::unload(*rt, catalogue::Viewer::Album);
    QCOMPARE(rt->Forms().size(), loaded); // nothing made to be unloaded
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"

void TestLayout::screenReadersHearEveryControl_data()
{
    QTest::addColumn<QString>("formName");
    QTest::newRow("main window") << "frmtest";
    QTest::newRow("splash") << "frmAbout";
}

void TestLayout::screenReadersHearEveryControl()
{
    QFETCH(QString, formName);
    Form &f
        = rt->formNamed(formName, formName == QLatin1String("frmAbout")
                                      ? Runtime::FormFactory([](Runtime &r) { return std::make_unique<frmAbout>(r); })
                                      : Runtime::FormFactory());
    f.Load();
    QStringList heard, unnamed;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *parent) {
        for (int i = 0; i < parent->childCount(); ++i) {
            QAccessibleInterface *child = parent->child(i);
            const QString name = child && child->object() ? child->object()->objectName() : QString();
            if (!child || name.isEmpty() || !f.findControl(name))
                continue;
            heard << name;
            if (child->text(QAccessible::Name).trimmed().isEmpty())
                unnamed << name;
            walk(child);
        }
    };
    walk(QAccessible::queryAccessibleInterface(&f.window()));
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(' ')));
    // Every control but the decoration and the timers.
    QStringList expected;
    for (const ControlDesign &c : f.design().controls)
        if (c.kind != ControlKind::Timer && c.kind != ControlKind::Line && c.kind != ControlKind::Shape
            && !(c.kind == ControlKind::Image && c.accessibleName.isEmpty()))
            expected << c.name;
    heard.sort();
    expected.sort();
    QCOMPARE(heard, expected);
}

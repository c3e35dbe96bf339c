#include "frmtest.h"
#include "runtime.h"
#include "runtimefixture.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>

using namespace forms;

// The level field, driven by real key presses, clicks and pastes.
class TestGiftLevel : public QObject, protected RuntimeFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void typingReplacesTheSelectedLevel();
    void pastes_data();
    void pastes();
    void typed_data();
    void typed();
    void deletingTheLastCharacter();
    void invalidTextClearsWithOneNestedRun();
    void arrivingSelectsEverything_data();
    void arrivingSelectsEverything();
    void staysResponsiveForAnyPaste_data();
    void staysResponsiveForAnyPaste();

private:
    void paste(const QString &text);
    frmtest *form = nullptr;
    TextBox *field = nullptr;
};

void TestGiftLevel::init()
{
    startRuntime();
    form = &rt->form<frmtest>();
    form->Show();
    QApplication::setActiveWindow(&form->window());
    QVERIFY(QTest::qWaitForWindowActive(&form->window()));
    field = &form->Text2();
}

void TestGiftLevel::cleanup()
{
    QVERIFY(reported.isEmpty());
    stopRuntime();
}

void TestGiftLevel::paste(const QString &text)
{
    field->setFocus();
    field->selectAll();
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
}

void TestGiftLevel::typingReplacesTheSelectedLevel()
{
    form->Command4().setFocus();
    QTest::keyClick(&form->Command4(), Qt::Key_Tab); // Tab arrives in the field
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), QStringLiteral("6"));
    QTest::keyClick(field, Qt::Key_7);
    QCOMPARE(field->Text(), QStringLiteral("7"));
    QCOMPARE(field->selectedText(), QStringLiteral("7"));
    QTest::keyClick(field, Qt::Key_1);
    QTest::keyClick(field, Qt::Key_2);
    QCOMPARE(field->Text(), QStringLiteral("2")); // not 12: each key replaced the selection
    // A two-digit level: caret to the end first.
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClick(field, Qt::Key_5);
    QCOMPARE(field->Text(), QStringLiteral("25"));
    QCOMPARE(field->selectedText(), QStringLiteral("25"));
}

void TestGiftLevel::pastes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stands");
    QTest::newRow("digits then letters") << "5abc"
                                         << "5abc";
    QTest::newRow("leading blank") << " 6"
                                   << " 6";
    QTest::newRow("two digits") << "35"
                                << "35";
    QTest::newRow("upper bound") << "50"
                                 << "50";
    QTest::newRow("lower bound") << "1"
                                 << "1";
    QTest::newRow("decimal inside") << "7.5"
                                    << "7.5";
    QTest::newRow("letters") << "abc"
                             << "";
    QTest::newRow("zero") << "0"
                          << "";
    QTest::newRow("above") << "51"
                           << "";
    QTest::newRow("below one") << "0.5"
                               << "";
    QTest::newRow("just above") << "50.5"
                                << "";
    QTest::newRow("negative") << "-3"
                              << "";
    QTest::newRow("full-width") << "６"
                                << "";
}

void TestGiftLevel::pastes()
{
    QFETCH(QString, text);
    QFETCH(QString, stands);
    paste(text);
    QCOMPARE(field->Text(), stands);
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), stands); // a level that stands is selected whole
}

void TestGiftLevel::typed_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("result");
    // Typed after moving the caret to the end of the selected "6".
    QTest::newRow("60 is cleared") << "0"
                                   << "";
    QTest::newRow("6. stands, selected, so 5 replaces it") << ".5"
                                                           << "5";
    QTest::newRow("6x stands") << "x"
                               << "6x";
}

void TestGiftLevel::typed()
{
    QFETCH(QString, keys);
    QFETCH(QString, result);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClicks(field, keys);
    QCOMPARE(field->Text(), result);
}

void TestGiftLevel::deletingTheLastCharacter()
{
    field->setFocus();
    QSignalSpy changes(field, &TextBox::Change);
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->Text(), QString());
    QCOMPARE(changes.count(), 1); // writing "" over "" changes nothing: no nested run
    QCOMPARE(QApplication::focusWidget(), field);
}

void TestGiftLevel::invalidTextClearsWithOneNestedRun()
{
    form->Command1().setFocus();
    QSignalSpy changes(field, &TextBox::Change);
    field->SetText(QStringLiteral("abc")); // from code, while another control has the focus
    QCOMPARE(changes.count(), 2); // "abc", then the wipe: one nested run, no more
    QCOMPARE(field->Text(), QString());
    QCOMPARE(QApplication::focusWidget(), field); // the field took the focus
}

void TestGiftLevel::arrivingSelectsEverything_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("tab") << "tab";
    QTest::newRow("backtab") << "backtab";
    QTest::newRow("click") << "click";
    QTest::newRow("code") << "code";
}

void TestGiftLevel::arrivingSelectsEverything()
{
    QFETCH(QString, how);
    field->SetText(QStringLiteral("12"));
    form->Command1().setFocus();
    QCOMPARE(QApplication::focusWidget(), &form->Command1());
    if (how == "tab") {
        form->Command4().setFocus();
        QTest::keyClick(&form->Command4(), Qt::Key_Tab);
    } else if (how == "backtab") {
        form->Command5().setFocus();
        QTest::keyClick(&form->Command5(), Qt::Key_Backtab);
    } else if (how == "click") {
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() - 4, field->height() / 2));
    } else {
        field->SetFocus();
    }
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), QStringLiteral("12"));
    QTest::keyClick(field, Qt::Key_9);
    QCOMPARE(field->Text(), QStringLiteral("9"));
}

void TestGiftLevel::staysResponsiveForAnyPaste_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("stands");
    QTest::newRow("megabyte after a level") << "5" + QString(1 << 20, u'x') << true;
    QTest::newRow("megabyte of digits") << QString(1 << 20, u'9') << false;
    QTest::newRow("megabyte of zeros then 7") << QString(1 << 20, u'0') + "7" << true;
    QTest::newRow("emoji") << QStringLiteral("😀😀") << false;
    QTest::newRow("level then emoji") << QStringLiteral("8😀") << true;
    QTest::newRow("lone surrogate") << QString(QChar(0xD83D)) + "9" << false;
    QTest::newRow("control characters") << QStringLiteral("\u0001\u0002 6") << false;
    QTest::newRow("right to left") << QStringLiteral("مرحبا") << false;
    QTest::newRow("level then right to left") << QStringLiteral("9 مرحبا") << true;
}

void TestGiftLevel::staysResponsiveForAnyPaste()
{
    QFETCH(QString, text);
    QFETCH(bool, stands);
    paste(text);
    if (stands) {
        QVERIFY(!field->Text().isEmpty());
        QCOMPARE(field->SelLength(), int(field->Text().size())); // counted in UTF-16 units
        QCOMPARE(field->SelStart(), 0);
    } else {
        QCOMPARE(field->Text(), QString());
    }
    QCOMPARE(QApplication::focusWidget(), field);
    // Still answering keys afterwards.
    QTest::keyClick(field, Qt::Key_3);
    QCOMPARE(field->Text(), QStringLiteral("3"));
}

QTEST_MAIN(TestGiftLevel)
#include "tst_giftlevel.moc"

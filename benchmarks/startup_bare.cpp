// A bare Qt program (Widgets only) showing the same controls as the main window.
#include "firstframe.h"

#include <QFontDatabase>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (QFontDatabase::hasFamily(QStringLiteral("WenQuanYi Micro Hei"))) {
        QFont font(QStringLiteral("WenQuanYi Micro Hei"));
        font.setPointSize(9);
        QApplication::setFont(font);
    }
    application.installEventFilter(new FirstFrameProbe(&application));

    QWidget window;
    window.setWindowTitle(QStringLiteral("Bramoth相册图鉴 For Ostavel"));
    window.resize(283, 373);
    const char *captions[] = {"邮票鉴赏", "明信片鉴赏", "图谱鉴赏", "各级礼包", "相册鉴赏"};
    const int counts[] = {20, 10, 5, 0, 4};
    for (int i = 0; i < 5; ++i) {
        auto *frame = new QGroupBox(QString::fromUtf8(captions[i]), &window);
        frame->setGeometry(8, 8 + 64 * i, 265, 57);
        if (counts[i] > 0) {
            auto *combo = new QComboBox(frame);
            for (int k = 0; k < counts[i]; ++k)
                combo->addItem(QStringLiteral("条目%1").arg(k));
            combo->setGeometry(16, 24, 137, 20);
        } else {
            (new QLineEdit(QStringLiteral("6"), frame))->setGeometry(16, 23, 105, 18);
            (new QLabel(QStringLiteral("级"), frame))->setGeometry(128, 24, 17, 17);
        }
        (new QPushButton(QString::fromUtf8(captions[i]), frame))->setGeometry(168, 24, 73, 25);
    }
    (new QLineEdit(QStringLiteral("Text1"), &window))->setGeometry(472, 40, 201, 25);
    (new QLabel(QStringLiteral("本软件仅供个人喜好鉴赏之用.感谢您的使用!"), &window))->setGeometry(16, 328, 249, 17);
    (new QLabel(QStringLiteral("作者: 小满"), &window))->setGeometry(192, 352, 65, 17);
    window.show();
    return application.exec();
}

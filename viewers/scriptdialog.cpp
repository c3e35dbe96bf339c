#include "scriptdialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace scriptdialog {

namespace {
// The message wraps at this width, as a message box's does.
constexpr int TextWidth = 420;
} // namespace

QString bounded(const QString &text)
{
    if (text.size() <= MaxChars)
        return text;
    return text.left(MaxChars) + QStringLiteral("…");
}

Dialog make(QWidget *over, Kind kind, const QString &host, const QString &message, const QString &defaultValue,
            bool offerStop)
{
    Dialog d;
    auto *dialog = new QDialog(over, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    d.dialog = dialog;
    dialog->setWindowModality(Qt::NonModal);
    dialog->setWindowTitle(QStringLiteral("%1 显示").arg(host.isEmpty() ? QStringLiteral("此网页") : host));
    auto *layout = new QVBoxLayout(dialog);
    auto *text = new QLabel(bounded(message), dialog);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setMaximumWidth(TextWidth);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(text);
    if (kind == Kind::Prompt) {
        d.answer = new QLineEdit(bounded(defaultValue), dialog);
        d.answer->setMaxLength(MaxChars);
        d.answer->setAccessibleName(QStringLiteral("回答"));
        layout->addWidget(d.answer);
    }
    if (offerStop) {
        d.stop = new QCheckBox(QStringLiteral("禁止此页面再显示对话框"), dialog);
        layout->addWidget(d.stop);
    }
    auto *buttons = new QDialogButtonBox(dialog);
    buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    if (kind != Kind::Alert)
        buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return d;
}

bool wait(QDialog *dialog)
{
    QPointer<QDialog> answered(dialog);
    QEventLoop loop;
    QObject::connect(dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit); // gone with its window
    dialog->show();
    loop.exec();
    return answered && answered->result() == QDialog::Accepted;
}

} // namespace scriptdialog

#pragma once

// A page's script dialog (alert, confirm, prompt), shown over its viewer. Not modal: the
// page waits for its answer, the program does not. What a page may ask, and when it must
// stop, is its page's to decide (viewerpage.h); whether the page is still there to hear
// the answer is its keeper's (pagekeeper.h).

#include <QPointer>
#include <QString>

class QCheckBox;
class QDialog;
class QLineEdit;
class QWidget;

namespace scriptdialog {

enum class Kind { Alert, Confirm, Prompt };

// The longest text a dialog shows or takes: a page may send megabytes.
constexpr int MaxChars = 2000;
// Plain text of a dialog, bounded.
QString bounded(const QString &text);

struct Dialog
{
    QPointer<QDialog> dialog; // owned by the caller
    QPointer<QLineEdit> answer; // a prompt's
    QPointer<QCheckBox> stop; // "no more dialogs from this page", where offered
};

// The dialog, not yet shown: titled after the page's host, with its message and, for a
// prompt, a field with the default answer.
Dialog make(QWidget *over, Kind kind, const QString &host, const QString &message, const QString &defaultValue,
            bool offerStop);

// Shows it and waits, in an event loop of its own, until it closes (or goes with its
// window); whether it was accepted.
bool wait(QDialog *dialog);

} // namespace scriptdialog

#pragma once

#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>

class QDateTime;
class QLabel;
class QPushButton;
class QWidget;

// What stands over a viewer's page area, as siblings of its view in the window (the
// window's own widgets, so that screen readers find the words where the page would be):
// the notice in the page's place, with the offer of the archive's copy below a message,
// and the line that says what is shown is an archived copy.
class ViewerOverlays
{
public:
    enum class Notice { None, Loading, Message };

    // view: what they stand over; openArchived: what the offer does.
    ViewerOverlays(QWidget &view, std::function<void()> openArchived);
    ~ViewerOverlays();
    ViewerOverlays(const ViewerOverlays &) = delete;
    ViewerOverlays &operator=(const ViewerOverlays &) = delete;

    Notice noticeKind() const { return m_noticeKind; }
    // Whether the notice, shown or about to be, is of kind and says text.
    bool says(Notice kind, const QString &text) const;
    QString notice() const;
    QPushButton *archiveOffer() const;
    QString archiveLabel() const;

    // The notice of kind with text (None: none); it leaves the view's own showing to it.
    void showNotice(Notice kind, const QString &text);
    void offerArchive(bool offer);
    // The line for an archived copy captured then (invalid: none is shown).
    void showArchiveLabel(const QDateTime &captured);
    void setArchiveLabelArea(const QRect &area);
    // Where the view stands now.
    void place();

private:
    QWidget &m_view;
    std::function<void()> m_openArchived;
    QPointer<QLabel> m_notice;
    QPointer<QPushButton> m_offer;
    QPointer<QLabel> m_archiveLabel;
    QRect m_archiveLabelArea;
    Notice m_noticeKind = Notice::None;
};

#include "vieweroverlays.h"

#include "controls.h"
#include "loadnotice.h"
#include "wayback.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ViewerOverlays::ViewerOverlays(QWidget &view, std::function<void()> openArchived)
    : m_view(view), m_openArchived(std::move(openArchived))
{ }

ViewerOverlays::~ViewerOverlays()
{
    // The window's children, not the view's: they go with the view.
    delete m_notice.data();
    delete m_archiveLabel.data();
}

bool ViewerOverlays::says(Notice kind, const QString &text) const
{
    return m_notice && m_noticeKind == kind && m_notice->text() == text;
}

QString ViewerOverlays::notice() const
{
    return m_notice && m_notice->isVisible() ? m_notice->text() : QString();
}

QPushButton *ViewerOverlays::archiveOffer() const
{
    return m_offer && m_notice && m_notice->isVisible() && m_offer->isVisible() ? m_offer.data() : nullptr;
}

QString ViewerOverlays::archiveLabel() const
{
    return m_archiveLabel && m_archiveLabel->isVisible() ? m_archiveLabel->accessibleName() : QString();
}

void ViewerOverlays::showNotice(Notice kind, const QString &text)
{
    m_noticeKind = kind;
    if (kind == Notice::None) {
        if (m_notice)
            m_notice->hide();
        return;
    }
    if (!m_notice) {
        m_notice = new QLabel(m_view.parentWidget());
        m_notice->setAlignment(Qt::AlignCenter);
        m_notice->setWordWrap(true);
        m_notice->setMargin(16);
        m_notice->setAutoFillBackground(true);
    }
    QPalette pal = m_notice->palette();
    pal.setColor(QPalette::Window, Qt::white);
    // The word that a page is coming is quieter than a message that it will not.
    pal.setColor(QPalette::WindowText, kind == Notice::Loading ? QColor(0x90, 0x90, 0x90) : QColor(0x55, 0x55, 0x55));
    m_notice->setPalette(pal);
    m_notice->setText(text);
    place();
    m_notice->show();
    m_notice->raise();
}

void ViewerOverlays::offerArchive(bool offer)
{
    if (!offer) {
        if (m_offer)
            m_offer->hide();
        return;
    }
    if (!m_offer) {
        // Below the message, in the window's tab order.
        // One of ours: Enter presses it, as it presses the window's other buttons.
        m_offer = new forms::CommandButton(m_notice);
        m_offer->setText(loadnotice::OpenArchived);
        m_offer->setAccessibleName(loadnotice::OpenArchived);
        auto *layout = new QVBoxLayout(m_notice);
        layout->addStretch(3);
        layout->addWidget(m_offer, 0, Qt::AlignHCenter);
        layout->addStretch(2);
        QObject::connect(m_offer, &QPushButton::clicked, &m_view, [this] { m_openArchived(); });
    }
    m_offer->show();
}

void ViewerOverlays::setArchiveLabelArea(const QRect &area)
{
    m_archiveLabelArea = area;
    place();
}

void ViewerOverlays::showArchiveLabel(const QDateTime &captured)
{
    if (!captured.isValid()) {
        if (m_archiveLabel)
            m_archiveLabel->hide();
        return;
    }
    if (!m_archiveLabel) {
        m_archiveLabel = new QLabel(m_view.parentWidget());
        m_archiveLabel->setMargin(3);
        m_archiveLabel->setWordWrap(true);
        m_archiveLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        QPalette pal = m_archiveLabel->palette();
        pal.setColor(QPalette::Window, QColor(0xff, 0xf8, 0xdc));
        pal.setColor(QPalette::WindowText, QColor(0x55, 0x55, 0x55));
        m_archiveLabel->setPalette(pal);
    }
    m_archiveLabel->setText(wayback::label(captured));
    m_archiveLabel->setAccessibleName(wayback::label(captured));
    place();
    m_archiveLabel->show();
    m_archiveLabel->raise();
}

void ViewerOverlays::place()
{
    // Siblings of the view, over it: the notice in its place, the label at its bottom left.
    const QRect view = m_view.geometry();
    if (m_notice)
        m_notice->setGeometry(view);
    if (!m_archiveLabel)
        return;
    // Beside the close button it stands on the window's own face; over the page it needs
    // a ground of its own.
    m_archiveLabel->setAutoFillBackground(m_archiveLabelArea.isEmpty());
    if (!m_archiveLabelArea.isEmpty()) {
        // Too long for one line there: the date goes on a line of its own.
        const QString line = m_archiveLabel->accessibleName();
        const int room = m_archiveLabelArea.width() - 2 * m_archiveLabel->margin();
        const bool fits = m_archiveLabel->fontMetrics().horizontalAdvance(line) <= room;
        m_archiveLabel->setText(fits ? line : QString(line).replace(QStringLiteral(" · "), QStringLiteral("\n")));
        m_archiveLabel->setGeometry(m_archiveLabelArea);
    } else {
        m_archiveLabel->adjustSize();
        m_archiveLabel->move(view.left(), view.bottom() + 1 - m_archiveLabel->height());
    }
}

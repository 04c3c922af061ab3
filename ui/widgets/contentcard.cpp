#include "ui/widgets/contentcard.h"

#include <QEvent>
#include <QLayout>
#include <QResizeEvent>

ContentCard::ContentCard(QWidget *parent)
    : QFrame(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

bool ContentCard::event(QEvent *event)
{
    if (event->type() == QEvent::LayoutRequest) {
        scheduleHeightUpdate();
    }
    return QFrame::event(event);
}

void ContentCard::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) {
        scheduleHeightUpdate();
    }
}

// Deferred to the next turn of the event loop so that a burst of layout changes settles into a
// single height, and so that the height is not changed from inside the layout's own pass.
void ContentCard::scheduleHeightUpdate()
{
    if (m_heightUpdatePending) {
        return;
    }
    m_heightUpdatePending = true;
    QMetaObject::invokeMethod(this, &ContentCard::updateHeight, Qt::QueuedConnection);
}

void ContentCard::updateHeight()
{
    m_heightUpdatePending = false;
    const QLayout *cardLayout = layout();
    if (cardLayout == nullptr || width() <= 0) {
        return;
    }
    const int height = cardLayout->hasHeightForWidth() ? cardLayout->totalHeightForWidth(width())
                                                       : cardLayout->totalSizeHint().height();
    if (height > 0 && (minimumHeight() != height || maximumHeight() != height)) {
        setFixedHeight(height);
    }
}

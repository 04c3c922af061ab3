#include "ui/widgets/appearancecombo.h"

#include "ui/theme/themepalette.h"
#include "ui/widgets/appearancechoicedelegate.h"
#include "ui/widgets/appearancepopup.h"

#include <QKeyEvent>
#include <QLayout>
#include <QListView>
#include <QScreen>
#include <QVariantAnimation>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int openMs = 180;
constexpr int choiceHeight = 40;
// Rows shown before the list scrolls.
constexpr int visibleChoices = 6;
// The popup's rim above and below the list.
constexpr int rimHeight = 12;
// The height the popup unfolds from.
constexpr int foldedHeight = 12;
constexpr int gapPx = 6;

} // namespace

AppearanceCombo::AppearanceCombo(QWidget *parent)
    : QComboBox(parent)
    , m_popup(new AppearancePopup(this))
    , m_list(new QListView(m_popup))
    , m_delegate(new AppearanceChoiceDelegate(this))
    , m_openAnimation(new QVariantAnimation(this))
{
    m_popup->installEventFilter(this);

    m_list->setObjectName(u"appearanceOptions"_s);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setMouseTracking(true);
    m_list->setUniformItemSizes(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setItemDelegate(m_delegate);
    m_list->installEventFilter(this);
    m_popup->layout()->addWidget(m_list);
    connect(m_list, &QAbstractItemView::clicked, this, &AppearanceCombo::choose);
    connect(m_list, &QAbstractItemView::activated, this, &AppearanceCombo::choose);

    m_openAnimation->setDuration(openMs);
    m_openAnimation->setEasingCurve(QEasingCurve::OutCubic);
    m_openAnimation->setStartValue(0.0);
    m_openAnimation->setEndValue(1.0);
    connect(m_openAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { unfold(value.toDouble()); });
    connect(m_openAnimation, &QAbstractAnimation::finished, this, &AppearanceCombo::finishOpening);
}

void AppearanceCombo::showPopup()
{
    if (count() == 0) {
        return;
    }
    m_openAnimation->stop();
    // Read afresh on every opening, so the popup always matches the theme just chosen.
    const ThemePalette palette = ThemePalette::fromSettings();
    m_popup->setAppearance(palette.light, palette.accent);
    m_delegate->setAppearance(palette.light, palette.accent);

    m_list->setModel(model());
    m_list->setRootIndex(rootModelIndex());
    m_list->setModelColumn(modelColumn());
    m_list->setCurrentIndex(model()->index(currentIndex(), modelColumn(), rootModelIndex()));

    const QRect screen = this->screen()->availableGeometry();
    const int popupWidth = std::min(width(), screen.width());
    const int popupHeight = std::min(count(), visibleChoices) * choiceHeight + rimHeight;
    const QPoint comboTop = mapToGlobal(QPoint(0, 0));
    int y = comboTop.y() + height() + gapPx;
    m_opensUpward = y + popupHeight > screen.y() + screen.height();
    if (m_opensUpward) {
        y = comboTop.y() - gapPx - popupHeight;
    }
    const int x = std::max(screen.left(), std::min(screen.right() + 1 - popupWidth, comboTop.x()));
    y = std::max(screen.top(), y);
    m_list->setVerticalScrollBarPolicy(count() > visibleChoices ? Qt::ScrollBarAsNeeded
                                                                : Qt::ScrollBarAlwaysOff);

    m_targetRect = QRect(x, y, popupWidth, popupHeight);
    unfold(0.0);
    m_popup->show();
    m_list->setFocus(Qt::PopupFocusReason);
    m_openAnimation->start();
}

void AppearanceCombo::hidePopup()
{
    m_openAnimation->stop();
    m_popup->hide();
    QComboBox::hidePopup();
}

bool AppearanceCombo::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            choose(m_list->currentIndex());
            return true;
        case Qt::Key_Escape:
            closePopup();
            return true;
        default:
            break;
        }
    } else if (watched == m_popup && event->type() == QEvent::Hide) {
        // A click outside closes the popup behind the combo's back.
        m_openAnimation->stop();
    }
    return QComboBox::eventFilter(watched, event);
}

// At `progress` 0 the popup is a thin strip at the combo's edge; at 1 it fills the target.
void AppearanceCombo::unfold(double progress)
{
    const int height = qRound(foldedHeight + (m_targetRect.height() - foldedHeight) * progress);
    QRect geometry = m_targetRect;
    geometry.setHeight(height);
    if (m_opensUpward) {
        geometry.moveBottom(m_targetRect.bottom());
    }
    m_popup->setGeometry(geometry);
}

void AppearanceCombo::finishOpening()
{
    m_popup->setGeometry(m_targetRect);
    m_list->scrollTo(m_list->currentIndex());
}

void AppearanceCombo::choose(const QModelIndex &index)
{
    if (!index.isValid()) {
        return;
    }
    setCurrentIndex(index.row());
    closePopup();
}

void AppearanceCombo::closePopup()
{
    hidePopup();
    setFocus(Qt::PopupFocusReason);
}

QWidget *AppearanceCombo::popupWindow() const
{
    return m_popup;
}

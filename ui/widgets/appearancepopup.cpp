#include "ui/widgets/appearancepopup.h"

#include <QPainter>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rimPx = 6;
constexpr qreal cornerRadius = 12.0;

} // namespace

AppearancePopup::AppearancePopup(QWidget *parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setObjectName(u"appearancePopup"_s);
    // The corners outside the rounded panel must show what lies beneath the popup.
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(u"QWidget#appearancePopup { background:transparent; border:0; } "
                  "QListView { background:transparent; border:0; outline:0; padding:0; } "
                  "QListView::item { border:0; padding:0; }"_s);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(rimPx, rimPx, rimPx, rimPx);
    column->setSpacing(0);
    // The combo sizes the popup, down to a thin strip while it unfolds; the list's minimum size
    // must not hold it open.
    column->setSizeConstraint(QLayout::SetNoConstraint);
}

void AppearancePopup::setAppearance(bool light, const QColor &accent)
{
    m_palette = ThemePalette(light, accent);
    update();
}

void AppearancePopup::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_palette.popup);
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
}

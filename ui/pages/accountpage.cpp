#include "ui/pages/accountpage.h"

#include "ui/widgetfactory.h"

#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addLabel;

AccountPage::AccountPage(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(48, 28, 48, 28);
    layout->setSpacing(14);
    addLabel(u"My account"_s, layout, u"title"_s);
    m_email = addLabel(QString(), layout, u"muted"_s);
    m_message = addLabel(QString(), layout, u"error"_s);
    m_message->hide();
    layout->addStretch();
}

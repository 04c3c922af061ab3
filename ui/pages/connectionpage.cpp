#include "ui/pages/connectionpage.h"

#include "ui/widgetfactory.h"
#include "ui/widgets/contentcard.h"

#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addLabel;

ConnectionPage::ConnectionPage(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 28);
    m_card = new ContentCard;
    m_card->setObjectName(u"connectionCard"_s);
    auto *card = new QVBoxLayout(m_card);
    card->setContentsMargins(20, 18, 20, 18);
    m_status = addLabel(u"Not connected"_s, card, u"muted"_s);
    m_error = addLabel(QString(), card, u"error"_s);
    m_error->hide();
    layout->addWidget(m_card);
    layout->addStretch();
}

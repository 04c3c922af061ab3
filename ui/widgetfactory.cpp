#include "ui/widgetfactory.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTextDocument>

using namespace Qt::Literals::StringLiterals;

namespace widgetfactory {

QLabel *addLabel(const QString &text, QLayout *layout, const QString &role)
{
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    if (!role.isEmpty()) {
        label->setObjectName(role);
    }
    layout->addWidget(label);
    return label;
}

QPushButton *addButton(const QString &text, QLayout *layout, QObject *context,
                       std::function<void()> onClick, const QString &role)
{
    return addButton(new QPushButton(text), layout, context, std::move(onClick), role);
}

QPushButton *addButton(QPushButton *button, QLayout *layout, QObject *context,
                       std::function<void()> onClick, const QString &role)
{
    button->setObjectName(role);
    button->setCursor(Qt::PointingHandCursor);
    layout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, context, std::move(onClick));
    return button;
}

QString plainToolTip(const QString &text)
{
    return text.isEmpty() ? QString() : Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

void setMessage(QLabel *label, const QString &text)
{
    if (!label) {
        return;
    }
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

} // namespace widgetfactory

#include "ui/pages/settingspage.h"

#include "settings/settingskeys.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/appearancecombo.h"

#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <functional>
#include <utility>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addLabel;

namespace {

using Choice = std::pair<QString, QString>; // display text, stored value

// A chooser showing the stored value (no item when it matches none) that stores a new choice
// through `store`. Connected after the first selection, so building the page stores nothing.
AppearanceCombo *makeChooser(const QList<Choice> &choices, const QString &stored,
                             const QString &name, QObject *context,
                             std::function<void(const QString &)> store)
{
    auto *chooser = new AppearanceCombo;
    chooser->setAccessibleName(name);
    for (const auto &[text, value] : choices) {
        chooser->addItem(text, value);
    }
    chooser->setCurrentIndex(chooser->findData(stored));
    QObject::connect(chooser, &QComboBox::currentIndexChanged, context,
                     [chooser, store = std::move(store)](int index) {
                         if (index >= 0) {
                             store(chooser->itemData(index).toString());
                         }
                     });
    return chooser;
}

} // namespace

SettingsPage::SettingsPage(QWidget *parent)
    : QWidget(parent)
{
    auto *page = new QHBoxLayout(this);
    page->setContentsMargins(48, 28, 48, 28);
    page->addStretch();
    auto *column = new QWidget;
    column->setMaximumWidth(760);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    addLabel(u"Settings"_s, layout, u"title"_s);

    auto *card = new QFrame;
    card->setObjectName(u"card"_s);
    m_appearanceCard = card;
    auto *cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(20, 18, 20, 18);
    cardLayout->setSpacing(12);
    addLabel(u"Appearance"_s, cardLayout, u"section"_s);
    auto *form = new QFormLayout;
    form->setSpacing(12);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_theme = makeChooser({{u"Dark"_s, u"dark"_s}, {u"Light"_s, u"light"_s}}, settings::theme(),
                          u"Color theme"_s, this, [this](const QString &value) {
                              settings::setTheme(value);
                              emit appearanceChanged();
                          });
    m_accent =
        makeChooser({{u"Mint"_s, u"#87d6c2"_s},
                     {u"Blue"_s, u"#7aaeff"_s},
                     {u"Violet"_s, u"#b49aff"_s},
                     {u"Rose"_s, u"#ff91ad"_s},
                     {u"Orange"_s, u"#ffb36b"_s}},
                    settings::accent(), u"Accent color"_s, this, [this](const QString &value) {
                        settings::setAccent(value);
                        emit appearanceChanged();
                    });
    for (const auto &[text, chooser] :
         {std::pair{u"Color theme"_s, m_theme}, std::pair{u"Accent color"_s, m_accent}}) {
        // As tall as its chooser, so the text sits on the chooser's middle.
        auto *label = new QLabel(text);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setMinimumHeight(chooser->sizeHint().height());
        label->setBuddy(chooser);
        form->addRow(label, chooser);
    }
    cardLayout->addLayout(form);
    addLabel(u"Your appearance choices are saved on this device."_s, cardLayout, u"muted"_s);
    layout->addWidget(card);

    m_message = addLabel(QString(), layout, u"error"_s);
    m_message->hide();
    layout->addStretch();
    // The column takes the width first, up to its maximum; the stretches share what is left.
    page->addWidget(column, 1);
    page->addStretch();
}

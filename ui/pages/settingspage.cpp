#include "ui/pages/settingspage.h"

#include "platform/autostart.h"
#include "settings/settingskeys.h"
#include "ui/theme/themepalette.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/appearancecombo.h"
#include "ui/widgets/toggleswitch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include <tuple>
#include <utility>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addLabel;
using widgetfactory::setMessage;

namespace {

using Choice = std::pair<QString, QString>; // display text, stored value

constexpr int rowHeight = 32;

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

// A card like every card of the page, holding its title; the caller adds the rest to the layout.
std::pair<QFrame *, QVBoxLayout *> makeCard(const QString &title)
{
    auto *card = new QFrame;
    card->setObjectName(u"card"_s);
    auto *cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(20, 18, 20, 18);
    cardLayout->setSpacing(12);
    addLabel(title, cardLayout, u"section"_s);
    return {card, cardLayout};
}

} // namespace

SettingsPage::SettingsPage(QWidget *parent, StartAtLogin startAtLogin)
    : QWidget(parent)
    , m_startAtLoginSystem(std::move(startAtLogin))
{
    if (!m_startAtLoginSystem.isRegistered) {
        m_startAtLoginSystem.isRegistered = &platform::isStartAtLoginRegistered;
    }
    if (!m_startAtLoginSystem.registerProgram) {
        m_startAtLoginSystem.registerProgram = &platform::registerStartAtLogin;
    }
    if (!m_startAtLoginSystem.unregisterProgram) {
        m_startAtLoginSystem.unregisterProgram = &platform::unregisterStartAtLogin;
    }

    auto *page = new QHBoxLayout(this);
    page->setContentsMargins(48, 28, 48, 28);
    page->addStretch();
    auto *column = new QWidget;
    column->setMaximumWidth(760);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    addLabel(u"Settings"_s, layout, u"title"_s);

    QVBoxLayout *cardLayout = nullptr;
    std::tie(m_appearanceCard, cardLayout) = makeCard(u"Appearance"_s);
    auto *form = new QFormLayout;
    form->setSpacing(12);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_theme = makeChooser({{u"Dark"_s, u"dark"_s}, {u"Light"_s, u"light"_s}}, settings::theme(),
                          u"Color theme"_s, this, [this](const QString &value) {
                              settings::setTheme(value);
                              emit appearanceChanged();
                          });
    m_accent = makeChooser(ThemePalette::accentChoices(), settings::accent(), u"Accent color"_s,
                           this, [this](const QString &value) {
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
    layout->addWidget(m_appearanceCard);

    buildConnectionCard();
    layout->addWidget(m_connectionCard);
    layout->addWidget(buildSupportCard());

    m_message = addLabel(QString(), layout, u"error"_s);
    m_message->hide();
    layout->addStretch();
    // The column takes the width first, up to its maximum; the stretches share what is left.
    page->addWidget(column, 1);
    page->addStretch();

    recolourSwitches();
    connect(this, &SettingsPage::appearanceChanged, this, &SettingsPage::recolourSwitches);
}

void SettingsPage::buildConnectionCard()
{
    QVBoxLayout *cardLayout = nullptr;
    std::tie(m_connectionCard, cardLayout) = makeCard(u"Connection"_s);
    m_connectOnStart =
        addSwitchRow(u"Connect when Solvik VPN starts"_s, settings::connectOnStart(), cardLayout);
    m_reconnect =
        addSwitchRow(u"Reconnect automatically"_s, settings::reconnectAutomatically(), cardLayout);
    m_blockIfDropped =
        addSwitchRow(u"Block internet if the VPN drops"_s, settings::blockIfVpnDrops(), cardLayout);
    m_allowLocalNetwork = addSwitchRow(u"Allow local network access while blocked"_s,
                                       settings::allowLocalNetwork(), cardLayout);
    m_allowLocalNetwork->setEnabled(m_blockIfDropped->isChecked());
    m_startAtLogin = addSwitchRow(u"Start Solvik VPN when I sign in"_s, false, cardLayout);
    m_notifications =
        addSwitchRow(u"Show notifications"_s, settings::showNotifications(), cardLayout);
    showStartAtLoginRegistration();
    // Connected after the stored values are shown, so building the page stores nothing.
    connect(m_connectOnStart, &QAbstractButton::toggled, this, &settings::setConnectOnStart);
    connect(m_reconnect, &QAbstractButton::toggled, this, &settings::setReconnectAutomatically);
    connect(m_blockIfDropped, &QAbstractButton::toggled, this, [this](bool block) {
        settings::setBlockIfVpnDrops(block);
        m_allowLocalNetwork->setEnabled(block);
    });
    connect(m_allowLocalNetwork, &QAbstractButton::toggled, this, &settings::setAllowLocalNetwork);
    connect(m_notifications, &QAbstractButton::toggled, this, &settings::setShowNotifications);
    // Only the user's clicks change the registration; showing it sets the switch, too.
    connect(m_startAtLogin, &QAbstractButton::clicked, this, &SettingsPage::changeStartAtLogin);
    // Without a tray, closing the window quits, and the note would be wrong.
    QLabel *note =
        addLabel(u"Solvik VPN keeps running in the system tray when you close the window."_s,
                 cardLayout, u"muted"_s);
    note->setVisible(QSystemTrayIcon::isSystemTrayAvailable());
}

// One row without a title, so that the page still fits the window when the Connection card shows
// its note about the tray.
QFrame *SettingsPage::buildSupportCard()
{
    auto *card = new QFrame;
    card->setObjectName(u"card"_s);
    auto *row = new QHBoxLayout(card);
    row->setContentsMargins(20, 18, 20, 18);
    row->setSpacing(12);
    addLabel(u"Problems? Save a report for support. It holds no password, token or profile."_s, row,
             QString());
    row->setStretch(0, 1);
    m_problemReport = new QPushButton(u"Save problem report\u2026"_s);
    m_problemReport->setCursor(Qt::PointingHandCursor);
    row->addWidget(m_problemReport, 0, Qt::AlignRight | Qt::AlignVCenter);
    m_chooseReportPath = [](QWidget *parent) {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return QFileDialog::getSaveFileName(parent, u"Save problem report"_s,
                                            documents + u"/Solvik VPN problem report.txt"_s,
                                            u"Text files (*.txt)"_s);
    };
    connect(m_problemReport, &QPushButton::clicked, this, [this] {
        const QString path = m_chooseReportPath(window());
        if (!path.isEmpty()) {
            emit problemReportRequested(path);
        }
    });
    return card;
}

ToggleSwitch *SettingsPage::addSwitchRow(const QString &text, bool on, QVBoxLayout *layout)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    QLabel *label = addLabel(text, row, QString());
    // Rows about as roomy as the choosers' above.
    label->setMinimumHeight(rowHeight);
    auto *toggle = new ToggleSwitch;
    toggle->setAccessibleName(text);
    toggle->setChecked(on);
    row->addWidget(toggle, 0, Qt::AlignRight | Qt::AlignVCenter);
    // The text is part of the switch, as a check box's text is: clicking it flips the switch.
    label->setBuddy(toggle);
    label->setCursor(Qt::PointingHandCursor);
    label->installEventFilter(this);
    layout->addLayout(row);
    return toggle;
}

void SettingsPage::setSystemChangesAllowed(bool allowed)
{
    m_systemChangesAllowed = allowed;
}

void SettingsPage::showEvent(QShowEvent *event)
{
    // The user may have changed the registration in the system's own settings meanwhile.
    showStartAtLoginRegistration();
    QWidget::showEvent(event);
}

bool SettingsPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto *label = qobject_cast<QLabel *>(watched);
        const auto *mouse = static_cast<QMouseEvent *>(event);
        auto *toggle = label ? qobject_cast<ToggleSwitch *>(label->buddy()) : nullptr;
        if (toggle && mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            toggle->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsPage::recolourSwitches()
{
    const ThemePalette palette = ThemePalette::fromSettings();
    for (ToggleSwitch *toggle : {m_connectOnStart, m_reconnect, m_blockIfDropped,
                                 m_allowLocalNetwork, m_startAtLogin, m_notifications}) {
        toggle->setAppearance(palette.light, palette.accent);
    }
}

void SettingsPage::showStartAtLoginRegistration()
{
    const bool registered = m_startAtLoginSystem.isRegistered();
    if (settings::startAtLogin() != registered) {
        settings::setStartAtLogin(registered);
    }
    m_startAtLogin->setChecked(registered);
}

void SettingsPage::changeStartAtLogin(bool on)
{
    if (!m_systemChangesAllowed) {
        return;
    }
    const bool done =
        on ? m_startAtLoginSystem.registerProgram(
                 QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toStdString())
           : m_startAtLoginSystem.unregisterProgram();
    // Whatever happened, the switch shows what the system now starts.
    showStartAtLoginRegistration();
    const QString failure =
        on ? u"Could not register Solvik VPN to start when you sign in."_s
           : u"Could not remove Solvik VPN from the programs that start when you sign in."_s;
    setMessage(m_message, done ? QString() : failure);
}

#include "ui/theme/stylesheet.h"

#include <QStringView>

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace stylesheet {

namespace {

// Empty for a name the palette does not know.
QString tokenValue(QStringView name, const ThemePalette &palette)
{
    if (name == u"dropdownArrow") {
        return palette.light ? u"dropdown-arrow-light"_s : u"dropdown-arrow"_s;
    }
    const std::pair<QStringView, const QColor &> colours[] = {
        {u"accent", palette.accent},
        {u"accentHover", palette.accentHover},
        {u"strong", palette.strong},
        {u"mix", palette.mix},
        {u"navIndicator", palette.navIndicator},
        {u"onAccent", palette.onAccent},
        {u"background", palette.background},
        {u"rail", palette.rail},
        {u"sidebar", palette.sidebar},
        {u"card", palette.card},
        {u"footer", palette.footer},
        {u"field", palette.field},
        {u"fieldFocus", palette.fieldFocus},
        {u"button", palette.button},
        {u"buttonHover", palette.buttonHover},
        {u"buttonDisabled", palette.buttonDisabled},
        {u"scrollHandle", palette.scrollHandle},
        {u"toolTip", palette.toolTip},
        {u"text", palette.text},
        {u"heading", palette.heading},
        {u"brandText", palette.brandText},
        {u"fieldText", palette.fieldText},
        {u"figureText", palette.figureText},
        {u"planText", palette.planText},
        {u"buttonText", palette.buttonText},
        {u"buttonDisabledText", palette.buttonDisabledText},
        {u"secondaryText", palette.secondaryText},
        {u"mutedText", palette.mutedText},
        {u"microText", palette.microText},
        {u"toolTipText", palette.toolTipText},
        {u"danger", palette.danger},
        {u"mutedIcon", palette.mutedIcon},
    };
    for (const auto &[token, colour] : colours) {
        if (token == name) {
            return colour.name();
        }
    }
    return {};
}

} // namespace

QString tokenTemplate()
{
    return uR"(
QWidget { font-size: 14px; color: @text; }
QMainWindow, QWidget#shell, QDialog { background: @background; }
QFrame#rail { background: @rail; border: 0; }
QFrame#navIndicator { background: @navIndicator; border: 0; border-radius: 12px; }
QWidget#sidebar { background: @sidebar; border: 0; }
QLabel#logo { background: @mix; border-radius: 14px; }
QLabel#brand { font-size: 16px; font-weight: 700; letter-spacing: 2px; color: @brandText; }
QLabel#title { font-size: 26px; font-weight: 600; color: @heading; }
QLabel#section { font-size: 20px; font-weight: 600; color: @heading; }
QLabel#muted { color: @mutedText; font-size: 13px; }
QLabel#micro { color: @microText; font-size: 12px; }
QLabel#time { font-size: 27px; font-weight: 600; color: @figureText; }
QLabel#planTime { font-size: 17px; font-weight: 500; color: @planText; }
QLabel#pill { color: @strong; font-size: 13px; font-weight: 600; }
QFrame#card, QFrame#connectionCard, QFrame#accountFooter, QFrame#subscriptionCard, QFrame#deviceRow {
    background: @card; border: 0; border-radius: 14px; }
QFrame#accountFooter { background: @footer; }
QFrame#planPanel { background: transparent; border: 0; }
QLineEdit { background: @field; border: 0; border-radius: 12px; padding: 14px 12px; color: @fieldText;
    selection-background-color: @accent; lineedit-password-character: 9679; }
QLineEdit:focus { background: @fieldFocus; }
QFrame#searchField { background: @field; border: 0; border-radius: 9px; }
QLineEdit#serverSearch, QLineEdit#serverSearch:focus { background: transparent; border: 0;
    padding: 0; font-size: 14px; }
QPushButton { background: @button; border: 0; border-radius: 8px; padding: 12px 16px; color: @buttonText;
    font-weight: 600; }
QPushButton:hover { background: @buttonHover; }
QPushButton#primary { background: @accent; color: @onAccent; border: 0; padding: 10px 20px; }
QPushButton#primary:hover { background: @accentHover; }
QPushButton#quick, QPushButton#quick:hover, QPushButton#quick:pressed { background: @field; border: 0;
    color: @secondaryText; padding: 16px; }
QPushButton#link { background: transparent; border: 0; padding: 7px; color: @mutedIcon; font-weight: 400; }
QPushButton#link:hover { color: @strong; }
QPushButton#railButton, QPushButton#railButton:hover, QPushButton#railButton:pressed,
QPushButton#railButton:checked { outline: 0; border: 0; background: transparent; padding: 0; }
QPushButton#railButton:focus { outline: 0; }
QPushButton#iconButton { background: transparent; border: 0; padding: 0; }
QPushButton#iconButton:hover { background: @buttonHover; }
QPushButton:disabled { background: @buttonDisabled; border: 0; color: @buttonDisabledText; }
QTreeWidget { background: transparent; border: 0; outline: 0; }
QTreeWidget::item, QTreeWidget::item:hover, QTreeWidget::item:selected { background: transparent;
    border: 0; outline: 0; }
QTreeWidget::branch { background: transparent; border: 0; image: none; }
QScrollBar:vertical { background: transparent; width: 5px; margin: 0; }
QScrollBar::handle:vertical { background: @scrollHandle; min-height: 40px; border-radius: 2px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QToolTip { color: @toolTipText; background: @toolTip; border: 0; padding: 8px; }
QLabel#error { color: @danger; font-size: 13px; }
QComboBox { combobox-popup: 0; background: @field; border: 0; border-radius: 9px; padding: 10px 12px;
    color: @fieldText; min-height: 20px; }
QComboBox:hover { background: @fieldFocus; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: right center; width: 32px;
    border: 0; }
QComboBox::down-arrow { image: url(:/icons/@dropdownArrow.svg); width: 14px; height: 14px; }
QComboBox QAbstractItemView { background: @card; color: @fieldText; border: 0; outline: 0; padding: 5px;
    selection-background-color: @mix; }
QComboBox QAbstractItemView::item { min-height: 24px; padding: 7px 10px; border-radius: 6px; }
QComboBox QAbstractItemView::item:hover, QComboBox QAbstractItemView::item:selected {
    background: @mix; border-radius: 6px; }
)"_s;
}

QString themed(const QString &tokenTemplate, const ThemePalette &palette)
{
    const QStringView text(tokenTemplate);
    QString result;
    result.reserve(text.size());
    qsizetype done = 0;
    for (qsizetype at = text.indexOf(u'@'); at >= 0; at = text.indexOf(u'@', done)) {
        qsizetype end = at + 1;
        while (end < text.size() && text.at(end).isLetter()) {
            ++end;
        }
        result += text.sliced(done, at - done);
        const QString value = tokenValue(text.sliced(at + 1, end - at - 1), palette);
        // An unknown token stays in the text, where it shows.
        result += value.isEmpty() ? text.sliced(at, end - at) : QStringView(value);
        done = end;
    }
    result += text.sliced(done);
    return result;
}

} // namespace stylesheet

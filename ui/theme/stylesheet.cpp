#include "ui/theme/stylesheet.h"

#include <array>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace stylesheet {

namespace {

// Pairs of (template colour, light colour), applied in this order.
constexpr std::array<std::pair<const char *, const char *>, 26> lightColours{{
    {"#12191f", "#f4f6f7"}, {"#1b252c", "#e9edef"}, {"#151c22", "#e9edef"}, {"#1a2229", "#eef1f2"},
    {"#202b32", "#ffffff"}, {"#252f37", "#e6ebed"}, {"#252f35", "#e6ebed"}, {"#27323a", "#e6ebed"},
    {"#2c3841", "#dce3e5"}, {"#334149", "#dce3e5"}, {"#2c3448", "#e2e7e9"}, {"#414a64", "#c3cdd0"},
    {"#69758e", "#849196"}, {"#d8e2e3", "#263239"}, {"#edf0f8", "#263239"}, {"#eff3f1", "#263239"},
    {"#eef0fa", "#263239"}, {"#d9eee7", "#263239"}, {"#e1ebe8", "#263239"}, {"#91a2a6", "#65747a"},
    {"#9aacae", "#65747a"}, {"#9aabad", "#65747a"}, {"#8d9ab4", "#65747a"}, {"#a2b0b4", "#65747a"},
    {"#d4ddec", "#263239"}, {"#c5ced3", "#35434a"},
}};

} // namespace

QString darkTemplate()
{
    return uR"(
QWidget { font-size: 14px; color: #d8e2e3; }
QMainWindow, QWidget#shell, QDialog { background: #12191f; }
QFrame#rail { background: #151c22; border: 0; }
QFrame#navIndicator { background: #2c403c; border: 0; border-radius: 12px; }
QWidget#sidebar { background: #1a2229; border: 0; }
QLabel#logo { background: #2a3939; border-radius: 14px; }
QLabel#brand { font-size: 16px; font-weight: 700; letter-spacing: 2px; color: #eef0fa; }
QLabel#title { font-size: 26px; font-weight: 600; color: #eff3f1; }
QLabel#section { font-size: 20px; font-weight: 600; color: #eff3f1; }
QLabel#muted { color: #a2b0b4; font-size: 13px; }
QLabel#micro { color: #91a2a6; font-size: 12px; }
QLabel#time { font-size: 27px; font-weight: 600; color: #d9eee7; }
QLabel#planTime { font-size: 17px; font-weight: 500; color: #e1ebe8; }
QLabel#pill { color: #6cddbd; font-size: 13px; font-weight: 600; }
QFrame#card, QFrame#connectionCard, QFrame#accountFooter, QFrame#subscriptionCard, QFrame#deviceRow {
    background: #202b32; border: 0; border-radius: 14px; }
QFrame#accountFooter { background: #1b252c; }
QFrame#planPanel { background: transparent; border: 0; }
QLineEdit { background: #252f37; border: 0; border-radius: 12px; padding: 14px 12px; color: #edf0f8;
    selection-background-color: #4e9584; lineedit-password-character: 9679; }
QLineEdit:focus { background: #2c3841; }
QFrame#searchField { background: #252f37; border: 0; border-radius: 9px; }
QLineEdit#serverSearch, QLineEdit#serverSearch:focus { background: transparent; border: 0;
    padding: 0; font-size: 14px; }
QPushButton { background: #27323a; border: 0; border-radius: 8px; padding: 12px 16px; color: #d4ddec;
    font-weight: 600; }
QPushButton:hover { background: #334149; }
QPushButton#primary { background: #87d6c2; color: #112b26; border: 0; padding: 10px 20px; }
QPushButton#primary:hover { background: #a2e5d3; }
QPushButton#quick, QPushButton#quick:hover, QPushButton#quick:pressed { background: #252f37; border: 0;
    color: #c5ced3; padding: 16px; }
QPushButton#link { background: transparent; border: 0; padding: 7px; color: #9aacae; font-weight: 400; }
QPushButton#link:hover { color: #c4ede2; }
QPushButton#railButton, QPushButton#railButton:hover, QPushButton#railButton:pressed,
QPushButton#railButton:checked { outline: 0; border: 0; background: transparent; padding: 0; }
QPushButton#railButton:focus { outline: 0; }
QPushButton#iconButton { background: transparent; border: 0; padding: 0; }
QPushButton#iconButton:hover { background: #334149; }
QPushButton:disabled { background: #2c3448; border: 0; color: #69758e; }
QTreeWidget { background: transparent; border: 0; outline: 0; }
QTreeWidget::item, QTreeWidget::item:hover, QTreeWidget::item:selected { background: transparent;
    border: 0; outline: 0; }
QTreeWidget::branch { background: transparent; border: 0; image: none; }
QScrollBar:vertical { background: transparent; width: 5px; margin: 0; }
QScrollBar::handle:vertical { background: #414a64; min-height: 40px; border-radius: 2px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QToolTip { color: #e6e9f4; background: #25304a; border: 0; padding: 8px; }
QLabel#error { color: #ff8989; font-size: 13px; }
QComboBox { combobox-popup: 0; background: #252f37; border: 0; border-radius: 9px; padding: 10px 12px;
    color: #edf0f8; min-height: 20px; }
QComboBox:hover { background: #2c3841; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: right center; width: 32px;
    border: 0; }
QComboBox::down-arrow { image: url(:/icons/dropdown-arrow.svg); width: 14px; height: 14px; }
QComboBox QAbstractItemView { background: #202b32; color: #edf0f8; border: 0; outline: 0; padding: 5px;
    selection-background-color: #34434a; }
QComboBox QAbstractItemView::item { min-height: 24px; padding: 7px 10px; border-radius: 6px; }
QComboBox QAbstractItemView::item:hover, QComboBox QAbstractItemView::item:selected {
    background: #34434a; border-radius: 6px; }
)"_s;
}

QString themed(const QString &darkTemplate, const ThemePalette &palette)
{
    QString text = darkTemplate;
    if (palette.light) {
        text.replace(u":/icons/dropdown-arrow.svg"_s, u":/icons/dropdown-arrow-light.svg"_s);
    }
    const QColor &accent = palette.accent;
    const std::pair<const char *, QColor> accentColours[] = {
        {"#87d6c2", accent},
        {"#a2e5d3", accent.lighter(112)},
        {"#a8e4d2", accent},
        {"#9cdecd", accent},
        {"#6cddbd", palette.strong},
        {"#b2e8d9", accent.lighter(118)},
        {"#c5e9df", palette.strong},
        {"#c5d6d2", palette.strong},
        {"#c4ede2", palette.strong},
        {"#c3b0ff", palette.strong},
        {"#112b26", accent.darker(240)},
        {"#4e9584", accent},
        {"#2a3939", palette.mix},
        {"#2c413a", palette.mix},
        {"#2c403c", palette.mix},
        {"#30423e", palette.mix},
        {"#2e3b41", palette.mix},
        {"#34434a", palette.mix},
    };
    for (const auto &[colour, replacement] : accentColours) {
        text.replace(QLatin1String(colour), replacement.name());
    }
    if (palette.light) {
        for (const auto &[dark, light] : lightColours) {
            text.replace(QLatin1String(dark), QLatin1String(light));
        }
    }
    return text;
}

} // namespace stylesheet

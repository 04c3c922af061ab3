#pragma once

#include <QString>

#include <functional>

class QLabel;
class QLayout;
class QObject;
class QPushButton;

// The small factories every page builds its widgets with, so that style roles, plain-text labels
// and message labels behave the same everywhere.
namespace widgetfactory {

// A label showing `text` as plain text (much of what labels show comes from the backend and must
// never be read as markup), word-wrapped, styled by `role` (its object name; none when empty),
// added to `layout`.
QLabel *addLabel(const QString &text, QLayout *layout, const QString &role);

// A push button with `text` added to `layout`: object name `role`, pointing-hand cursor; `clicked`
// runs `onClick` while `context` lives.
QPushButton *addButton(const QString &text, QLayout *layout, QObject *context,
                       std::function<void()> onClick, const QString &role);

// The same for a button made elsewhere (a NavButton of the rail, say); returns `button`.
QPushButton *addButton(QPushButton *button, QLayout *layout, QObject *context,
                       std::function<void()> onClick, const QString &role);

// A tool tip that shows `text` as it is: the toolkit would read markup in a text that looks like
// it, and tool tips carry server names and addresses from the backend.
QString plainToolTip(const QString &text);

// Sets the text and shows the label exactly when there is text; nothing for a null label.
void setMessage(QLabel *label, const QString &text);

} // namespace widgetfactory

#pragma once

#include <QComboBox>
#include <QRect>

class AppearanceChoiceDelegate;
class AppearancePopup;
class QListView;
class QModelIndex;
class QVariantAnimation;

// A combo box for the appearance settings. Instead of the platform's list it opens a rounded
// panel, themed from the stored settings each time, that unfolds from the combo's edge and
// opens upwards when there is no room below.
class AppearanceCombo : public QComboBox
{
    Q_OBJECT

public:
    explicit AppearanceCombo(QWidget *parent = nullptr);

    void showPopup() override;
    void hidePopup() override;
    // The panel's own top-level window, for pictures of it while it is open.
    QWidget *popupWindow() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void unfold(double progress);
    void finishOpening();
    void choose(const QModelIndex &index);
    void closePopup();

    AppearancePopup *m_popup;
    QListView *m_list;
    AppearanceChoiceDelegate *m_delegate;
    QVariantAnimation *m_openAnimation;
    QRect m_targetRect;
    bool m_opensUpward = false;
};

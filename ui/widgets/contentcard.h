#pragma once

#include <QFrame>

// A card whose height always hugs its word-wrapped content: the layout alone cannot grow a
// fixed-height widget when narrowing it wraps the text onto more lines.
class ContentCard : public QFrame
{
    Q_OBJECT

public:
    explicit ContentCard(QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void scheduleHeightUpdate();
    void updateHeight();

    bool m_heightUpdatePending = false;
};

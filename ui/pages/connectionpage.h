#pragma once

#include <QWidget>

class ContentCard;
class QLabel;

// Page 1: the connection. For now it holds the connection card's status line and its message
// label, which the window writes while a tunnel is brought up or down.
class ConnectionPage : public QWidget
{
    Q_OBJECT

public:
    explicit ConnectionPage(QWidget *parent = nullptr);

    // The connection card's "error" label: the page's message label.
    QLabel *messageLabel() const { return m_error; }
    QLabel *statusLabel() const { return m_status; }

private:
    ContentCard *m_card = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_error = nullptr;
};

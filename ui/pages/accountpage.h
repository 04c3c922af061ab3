#pragma once

#include <QWidget>

class QLabel;

// Page 2: the account. For now it shows the signed-in address and the page's message label.
class AccountPage : public QWidget
{
    Q_OBJECT

public:
    explicit AccountPage(QWidget *parent = nullptr);

    QLabel *messageLabel() const { return m_message; }
    QLabel *emailLabel() const { return m_email; }

private:
    QLabel *m_email = nullptr;
    QLabel *m_message = nullptr;
};

#pragma once

#include <QString>
#include <QTemporaryDir>

// Points HOME, the XDG directories, Qt's standard paths and the settings store at a fresh temporary
// directory, so a test never reads or writes the real account's settings, keys or data. Create it
// before the first use of QSettings or QStandardPaths.
class TestHome
{
public:
    TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    bool isValid() const { return m_directory.isValid(); }
    QString path() const { return m_directory.path(); }

private:
    QTemporaryDir m_directory;
};

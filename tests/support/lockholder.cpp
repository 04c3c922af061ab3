// Holds a lock file from a separate process, as another window of the client would: locks the
// path given as the only argument, prints "locked", and keeps the lock until standard input ends.
#include <QLockFile>
#include <QString>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    QLockFile lock(QString::fromLocal8Bit(argv[1]));
    if (!lock.tryLock(5000))
        return 1;
    std::puts("locked");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

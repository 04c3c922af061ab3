#include "ui/ratetext.h"

#include <array>

using namespace Qt::Literals::StringLiterals;

QString formatRate(double bytesPerSecond)
{
    static const std::array<QString, 4> units = {u"B/s"_s, u"KB/s"_s, u"MB/s"_s, u"GB/s"_s};
    double value = bytesPerSecond;
    std::size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < units.size()) {
        value /= 1000.0;
        ++unit;
    }
    return u"%1 %2"_s.arg(QString::number(value, 'f', unit == 0 ? 0 : 1), units[unit]);
}

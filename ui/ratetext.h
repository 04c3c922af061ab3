#pragma once

#include <QString>

// A transfer rate as "<number> <unit>": B/s, KB/s, MB/s or GB/s with decimal steps of 1000,
// whole bytes and one decimal for the larger units ("999 B/s", "1.2 KB/s", "2.3 MB/s").
QString formatRate(double bytesPerSecond);

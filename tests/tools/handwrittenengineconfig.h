#pragma once

#include "support/handwrittenengineconfiguration.h"

// The stub's suites use one fixed tunnel and vary only the probe port.
inline QByteArray handwrittenEngineConfiguration(quint16 port)
{
    return handwrittenEngineConfiguration({"203.0.113.7", "443", "www.example.com", "chrome",
                                           "ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM",
                                           "0123ABCD", "d342d11e-d424-4583-b36e-524ab1f0afa4",
                                           QByteArray::number(port)});
}

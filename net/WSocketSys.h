// Private to the socket layer's sources: the error of the last failed system
// call in the numbering every caller sees.
#pragma once

#include <cerrno>

#include "net/WSocket.h"

inline int MapErrno()
{
    return SocketErrorFromErrno(errno);
}

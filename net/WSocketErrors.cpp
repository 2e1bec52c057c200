// Error codes of the socket layer: the Windows Sockets numbering is what
// every caller sees, so platform errno values and resolver results are
// mapped onto it here.
#include "net/WSocket.h"

#include <netdb.h>

#include <cerrno>
#include <cstring>

// errno -> Windows Sockets code.
//
//   EINTR 10004        EBADF 10009          EACCES/EPERM 10013  EFAULT 10014
//   EINVAL 10022       EMFILE/ENFILE 10024  EAGAIN 10035        EINPROGRESS 10036
//   EALREADY 10037     ENOTSOCK 10038       EDESTADDRREQ 10039  EMSGSIZE 10040
//   EPROTOTYPE 10041   ENOPROTOOPT 10042    EPROTONOSUPPORT 10043
//   ESOCKTNOSUPPORT 10044                   EOPNOTSUPP 10045    EPFNOSUPPORT 10046
//   EAFNOSUPPORT 10047 EADDRINUSE 10048     EADDRNOTAVAIL 10049 ENETDOWN 10050
//   ENETUNREACH 10051  ENETRESET 10052      ECONNABORTED 10053  EPIPE 10053
//   ECONNRESET 10054   ENOBUFS/ENOMEM 10055 EISCONN 10056       ENOTCONN 10057
//   ESHUTDOWN 10058    ETOOMANYREFS 10059   ETIMEDOUT 10060     ECONNREFUSED 10061
//   ELOOP 10062        ENAMETOOLONG 10063   EHOSTDOWN 10064     EHOSTUNREACH 10065
//   ENOTEMPTY 10066    EUSERS 10068         EDQUOT 10069        ESTALE 10070
//   EREMOTE 10071
//
// EPIPE is a send on a connection the peer has torn down: "Connection
// aborted", which the send path treats as the end of the connection (a send
// after our own Shutdown is told apart by the socket and reported as 10058).
// Anything else becomes kPlatformErrorBase + errno, described by the
// platform's own text, so no failure is ever reported as "No Error".
int SocketErrorFromErrno(int Errno)
{
    switch (Errno) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EAGAIN: return 10035;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return 10035;
#endif
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED:
    case EPIPE: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return kPlatformErrorBase + Errno;
    }
}

// Resolver results -> codes:
//   EAI_NONAME, EAI_ADDRFAMILY   11001 Host not found
//   EAI_AGAIN                    11002 Non-authoritative host not found (try again)
//   EAI_FAIL                     11003 Non-recoverable error
//   EAI_NODATA                   11004 No Data
//   EAI_MEMORY                   10055
//   EAI_FAMILY                   10047
//   EAI_SOCKTYPE                 10044
//   EAI_SERVICE                  10022
//   EAI_OVERFLOW                 10014
//   EAI_SYSTEM                   errno as above
//   anything else                11003
int SocketErrorFromGai(int GaiResult, int Errno)
{
    switch (GaiResult) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSAHOST_NOT_FOUND;
#endif
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_FAMILY: return 10047;
    case EAI_SOCKTYPE: return 10044;
    case EAI_SERVICE: return WSAEINVAL;
    case EAI_OVERFLOW: return 10014;
    case EAI_SYSTEM: return Errno ? SocketErrorFromErrno(Errno) : WSANO_RECOVERY;
    default: return WSANO_RECOVERY;
    }
}

std::string SocketErrorDesc(int ErrCode)
{
    switch (ErrCode) {
    case 0: return "No Error";
    case 10004: return "Interrupted system call";
    case 10009: return "Bad file number";
    case 10013: return "Permission denied";
    case 10014: return "Bad address";
    case 10022: return "Invalid argument";
    case 10024: return "Too many open files";
    case 10035: return "Operation would block";
    case 10036: return "Operation now in progress";
    case 10037: return "Operation already in progress";
    case 10038: return "Socket operation on non-socket";
    case 10039: return "Destination address required";
    case 10040: return "Message too long";
    case 10041: return "Protocol wrong type for socket";
    case 10042: return "Protocol not available";
    case 10043: return "Protocol not supported";
    case 10044: return "Socket type not supported";
    case 10045: return "Operation not supported on socket";
    case 10046: return "Protocol family not supported";
    case 10047: return "Address family not supported by protocol family";
    case 10048: return "Address already in use";
    case 10049: return "Address not available";
    case 10050: return "Network is down";
    case 10051: return "Network is unreachable";
    case 10052: return "Network dropped connection on reset";
    case 10053: return "Connection aborted";
    case 10054: return "Connection reset by peer";
    case 10055: return "No buffer space available";
    case 10056: return "Socket is already connected";
    case 10057: return "Socket is not connected";
    case 10058: return "Can't send after socket shutdown";
    case 10059: return "Too many references: can't splice";
    case 10060: return "Connection timed out";
    case 10061: return "Connection refused";
    case 10062: return "Too many levels of symbolic links";
    case 10063: return "File name too long";
    case 10064: return "Host is down";
    case 10065: return "No route to host";
    case 10066: return "Directory not empty";
    case 10067: return "Too many processes";
    case 10068: return "Too many users";
    case 10069: return "Disc quota exceeded";
    case 10070: return "Stale NFS file handle";
    case 10071: return "Too many levels of remote in path";
    case 10091: return "Network sub-system is unusable";
    case 10092: return "WinSock DLL cannot support this application";
    case 10093: return "WinSock not initialized";
    case 11001: return "Host not found";
    case 11002: return "Non-authoritative host not found";
    case 11003: return "Non-recoverable error";
    case 11004: return "No Data";
    default: break;
    }
    if (ErrCode > kPlatformErrorBase && ErrCode < kPlatformErrorBase + 4096) {
        char buf[128];
        // GNU strerror_r returns the text (possibly a static string, not buf).
        const char* text = strerror_r(ErrCode - kPlatformErrorBase, buf, sizeof buf);
        return text ? std::string(text) : std::string("Not a WinSock error");
    }
    return "Not a WinSock error";
}
